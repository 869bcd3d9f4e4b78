// Small X11 helpers for windowed tests: finding a window by title or process,
// its client area on the screen, the window manager's close request, focus,
// the screen saver's state and the screen's mode. Each call opens its own
// connection to $DISPLAY; a window is named by its X id (0: none). Keys are
// sent with xdotool through `runTool`, which has a timeout like every program
// a test runs.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/run_program.hpp"

namespace drec::test {

using XWindowId = unsigned long;

// Waits up to `timeoutSeconds` for a viewable top-level client window whose
// title (_NET_WM_NAME or WM_NAME) is exactly `title`.
XWindowId waitForWindowByTitle(const std::string& title, double timeoutSeconds);
// The same for a window whose _NET_WM_PID is `pid`.
XWindowId waitForWindowByPid(int pid, double timeoutSeconds);
// True while a viewable client window titled `title` exists.
bool windowWithTitleExists(const std::string& title);

std::string windowTitle(XWindowId window);

struct ClientArea {
  int x;  // top-left corner in root (screen) coordinates
  int y;
  int width;
  int height;
};
bool clientArea(XWindowId window, ClientArea& area);

// The WM_DELETE_WINDOW client message, as a window manager sends it when the
// close button is clicked (never a destroy: the window is the program's).
bool sendCloseRequest(XWindowId window);

// Gives the window the keyboard focus, so that xdotool's keys reach it.
bool focusWindow(XWindowId window);
// The window holding the keyboard focus (0: none, or the root).
XWindowId focusedWindow();
// Takes the keyboard focus away from every window.
bool removeFocus();

// The size limits the window asks of a window manager (WM_NORMAL_HINTS);
// false when it sets none.
bool sizeLimits(XWindowId window, int& minWidth, int& minHeight, int& maxWidth, int& maxHeight);

// The colour shown at (x, y) of the window's client area, as 0xRRGGBB.
bool windowPixel(XWindowId window, int x, int y, unsigned& rgb);

// The colour at the four corners and the centre of a client area of
// `width` x `height` is `rgb` everywhere: a window filled with one colour.
::testing::AssertionResult filledWith(XWindowId window, int width, int height, unsigned rgb);

// True once a window manager has announced itself on the root window.
bool windowManagerRunning();

// _NET_WM_STATE_MAXIMIZED_HORZ and _VERT asked of the window manager, as the
// maximise button does.
bool requestMaximise(XWindowId window);
// Those two states written on the window itself, as a window manager does
// once it has maximised it (for a test without a window manager).
bool markMaximised(XWindowId window);

// Openbox, started for the test unless a window manager runs already: without
// one, SDL marks the window full screen but the X window keeps its place.
// Stopped again when it goes out of scope, if the test started it.
struct WindowManager {
  RunningProgram program;
  bool running = false;
  WindowManager();
  ~WindowManager();
  WindowManager(const WindowManager&) = delete;
  WindowManager& operator=(const WindowManager&) = delete;
};

enum class ScreenSaverState { Off, On, Disabled, Unknown };
// From the MIT-SCREEN-SAVER extension: On while the screen is blanked.
ScreenSaverState screenSaverState();

// The root window's size (the current mode of the one Xvfb screen).
bool screenSize(int& width, int& height);

// Runs a tool (xdotool, xrandr, xset...) by name from PATH with the display
// kept, waiting at most `timeoutSeconds`. True when it exited with status 0.
bool runTool(const std::vector<std::string>& arguments, double timeoutSeconds = 10.0,
             std::string* output = nullptr);
// runTool({"xdotool", arguments...}).
bool xdotool(const std::vector<std::string>& arguments);

// A key symbol the server's keymap lacks (e9, for instance), put on a spare
// key code while it lives. xdotool would otherwise map it for the one key
// press and take it away at once, and a window that reads the keymap again
// only after that sees a key with no symbol.
struct SpareKey {
  int keycode = 0;  // 0: no spare key code, or the symbol was mapped already
  explicit SpareKey(const char* symbolName);
  ~SpareKey();
  SpareKey(const SpareKey&) = delete;
  SpareKey& operator=(const SpareKey&) = delete;
};

}  // namespace drec::test
