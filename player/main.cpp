// drec-player: plays a recording in a window at its recorded pace.
// Usage: drec-player [recording name or template with "%i"]
// Relative names resolve in the program's own directory.
#include <string>

#include "platform/clock.hpp"
#include "platform/console.hpp"
#include "platform/display.hpp"
#include "platform/files.hpp"
#include "platform/program.hpp"
#include "player/playback.hpp"
#include "render/gl_api.hpp"

namespace {

struct Platform {
  drec::Display display;
  char title[256];
};

double realClock(void*) { return drec::clockSeconds(); }
void realSleep(void*, int64_t milliseconds) { drec::sleepMilliseconds(milliseconds); }
void realPresent(void* context) { drec::presentDisplay(static_cast<Platform*>(context)->display); }
bool realKeyHeld(void* context, int scanCode) {
  return drec::keyHeld(static_cast<Platform*>(context)->display, scanCode);
}
drec::KeyEntry realNextKey(void* context) {
  return drec::nextKey(static_cast<Platform*>(context)->display);
}
bool realOpenDisplay(void* context, int width, int height) {
  Platform& platform = *static_cast<Platform*>(context);
  return drec::openDisplay(platform.display, width, height, platform.title);
}
void realConsoleKeyWait(void*) { drec::consoleKeyWait(); }
bool realKeyCanArrive(void* context) {
  return static_cast<Platform*>(context)->display.window != nullptr || drec::consoleHasTerminal();
}

}  // namespace

int main(int argc, char** argv) {
  drec::ignoreBrokenPipes();
  drec::makeProgramDirectoryCurrent();

  std::string recordingName;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) recordingName += ' ';
    recordingName += argv[i];
  }

  Platform platform{};
  drec::programTitle(argc > 0 ? argv[0] : "", platform.title, sizeof platform.title);
  const drec::FileAccess files = drec::realFileAccess();
  const drec::Console console = drec::standardOutputConsole();
  const drec::GlApi gl = drec::realGlApi();
  drec::PlayerSeams seams{};
  seams.files = &files;
  seams.console = &console;
  seams.gl = &gl;
  seams.services = drec::PlaybackServices{&platform, realClock, realSleep, realPresent,
                                          realKeyHeld, realNextKey};
  seams.platform = &platform;
  seams.openDisplay = realOpenDisplay;
  seams.consoleKeyWait = realConsoleKeyWait;
  seams.keyCanArrive = realKeyCanArrive;

  int status = drec::runPlayer(recordingName.c_str(), seams);
  drec::closeDisplay(platform.display);
  return status;
}
