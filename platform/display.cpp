// The display on SDL2: one window with a compatibility OpenGL context, events
// handled only inside presentDisplay, and the terminal as the keyboard when no
// window could be opened.
#include "platform/display.hpp"

#include <SDL2/SDL.h>

#include <climits>

#include "platform/console.hpp"
#include "platform/keymap.hpp"
#include "platform/monitor.hpp"
#include "platform/sdl_setup.hpp"

namespace drec {

struct DisplayWindow {
  SDL_Window* window;
  SDL_GLContext context;
  bool fullScreen;
  bool lastKeyDownHadAlt;  // the text input that follows it is dropped
};

namespace {

constexpr int kMaxMonitors = 16;

WindowPlacement choosePlacement(int width, int height) {
  MonitorBounds monitors[kMaxMonitors];
  int count = SDL_GetNumVideoDisplays();
  if (count > kMaxMonitors) count = kMaxMonitors;
  int known = 0;
  for (int i = 0; i < count; ++i) {
    SDL_Rect bounds;
    if (SDL_GetDisplayBounds(i, &bounds) != 0) break;  // keep the indices SDL's
    monitors[known++] = MonitorBounds{bounds.x, bounds.y, bounds.w, bounds.h};
  }
  int pointerX = INT_MIN;
  int pointerY = INT_MIN;
  SDL_GetGlobalMouseState(&pointerX, &pointerY);
  bool pointerKnown = pointerX != INT_MIN && pointerY != INT_MIN;
  return placeWindow(monitors, known, pointerKnown, pointerX, pointerY, width, height);
}

// A full-screen mode of exactly width x height at 32 bits per pixel.
bool findExactMode(int monitor, int width, int height, SDL_DisplayMode& found) {
  int count = SDL_GetNumDisplayModes(monitor);
  for (int i = 0; i < count; ++i) {
    SDL_DisplayMode mode;
    if (SDL_GetDisplayMode(monitor, i, &mode) != 0) continue;
    if (mode.w == width && mode.h == height && SDL_BYTESPERPIXEL(mode.format) == 4) {
      found = mode;
      return true;
    }
  }
  return false;
}

void destroyWindow(DisplayWindow& window) {
  if (window.context) SDL_GL_DeleteContext(window.context);
  if (window.window) SDL_DestroyWindow(window.window);
  window.context = nullptr;
  window.window = nullptr;
}

bool createContext(DisplayWindow& window) {
  window.context = SDL_GL_CreateContext(window.window);  // also made current
  if (window.context) return true;
  destroyWindow(window);
  return false;
}

bool openWindowed(DisplayWindow& window, const char* title, int width, int height,
                  const WindowPlacement& placement) {
  int x = placement.monitor < 0 ? static_cast<int>(SDL_WINDOWPOS_CENTERED) : placement.x;
  int y = placement.monitor < 0 ? static_cast<int>(SDL_WINDOWPOS_CENTERED) : placement.y;
  // Not resizable: SDL pins the minimum and maximum size to the client size.
  window.window = SDL_CreateWindow(title, x, y, width, height, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
  if (!window.window) return false;
  SDL_SetWindowMinimumSize(window.window, width, height);
  SDL_SetWindowMaximumSize(window.window, width, height);
  if (!createContext(window)) return false;
  SDL_ShowWindow(window.window);
  SDL_RaiseWindow(window.window);
  return true;
}

bool openHidden(DisplayWindow& window, const char* title, int width, int height) {
  window.window = SDL_CreateWindow(title, 0, 0, width, height, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
  return window.window && createContext(window);
}

bool openFullScreen(DisplayWindow& window, const char* title, int width, int height, int monitor) {
  if (monitor < 0) monitor = 0;
  SDL_DisplayMode mode;
  if (!findExactMode(monitor, width, height, mode)) return false;
  // At the monitor's origin: where a window manager would put a full-screen
  // window, and where it stays when there is none to move it.
  SDL_Rect bounds{0, 0, 0, 0};
  SDL_GetDisplayBounds(monitor, &bounds);
  window.window = SDL_CreateWindow(title, bounds.x, bounds.y, width, height,
                                   SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN | SDL_WINDOW_BORDERLESS);
  if (!window.window) return false;
  SDL_SetWindowMinimumSize(window.window, width, height);
  SDL_SetWindowMaximumSize(window.window, width, height);
  if (SDL_SetWindowDisplayMode(window.window, &mode) != 0 ||
      SDL_SetWindowFullscreen(window.window, SDL_WINDOW_FULLSCREEN) != 0 || !createContext(window)) {
    destroyWindow(window);
    return false;
  }
  // The mode is changed when the window is shown; check that it took.
  SDL_ShowWindow(window.window);
  SDL_DisplayMode current;
  if (SDL_GetCurrentDisplayMode(monitor, &current) != 0 || current.w != width || current.h != height) {
    SDL_SetWindowFullscreen(window.window, 0);
    destroyWindow(window);
    return false;
  }
  SDL_RaiseWindow(window.window);
  window.fullScreen = true;
  return true;
}

void clearKeyState(Display& display) {
  for (bool& held : display.keyState) held = false;
}

bool windowActive(const DisplayWindow& window) {
  Uint32 flags = SDL_GetWindowFlags(window.window);
  return (flags & SDL_WINDOW_INPUT_FOCUS) != 0 && (flags & SDL_WINDOW_MINIMIZED) == 0;
}

void copyKeyState(Display& display) {
  int count = 0;
  const Uint8* state = SDL_GetKeyboardState(&count);
  bool held[kKeyStateCount] = {};
  for (int usage = 0; usage < count; ++usage) {
    int code = scanCodeForUsage(usage);
    if (state[usage] && code > 0 && code < kKeyStateCount) held[code] = true;
  }
  for (int code = 0; code < kKeyStateCount; ++code) display.keyState[code] = held[code];
}

// Between W x H full screen (borderless at the monitor's origin, the mode
// changed to W x H) and the window. When the mode cannot be set the window
// stays as it was; the GL context belongs to the SDL window and survives.
void switchFullScreen(Display& display) {
  DisplayWindow& window = *display.window;
  if (window.fullScreen) {
    if (SDL_SetWindowFullscreen(window.window, 0) == 0) window.fullScreen = false;
    // A window that began full screen (the fallback) gets its frame now.
    SDL_SetWindowBordered(window.window, SDL_TRUE);
    return;
  }
  int monitor = SDL_GetWindowDisplayIndex(window.window);
  if (monitor < 0) monitor = 0;
  SDL_DisplayMode mode;
  if (!findExactMode(monitor, display.width, display.height, mode)) return;
  if (SDL_SetWindowDisplayMode(window.window, &mode) != 0) return;
  if (SDL_SetWindowFullscreen(window.window, SDL_WINDOW_FULLSCREEN) != 0) {
    SDL_SetWindowFullscreen(window.window, 0);
    return;
  }
  window.fullScreen = true;
}

void handleKeyDown(Display& display, const SDL_KeyboardEvent& key) {
  DisplayWindow& window = *display.window;
  Uint16 modifiers = key.keysym.mod;
  bool alt = (modifiers & KMOD_ALT) != 0;
  window.lastKeyDownHadAlt = alt;
  bool enter = key.keysym.sym == SDLK_RETURN || key.keysym.sym == SDLK_KP_ENTER;
  if (alt && enter) {
    if (!key.repeat && windowActive(window)) switchFullScreen(display);
    return;
  }
  KeyPress press{static_cast<int>(key.keysym.scancode), key.keysym.sym, alt,
                 (modifiers & KMOD_CTRL) != 0, (modifiers & KMOD_NUM) != 0};
  pushKey(display.keys, entryForKeyPress(press));
}

void handleText(Display& display, const char* text) {
  if (display.window->lastKeyDownHadAlt) return;
  KeyEntry entries[SDL_TEXTINPUTEVENT_TEXT_SIZE];
  int count = entriesForText(text, entries, SDL_TEXTINPUTEVENT_TEXT_SIZE);
  for (int i = 0; i < count; ++i) pushKey(display.keys, entries[i]);
}

void processEvents(Display& display) {
  bool closeQueued = false;
  SDL_Event event;
  while (SDL_PollEvent(&event)) {
    switch (event.type) {
      case SDL_KEYDOWN:
        handleKeyDown(display, event.key);
        break;
      case SDL_TEXTINPUT:
        handleText(display, event.text.text);
        break;
      case SDL_WINDOWEVENT:
        switch (event.window.event) {
          case SDL_WINDOWEVENT_CLOSE:
            pushKey(display.keys, closeRequestKey());
            closeQueued = true;
            break;
          case SDL_WINDOWEVENT_FOCUS_GAINED:
          case SDL_WINDOWEVENT_FOCUS_LOST:
            clearKeyState(display);
            break;
          case SDL_WINDOWEVENT_MAXIMIZED:
            // The maximise button or menu entry asks for full screen.
            SDL_RestoreWindow(display.window->window);
            if (windowActive(*display.window) && !display.window->fullScreen)
              switchFullScreen(display);
            break;
          default:
            break;
        }
        break;
      case SDL_QUIT:
        // One close is reported as a window close and, by some SDL versions,
        // also as a quit: it counts once.
        if (!closeQueued) pushKey(display.keys, closeRequestKey());
        closeQueued = true;
        break;
      default:
        break;
    }
  }
}

void resetDisplay(Display& display) {
  display.window = nullptr;
  display.width = 0;
  display.height = 0;
  clearKeyState(display);
  clearKeyBuffer(display.keys);
}

}  // namespace

bool openDisplayWith(Display& display, int width, int height, const char* title,
                     const DisplayOpenOptions& options) {
  resetDisplay(display);
  if (width <= 0 || height <= 0) return false;
  setVideoHints(options.videoDriver);
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
  setContextAttributes();
  if (options.hidden) {
    auto* hidden = new DisplayWindow{nullptr, nullptr, false, false};
    if (!openHidden(*hidden, title, width, height)) {
      delete hidden;
      SDL_QuitSubSystem(SDL_INIT_VIDEO);
      return false;
    }
    display.window = hidden;
    display.width = width;
    display.height = height;
    return true;
  }
  WindowPlacement placement = choosePlacement(width, height);
  auto* window = new DisplayWindow{nullptr, nullptr, false, false};
  bool opened = !options.failWindowed && openWindowed(*window, title, width, height, placement);
  if (!opened) opened = openFullScreen(*window, title, width, height, placement.monitor);
  if (!opened) {
    delete window;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return false;
  }
  SDL_DisableScreenSaver();
  SDL_StartTextInput();
  display.window = window;
  display.width = width;
  display.height = height;
  return true;
}

bool openDisplay(Display& display, int width, int height, const char* title) {
  return openDisplayWith(display, width, height, title, DisplayOpenOptions{});
}

void presentDisplay(Display& display) {
  if (!display.window) return;
  SDL_GL_SwapWindow(display.window->window);
  // Read what the window system says now, so "held" is as of this present;
  // the events themselves are handled below.
  SDL_PumpEvents();
  if (windowActive(*display.window)) copyKeyState(display);
  processEvents(display);
}

bool keyHeld(Display& display, int scanCode) {
  if (scanCode < 0 || scanCode >= kKeyStateCount) return false;
  if (display.window) return display.keyState[scanCode];
  // Without a window the terminal stands in: a lone Escape byte waiting there
  // is the nearest thing to Escape being down. Keys read away on the way to
  // it wait in the key buffer for nextKey.
  return scanCode == kScanCodeEscape && consoleEscapeWaiting(display.keys);
}

KeyEntry nextKey(Display& display) {
  KeyEntry entry = popKey(display.keys);
  if (display.window || entry.length != 0) return entry;
  int length = 0;
  if (consoleTakeKey(entry.bytes, &length) && (length == 1 || length == 2))
    entry.length = static_cast<uint8_t>(length);
  return entry;
}

bool displayFullScreen(const Display& display) {
  return display.window && display.window->fullScreen;
}

const char* displayDriverName(const Display& display) {
  const char* name = display.window ? SDL_GetCurrentVideoDriver() : nullptr;
  return name ? name : "";
}

void closeDisplay(Display& display) {
  if (!display.window) return;
  DisplayWindow* window = display.window;
  if (window->fullScreen) SDL_SetWindowFullscreen(window->window, 0);  // the desktop's mode back
  destroyWindow(*window);
  SDL_EnableScreenSaver();
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  delete window;
  resetDisplay(display);
}

}  // namespace drec
