#include "tests/support/x11_tools.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/scrnsaver.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/monotonic_clock.hpp"
#include "tests/support/run_program.hpp"

namespace drec::test {
namespace {

// Xlib's default handler ends the process on any error, such as asking about
// a window that has just gone; the helpers report failure instead.
int ignoreError(::Display*, XErrorEvent*) { return 0; }

// One connection per helper call, closed on every path.
struct Connection {
  ::Display* display = XOpenDisplay(nullptr);
  int (*previousHandler)(::Display*, XErrorEvent*) = XSetErrorHandler(ignoreError);
  ~Connection() {
    if (display) XCloseDisplay(display);
    XSetErrorHandler(previousHandler);
  }
  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
};

// A window property as the server hands it over (at most `length` 32-bit
// units of it), freed when done; no data when the window has none.
struct Property {
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned char* data = nullptr;

  Property(::Display* display, Window window, Atom name, long length, Atom wanted) {
    unsigned long after = 0;
    if (XGetWindowProperty(display, window, name, 0, length, False, wanted, &type, &format, &count, &after,
                           &data) != Success)
      data = nullptr;
  }
  ~Property() {
    if (data) XFree(data);
  }
  Property(const Property&) = delete;
  Property& operator=(const Property&) = delete;

  // The one 32-bit item it holds (Xlib hands such items over as longs).
  bool single(unsigned long& value) const {
    if (!data || count != 1 || format != 32) return false;
    value = *reinterpret_cast<const unsigned long*>(data);
    return true;
  }
};

std::string readTitle(::Display* display, Window window) {
  Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  const Property netName(display, window, XInternAtom(display, "_NET_WM_NAME", False), 1024, utf8);
  if (netName.data && netName.type == utf8)
    return std::string(reinterpret_cast<char*>(netName.data), netName.count);
  char* name = nullptr;
  if (XFetchName(display, window, &name) && name) {
    std::string title(name);
    XFree(name);
    return title;
  }
  return std::string();
}

bool readPid(::Display* display, Window window, long& pid) {
  unsigned long value = 0;
  if (!Property(display, window, XInternAtom(display, "_NET_WM_PID", False), 1, XA_CARDINAL).single(value))
    return false;
  pid = static_cast<long>(value);
  return true;
}

bool viewable(::Display* display, Window window) {
  XWindowAttributes attributes;
  return XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
}

// Client windows carry WM_STATE once managed; without a window manager they
// are the root's children. Searching the whole tree for a matching title or
// pid finds them either way (a frame has neither).
template <typename Match>
Window searchTree(::Display* display, Window window, const Match& match) {
  if (match(display, window) && viewable(display, window)) return window;
  Window root, parent;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display, window, &root, &parent, &children, &count)) return 0;
  Window found = 0;
  for (unsigned int i = 0; i < count && !found; ++i) found = searchTree(display, children[i], match);
  if (children) XFree(children);
  return found;
}

template <typename Match>
XWindowId waitForWindow(const Match& match, double timeoutSeconds) {
  double deadline = nowSeconds() + timeoutSeconds;
  for (;;) {
    {
      Connection connection;
      if (!connection.display) return 0;
      Window found = searchTree(connection.display, DefaultRootWindow(connection.display), match);
      if (found) return found;
    }
    if (nowSeconds() > deadline) return 0;
    usleep(20000);
  }
}

bool sendClientMessage(::Display* display, Window target, Window about, Atom type, long data0,
                       long data1, long data2, long mask) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = about;
  event.xclient.message_type = type;
  event.xclient.format = 32;
  event.xclient.data.l[0] = data0;
  event.xclient.data.l[1] = data1;
  event.xclient.data.l[2] = data2;
  event.xclient.data.l[3] = 1;  // source: an application
  Status sent = XSendEvent(display, target, False, mask, &event);
  XSync(display, False);
  return sent != 0;
}

std::string findInPath(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  std::string directories = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= directories.size()) {
    size_t end = directories.find(':', start);
    if (end == std::string::npos) end = directories.size();
    std::string candidate = directories.substr(start, end - start) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return name;
}

}  // namespace

XWindowId waitForWindowByTitle(const std::string& title, double timeoutSeconds) {
  return waitForWindow(
      [&](::Display* display, Window window) { return readTitle(display, window) == title; },
      timeoutSeconds);
}

XWindowId waitForWindowByPid(int pid, double timeoutSeconds) {
  return waitForWindow(
      [&](::Display* display, Window window) {
        long found = 0;
        return readPid(display, window, found) && found == pid;
      },
      timeoutSeconds);
}

bool windowWithTitleExists(const std::string& title) {
  Connection connection;
  if (!connection.display) return false;
  return searchTree(connection.display, DefaultRootWindow(connection.display),
                    [&](::Display* display, Window window) {
                      return readTitle(display, window) == title;
                    }) != 0;
}

