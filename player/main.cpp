// drec-player: plays a recording in a window at its recorded pace.
// Usage: drec-player [recording name or template with "%i"]
// Relative names resolve in the program's own directory.
#include <string>

#include "platform/console.hpp"
#include "platform/files.hpp"
#include "platform/program.hpp"
#include "platform/window_services.hpp"
#include "player/playback.hpp"
#include "render/gl_api.hpp"

int main(int argc, char** argv) {
  drec::ignoreBrokenPipes();
  drec::makeProgramDirectoryCurrent();

  std::string recordingName;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) recordingName += ' ';
    recordingName += argv[i];
  }

  drec::WindowServices window{};
  drec::programTitle(argc > 0 ? argv[0] : "", window.title, sizeof window.title);
  const int status =
      drec::runPlayer(recordingName.c_str(), drec::realFileAccess(), drec::standardOutputConsole(),
                      drec::realGlApi(), drec::windowPlaybackServices(window));
  drec::closeDisplay(window.display);
  return status;
}
