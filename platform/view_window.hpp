// The window of `drec play`: resizable, titled, switched to full screen on
// the desktop (a borderless desktop-size window, no mode change) and back,
// with the player's OpenGL context (RGBA 8 bits each, 16-bit depth, double
// buffered, compatibility profile), the events a media player needs, and
// the on-screen display's Dear ImGui backends (SDL2 and OpenGL 2), which
// are platform glue and stay here. The recorded picture is not drawn here:
// the viewer draws into a framebuffer of its own and shows it scaled.
#pragma once
#include <cstdint>
#include <string>

#include "render/gl_api.hpp"

namespace drec {

struct ViewWindowState;  // SDL window, GL context and the ImGui backends, private to view_window.cpp

struct ViewWindow {
  ViewWindowState* state = nullptr;  // null: not open
};

struct ViewWindowOptions {
  int width = 0;  // the window's first client size
  int height = 0;
  const char* title = "";
  bool vsync = false;  // a swap interval of 1 where the driver offers it
};

enum class ViewWindowOpen {
  Opened,
  NoDisplay,  // no window system: DISPLAY is not set (the error text says so)
  Failed,     // SDL could not make the window or the context (the error says why)
};

// Opens and shows the window with its context current, and readies the
// ImGui backends (the caller made the ImGui context first). `error` gets
// the reason on failure.
ViewWindowOpen openViewWindow(ViewWindow& window, const ViewWindowOptions& options,
                              std::string& error);
void closeViewWindow(ViewWindow& window);

// Loads the GL entry points beyond 1.1 into `gl` once the context exists
// (SDL_GL_GetProcAddress): the framebuffer objects. False when the driver
// lacks one of them.
bool loadGlExtensions(const ViewWindow& window, GlApi& gl);

// The size of the drawable area in pixels (the window's client area). The
// window's framebuffer may follow a change only from the next swap on (Mesa's
// software driver looks at the window's size there): the one frame drawn in
// between can be cut.
void viewDrawableSize(const ViewWindow& window, int& width, int& height);
// True when the back buffer is known to keep its pixels across a swap, so
// that only what changed need be drawn again: Mesa's software renderers on
// X11 present by copying the back buffer to the window and leave it as it
// was. Elsewhere (a GPU's buffers, a Wayland swap chain) the back buffer
// after a swap is undefined.
bool viewBackBufferKept(const ViewWindow& window);
void swapViewWindow(ViewWindow& window);
void setViewFullScreen(ViewWindow& window, bool fullScreen);
bool viewFullScreen(const ViewWindow& window);

// Keys that are not characters. Characters come as typed text (so that '?',
// '[' and ']' follow the keyboard layout); a key with Ctrl or Alt comes as
// its key alone.
enum class ViewKey : uint8_t {
  None,
  Character,  // `character` holds it
  Escape,
  Enter,
  Backspace,
  Home,
  End,
  Left,
  Right,
  Up,
  Down,
  PageUp,
  PageDown,
  F1,
  F11,
};

struct ViewEvent {
  enum class Kind : uint8_t {
    None,         // the pointer moved or left, another button: the overlay may need redrawing
    Key,          // `key` (and `character`), with `alt`
    Close,        // the close button, or the window manager's close
    Click,        // left button pressed at `x`, `y` (window pixels)
    DoubleClick,  // the second press of a double click at `x`, `y`
    Resized,      // the drawable size changed, or the window needs redrawing
  };
  Kind kind = Kind::None;
  ViewKey key = ViewKey::None;
  char character = 0;
  bool alt = false;
  bool overlayWantsKeyboard = false;  // an ImGui widget has the keyboard
  bool overlayWantsMouse = false;     // the pointer is over an ImGui window
  int x = 0;
  int y = 0;
};

// Takes the next pending event (passing it to ImGui first), without waiting.
// False when there is none. One key press is one event; SDL's events that
// matter to nobody but ImGui are taken without one.
bool pollViewEvent(ViewWindow& window, ViewEvent& event);
// Waits up to `timeoutSeconds` for an event: no busy loop. False when none came.
bool waitViewEvent(ViewWindow& window, ViewEvent& event, double timeoutSeconds);

// The on-screen display's frame: ImGui's backends' new frame, then
// ImGui::NewFrame(); the caller builds its widgets, then renders them over
// what the default framebuffer holds.
void beginOverlayFrame(ViewWindow& window);
// Window pixels, x0 <= x < x1 and y0 <= y < y1, y up from the bottom row as
// the GL counts it; empty when x0 >= x1.
struct ViewRect {
  int x0;
  int y0;
  int x1;
  int y1;
};
// The pixels the overlay drew over (with a pixel to spare), one rectangle
// per panel, so that the caller can put back what lies under them.
constexpr int kOverlayRects = 4;
struct OverlayDrawn {
  ViewRect rects[kOverlayRects];  // past the last, panels share the last one
  int count;
};
OverlayDrawn renderOverlayFrame(ViewWindow& window);
// After the widgets are built: whether a panel that has just appeared was
// left out of this frame (ImGui measures a new panel's size on its first
// frame and shows it on the next). A viewer that draws only on events ends
// such a frame unseen (endOverlayFrameUnseen) and builds it again at once.
bool overlayPanelsPending(const ViewWindow& window);
void endOverlayFrameUnseen(ViewWindow& window);

// Whether SDL can reach a window system at all, and why not: for
// "needs a display (DISPLAY is not set)" before anything else is done.
bool displayAvailable(std::string& reason);

}  // namespace drec