std::string windowTitle(XWindowId window) {
  Connection connection;
  if (!connection.display) return std::string();
  return readTitle(connection.display, window);
}

bool clientArea(XWindowId window, ClientArea& area) {
  Connection connection;
  if (!connection.display) return false;
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(connection.display, window, &attributes)) return false;
  Window child;
  int x = 0, y = 0;
  if (!XTranslateCoordinates(connection.display, window, DefaultRootWindow(connection.display), 0, 0,
                             &x, &y, &child))
    return false;
  area = ClientArea{x, y, attributes.width, attributes.height};
  return true;
}

bool sendCloseRequest(XWindowId window) {
  Connection connection;
  if (!connection.display) return false;
  Atom protocols = XInternAtom(connection.display, "WM_PROTOCOLS", False);
  Atom deleteWindow = XInternAtom(connection.display, "WM_DELETE_WINDOW", False);
  return sendClientMessage(connection.display, window, window, protocols,
                           static_cast<long>(deleteWindow), CurrentTime, 0, NoEventMask);
}

bool focusWindow(XWindowId window) {
  Connection connection;
  if (!connection.display) return false;
  XRaiseWindow(connection.display, window);
  XSetInputFocus(connection.display, window, RevertToParent, CurrentTime);
  XSync(connection.display, False);
  return true;
}

XWindowId focusedWindow() {
  Connection connection;
  if (!connection.display) return 0;
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(connection.display, &focus, &revert);
  if (focus == PointerRoot || focus == DefaultRootWindow(connection.display)) return 0;
  return focus;
}

bool removeFocus() {
  Connection connection;
  if (!connection.display) return false;
  XSetInputFocus(connection.display, None, RevertToNone, CurrentTime);
  XSync(connection.display, False);
  return true;
}

bool sizeLimits(XWindowId window, int& minWidth, int& minHeight, int& maxWidth, int& maxHeight) {
  Connection connection;
  if (!connection.display) return false;
  XSizeHints hints{};
  long supplied = 0;
  if (!XGetWMNormalHints(connection.display, window, &hints, &supplied)) return false;
  if (!(hints.flags & PMinSize) || !(hints.flags & PMaxSize)) return false;
  minWidth = hints.min_width;
  minHeight = hints.min_height;
  maxWidth = hints.max_width;
  maxHeight = hints.max_height;
  return true;
}

bool windowPixel(XWindowId window, int x, int y, unsigned& rgb) {
  Connection connection;
  if (!connection.display) return false;
  XImage* image = XGetImage(connection.display, window, x, y, 1, 1, AllPlanes, ZPixmap);
  if (!image) return false;
  unsigned long pixel = XGetPixel(image, 0, 0);
  // TrueColor visuals: split by the image's masks into 8 bits each.
  auto channel = [&](unsigned long mask) {
    if (mask == 0) return 0u;
    int shift = 0;
    while (!((mask >> shift) & 1)) ++shift;
    unsigned long value = (pixel & mask) >> shift;
    unsigned long maximum = mask >> shift;
    return static_cast<unsigned>((value * 255 + maximum / 2) / maximum);
  };
  rgb = (channel(image->red_mask) << 16) | (channel(image->green_mask) << 8) |
        channel(image->blue_mask);
  XDestroyImage(image);
  return true;
}

::testing::AssertionResult filledWith(XWindowId window, int width, int height, unsigned rgb) {
  const int points[][2] = {{0, 0}, {width - 1, 0}, {0, height - 1}, {width - 1, height - 1},
                           {width / 2, height / 2}};
  for (const auto& [x, y] : points) {
    unsigned shown = 0;
    if (!windowPixel(window, x, y, shown))
      return ::testing::AssertionFailure() << "cannot read pixel " << x << ", " << y;
    if (shown != rgb) {
      char colours[40];
      std::snprintf(colours, sizeof colours, " is %06X, not %06X", shown, rgb);
      return ::testing::AssertionFailure() << "pixel " << x << ", " << y << colours;
    }
  }
  return ::testing::AssertionSuccess();
}

bool windowManagerRunning() {
  Connection connection;
  if (!connection.display) return false;
  Atom check = XInternAtom(connection.display, "_NET_SUPPORTING_WM_CHECK", False);
  // The root names a window of the manager's that names itself the same way;
  // a manager that has gone may leave the root's entry behind.
  auto named = [&](Window window, Window& found) {
    unsigned long value = 0;
    if (!Property(connection.display, window, check, 1, XA_WINDOW).single(value)) return false;
    found = static_cast<Window>(value);
    return true;
  };
  Window fromRoot = 0, fromItself = 0;
  return named(DefaultRootWindow(connection.display), fromRoot) && fromRoot != 0 &&
         named(fromRoot, fromItself) && fromItself == fromRoot;
}

