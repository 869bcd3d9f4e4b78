// The real PlaybackServices: the system clock and sleep, and the playback
// window with its keyboard (falling back to the terminal without a window).
#pragma once
#include "platform/display.hpp"
#include "platform/services.hpp"

namespace drec {

struct WindowServices {
  Display display;
  char title[256];  // the window's title, set before the display opens
};

PlaybackServices windowPlaybackServices(WindowServices& window);

}  // namespace drec
