#include "platform/window_services.hpp"

#include "platform/clock.hpp"
#include "platform/console.hpp"

namespace drec {
namespace {

Display& displayOf(void* context) { return static_cast<WindowServices*>(context)->display; }

double systemClock(void*) { return clockSeconds(); }
void systemSleep(void*, int64_t milliseconds) { sleepMilliseconds(milliseconds); }
void windowPresent(void* context) { presentDisplay(displayOf(context)); }
bool windowKeyHeld(void* context, int scanCode) { return keyHeld(displayOf(context), scanCode); }
KeyEntry windowNextKey(void* context) { return nextKey(displayOf(context)); }
bool windowOpen(void* context, int width, int height) {
  WindowServices& window = *static_cast<WindowServices*>(context);
  return openDisplay(window.display, width, height, window.title);
}
void terminalKeyWait(void*) { consoleKeyWait(); }
bool windowKeyCanArrive(void* context) {
  return displayOf(context).window != nullptr || consoleHasTerminal();
}

}  // namespace

PlaybackServices windowPlaybackServices(WindowServices& window) {
  return PlaybackServices{&window,       systemClock,     systemSleep,
                          windowPresent, windowKeyHeld,   windowNextKey,
                          windowOpen,    terminalKeyWait, windowKeyCanArrive};
}

}  // namespace drec