bool requestMaximise(XWindowId window) {
  Connection connection;
  if (!connection.display) return false;
  ::Display* display = connection.display;
  Atom state = XInternAtom(display, "_NET_WM_STATE", False);
  Atom horizontal = XInternAtom(display, "_NET_WM_STATE_MAXIMIZED_HORZ", False);
  Atom vertical = XInternAtom(display, "_NET_WM_STATE_MAXIMIZED_VERT", False);
  constexpr long kAdd = 1;
  return sendClientMessage(display, DefaultRootWindow(display), window, state, kAdd,
                           static_cast<long>(horizontal), static_cast<long>(vertical),
                           SubstructureRedirectMask | SubstructureNotifyMask);
}

bool markMaximised(XWindowId window) {
  Connection connection;
  if (!connection.display) return false;
  ::Display* display = connection.display;
  Atom state = XInternAtom(display, "_NET_WM_STATE", False);
  Atom states[2] = {XInternAtom(display, "_NET_WM_STATE_MAXIMIZED_VERT", False),
                    XInternAtom(display, "_NET_WM_STATE_MAXIMIZED_HORZ", False)};
  XChangeProperty(display, window, state, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(states), 2);
  XSync(display, False);
  return true;
}

WindowManager::WindowManager() {
  if (windowManagerRunning()) {
    running = true;
    return;
  }
  ProgramRun run;
  run.arguments = {"/usr/bin/openbox"};
  run.keepDisplay = true;
  if (!startProgram(run, program)) return;
  double deadline = nowSeconds() + 10.0;
  while (!windowManagerRunning() && nowSeconds() < deadline) usleep(50000);
  running = windowManagerRunning();
}

WindowManager::~WindowManager() {
  if (program.pid <= 0) return;
  kill(program.pid, SIGTERM);
  finishProgram(program, 10.0);
  double deadline = nowSeconds() + 5.0;
  while (windowManagerRunning() && nowSeconds() < deadline) usleep(50000);
}

ScreenSaverState screenSaverState() {
  Connection connection;
  if (!connection.display) return ScreenSaverState::Unknown;
  int eventBase = 0, errorBase = 0;
  if (!XScreenSaverQueryExtension(connection.display, &eventBase, &errorBase))
    return ScreenSaverState::Unknown;
  XScreenSaverInfo* info = XScreenSaverAllocInfo();
  if (!info) return ScreenSaverState::Unknown;
  ScreenSaverState result = ScreenSaverState::Unknown;
  if (XScreenSaverQueryInfo(connection.display, DefaultRootWindow(connection.display), info)) {
    if (info->state == ScreenSaverOn) result = ScreenSaverState::On;
    if (info->state == ScreenSaverOff) result = ScreenSaverState::Off;
    if (info->state == ScreenSaverDisabled) result = ScreenSaverState::Disabled;
  }
  XFree(info);
  return result;
}

bool screenSize(int& width, int& height) {
  Connection connection;
  if (!connection.display) return false;
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(connection.display, DefaultRootWindow(connection.display), &attributes))
    return false;
  width = attributes.width;
  height = attributes.height;
  return true;
}

bool runTool(const std::vector<std::string>& arguments, double timeoutSeconds, std::string* output) {
  if (arguments.empty()) return false;
  ProgramRun run;
  run.arguments = arguments;
  run.arguments[0] = findInPath(arguments[0]);
  run.keepDisplay = true;
  run.timeoutSeconds = timeoutSeconds;
  ProgramResult result = runProgram(run);
  if (output) *output = result.output;
  return result.started && !result.timedOut && result.exitStatus == 0;
}

bool xdotool(const std::vector<std::string>& arguments) {
  std::vector<std::string> command = {"xdotool"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return runTool(command);
}

SpareKey::SpareKey(const char* symbolName) {
  Connection connection;
  if (!connection.display) return;
  KeySym symbol = XStringToKeysym(symbolName);
  if (symbol == NoSymbol || XKeysymToKeycode(connection.display, symbol) != 0) return;
  int first = 0, last = 0, perCode = 0;
  XDisplayKeycodes(connection.display, &first, &last);
  KeySym* map = XGetKeyboardMapping(connection.display, static_cast<KeyCode>(first), last - first + 1, &perCode);
  if (!map) return;
  for (int code = last; code >= first && keycode == 0; --code) {
    bool empty = true;
    for (int i = 0; i < perCode; ++i) empty = empty && map[(code - first) * perCode + i] == NoSymbol;
    if (empty) keycode = code;
  }
  XFree(map);
  if (keycode == 0) return;
  XChangeKeyboardMapping(connection.display, keycode, 1, &symbol, 1);
  XSync(connection.display, False);
}

SpareKey::~SpareKey() {
  if (keycode == 0) return;
  Connection connection;
  KeySym none = NoSymbol;
  if (connection.display) {
    XChangeKeyboardMapping(connection.display, keycode, 1, &none, 1);
    XSync(connection.display, False);
  }
}

}  // namespace drec::test
