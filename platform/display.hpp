// The playback window with its OpenGL context, and the keyboard seen through
// it. The only code that includes SDL. Window events are handled only inside
// presentDisplay; keyHeld and nextKey never wait and never process events.
// Without a display (no X server, or the open failed) present does nothing
// and the keyboard falls back to the terminal.
#pragma once
#include "platform/keys.hpp"

namespace drec {

struct DisplayWindow;  // SDL window and GL context, private to display.cpp

struct Display {
  DisplayWindow* window;  // null: no display open
  int width;
  int height;
  bool keyState[kKeyStateCount];
  KeyBuffer keys;
};

// Opens a W x H window titled `title` with the playback OpenGL context made
// current. Fails, opening nothing, when W or H is 0 or less.
bool openDisplay(Display& display, int width, int height, const char* title);
// Swap buffers, refresh the key-state table, then process pending events.
void presentDisplay(Display& display);
bool keyHeld(Display& display, int scanCode);
KeyEntry nextKey(Display& display);
// Deletes the context, destroys the window, restores display mode and screen saver.
void closeDisplay(Display& display);

// Seams for the set-up paths that a working X server never takes.
struct DisplayOpenOptions {
  bool failWindowed = false;  // act as if the windowed set-up had failed
  // A window that is never shown, for drawing and reading the pixels back:
  // no full-screen fallback, the screen saver left alone.
  bool hidden = false;
  // The SDL video driver to use instead of the window system's, e.g.
  // "offscreen" where there is no X server (SDL_VIDEODRIVER still wins).
  const char* videoDriver = nullptr;
};
bool openDisplayWith(Display& display, int width, int height, const char* title,
                     const DisplayOpenOptions& options);
// True while the display shows full screen (the fallback, or after a switch).
bool displayFullScreen(const Display& display);
// The SDL video driver of the open display ("x11", "offscreen", ...); "" when none is open.
const char* displayDriverName(const Display& display);

}  // namespace drec
