// The viewer's window on SDL2, with the ImGui backends fed from its events.
#include "platform/view_window.hpp"

#include <GL/gl.h>
#include <SDL2/SDL.h>
#include <backends/imgui_impl_opengl2.h>
#include <backends/imgui_impl_sdl.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/sdl_setup.hpp"

namespace drec {

struct ViewWindowState {
  SDL_Window* window;
  SDL_GLContext context;
  // The overlay is drawn into the window's own framebuffer whatever the
  // caller has bound; null where the driver has no framebuffer objects.
  void (*bindFramebuffer)(GLenum target, GLuint name);
  void (*clipControl)(GLenum origin, GLenum depth);  // null without clip control
  // A key pressed with Ctrl or Alt was given as its key: the text input that
  // may follow it is the same press.
  bool dropNextText;
  // Some SDL versions follow a window's close with a quit: one request.
  bool closeJustGiven;
};

namespace {

constexpr const char* kNoDisplay = "DISPLAY is not set";

bool isSet(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

// SDL_VIDEODRIVER holds a comma-separated list; a driver other than the
// window systems' (offscreen, a console's) needs no DISPLAY.
bool namesOtherDriver(const char* drivers) {
  const char* entry = drivers;
  while (*entry) {
    size_t length = std::strcspn(entry, ",");
    bool windowSystem = (length == 3 && SDL_strncasecmp(entry, "x11", 3) == 0) ||
                        (length == 7 && SDL_strncasecmp(entry, "wayland", 7) == 0);
    if (length > 0 && !windowSystem) return true;
    entry += length;
    if (*entry == ',') ++entry;
  }
  return false;
}

void destroy(ViewWindowState* state) {
  if (state->context) SDL_GL_DeleteContext(state->context);
  if (state->window) SDL_DestroyWindow(state->window);
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  delete state;
}

ViewWindowOpen openFailed(ViewWindowState* state, const char* reason, std::string& error) {
  error = reason;  // copied first: SDL's own error text may change on the way out
  destroy(state);
  return ViewWindowOpen::Failed;
}

ViewKey keyFor(SDL_Keycode code) {
  switch (code) {
    case SDLK_ESCAPE: return ViewKey::Escape;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return ViewKey::Enter;
    case SDLK_BACKSPACE: return ViewKey::Backspace;
    case SDLK_HOME: return ViewKey::Home;
    case SDLK_END: return ViewKey::End;
    case SDLK_LEFT: return ViewKey::Left;
    case SDLK_RIGHT: return ViewKey::Right;
    case SDLK_UP: return ViewKey::Up;
    case SDLK_DOWN: return ViewKey::Down;
    case SDLK_PAGEUP: return ViewKey::PageUp;
    case SDLK_PAGEDOWN: return ViewKey::PageDown;
    case SDLK_F1: return ViewKey::F1;
    case SDLK_F11: return ViewKey::F11;
    default: return ViewKey::None;
  }
}

// A character key's code is its character (lower case for letters).
bool printable(SDL_Keycode code) { return code >= 0x20 && code < 0x7F; }

bool translateKeyDown(ViewWindowState& state, const SDL_KeyboardEvent& key, ViewEvent& event) {
  const Uint16 modifiers = key.keysym.mod;
  event.alt = (modifiers & KMOD_ALT) != 0;
  const bool withModifier = event.alt || (modifiers & KMOD_CTRL) != 0;
  state.dropNextText = withModifier;
  event.key = keyFor(key.keysym.sym);
  if (event.key == ViewKey::None && withModifier && printable(key.keysym.sym)) {
    event.key = ViewKey::Character;
    event.character = static_cast<char>(key.keysym.sym);
  }
  // A plain character key comes back as text input.
  if (event.key == ViewKey::None) return false;
  event.kind = ViewEvent::Kind::Key;
  return true;
}

bool translateText(ViewWindowState& state, const char* text, ViewEvent& event) {
  if (state.dropNextText) {
    state.dropNextText = false;
    return false;
  }
  // One byte of ASCII: the layout's character. Longer text (a character
  // beyond ASCII, an input method's word) has no key of the viewer's.
  const auto first = static_cast<unsigned char>(text[0]);
  if (first < 0x20 || first >= 0x7F || text[1] != '\0') return false;
  event.kind = ViewEvent::Kind::Key;
  event.key = ViewKey::Character;
  event.character = static_cast<char>(first);
  return true;
}

bool translateWindowEvent(ViewWindowState& state, const SDL_WindowEvent& window, ViewEvent& event) {
  switch (window.event) {
    case SDL_WINDOWEVENT_CLOSE:
      event.kind = ViewEvent::Kind::Close;
      state.closeJustGiven = true;
      return true;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
    case SDL_WINDOWEVENT_EXPOSED:
      event.kind = ViewEvent::Kind::Resized;
      return true;
    case SDL_WINDOWEVENT_LEAVE:
      // No pointer over the overlay any more: it may need redrawing.
      return true;
    default:
      return false;
  }
}

// False for an event that is nobody's business but ImGui's, or the second
// half of one key press or one close.
bool translate(ViewWindowState& state, const SDL_Event& sdl, ViewEvent& event) {
  ImGui_ImplSDL2_ProcessEvent(&sdl);
  const bool afterClose = state.closeJustGiven;
  state.closeJustGiven = false;
  event = ViewEvent{};
  const ImGuiIO& io = ImGui::GetIO();
  event.overlayWantsKeyboard = io.WantCaptureKeyboard;
  event.overlayWantsMouse = io.WantCaptureMouse;
  switch (sdl.type) {
    case SDL_KEYDOWN:
      return translateKeyDown(state, sdl.key, event);
    case SDL_TEXTINPUT:
      return translateText(state, sdl.text.text, event);
    case SDL_QUIT:
      event.kind = ViewEvent::Kind::Close;
      return !afterClose;
    case SDL_WINDOWEVENT:
      return translateWindowEvent(state, sdl.window, event);
    case SDL_MOUSEBUTTONDOWN:
      event.x = sdl.button.x;
      event.y = sdl.button.y;
      if (sdl.button.button != SDL_BUTTON_LEFT) return true;
      event.kind = sdl.button.clicks == 2 ? ViewEvent::Kind::DoubleClick : ViewEvent::Kind::Click;
      return true;
    case SDL_MOUSEMOTION:
      event.x = sdl.motion.x;
      event.y = sdl.motion.y;
      return true;
    case SDL_MOUSEBUTTONUP:
      event.x = sdl.button.x;
      event.y = sdl.button.y;
      return true;
    case SDL_MOUSEWHEEL:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool displayAvailable(std::string& reason) {
  reason.clear();
  const char* driver = std::getenv("SDL_VIDEODRIVER");
  if (driver && namesOtherDriver(driver)) return true;
  if (isSet("DISPLAY") || isSet("WAYLAND_DISPLAY")) return true;
  reason = kNoDisplay;
  return false;
}

ViewWindowOpen openViewWindow(ViewWindow& window, const ViewWindowOptions& options,
                              std::string& error) {
  error.clear();
  if (window.state) {
    error = "the window is open already";
    return ViewWindowOpen::Failed;
  }
  if (!displayAvailable(error)) return ViewWindowOpen::NoDisplay;
  if (options.width <= 0 || options.height <= 0) {
    error = "the window's size is not positive";
    return ViewWindowOpen::Failed;
  }
  if (!ImGui::GetCurrentContext()) {
    error = "no ImGui context";
    return ViewWindowOpen::Failed;
  }
  // Mesa's software renderer (llvmpipe, the only reader of this variable)
  // rasterises in as many threads as there are cores, handing each frame's
  // work over and waiting for it. A viewer's frames are small, and on a
  // machine of few cores those threads compete with the thread that holds
  // each frame to its due time: rasterising in the calling thread keeps the
  // presents as close to their due times and costs less CPU time (see
  // "Playback timing" in docs/performance.md). Read when the driver starts,
  // so set before the window and its context; a value the user gave stays.
  setenv("LP_NUM_THREADS", "0", 0);
  setVideoHints(nullptr);
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    error = SDL_GetError();
    return ViewWindowOpen::Failed;
  }
  setContextAttributes();
  auto* state = new ViewWindowState{};
  const int centred = static_cast<int>(SDL_WINDOWPOS_CENTERED);
  state->window = SDL_CreateWindow(options.title ? options.title : "", centred, centred, options.width,
                                   options.height,
                                   SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_HIDDEN);
  if (state->window) state->context = SDL_GL_CreateContext(state->window);  // also made current
  if (!state->context) return openFailed(state, SDL_GetError(), error);
  // Where the driver offers no choice the swap goes as it does.
  SDL_GL_SetSwapInterval(options.vsync ? 1 : 0);
  if (framebufferObjectsOffered()) {
    state->bindFramebuffer =
        reinterpret_cast<void (*)(GLenum, GLuint)>(SDL_GL_GetProcAddress("glBindFramebuffer"));
  }
  state->clipControl =
      reinterpret_cast<void (*)(GLenum, GLenum)>(SDL_GL_GetProcAddress("glClipControl"));
  if (!ImGui_ImplSDL2_InitForOpenGL(state->window, state->context))
    return openFailed(state, "the ImGui SDL backend did not start", error);
  if (!ImGui_ImplOpenGL2_Init()) {
    ImGui_ImplSDL2_Shutdown();
    return openFailed(state, "the ImGui OpenGL backend did not start", error);
  }
  SDL_ShowWindow(state->window);
  SDL_RaiseWindow(state->window);
  SDL_DisableScreenSaver();
  SDL_StartTextInput();
  window.state = state;
  return ViewWindowOpen::Opened;
}

void closeViewWindow(ViewWindow& window) {
  if (!window.state) return;
  ViewWindowState* state = window.state;
  // The font texture is the context's: delete it while that is current. The
  // ImGui context is the caller's and may already be gone.
  SDL_GL_MakeCurrent(state->window, state->context);
  if (ImGui::GetCurrentContext()) {
    ImGui_ImplOpenGL2_Shutdown();
    ImGui_ImplSDL2_Shutdown();
  }
  SDL_StopTextInput();
  SDL_EnableScreenSaver();
  destroy(state);
  window.state = nullptr;
}

bool loadGlExtensions(const ViewWindow& window, GlApi& gl) {
  return window.state && loadGlExtensionEntries(gl);
}

void viewDrawableSize(const ViewWindow& window, int& width, int& height) {
  width = 0;
  height = 0;
  if (window.state) SDL_GL_GetDrawableSize(window.state->window, &width, &height);
}

bool viewBackBufferKept(const ViewWindow& window) {
  if (!window.state) return false;
  const char* driver = SDL_GetCurrentVideoDriver();
  const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  if (!driver || std::strcmp(driver, "x11") != 0 || !renderer) return false;
  return std::strncmp(renderer, "llvmpipe", 8) == 0 || std::strncmp(renderer, "softpipe", 8) == 0;
}

void swapViewWindow(ViewWindow& window) {
  if (window.state) SDL_GL_SwapWindow(window.state->window);
}

void setViewFullScreen(ViewWindow& window, bool fullScreen) {
  if (!window.state) return;
  // The desktop's size, borderless, without a mode change; the GL context
  // belongs to the SDL window and is kept.
  SDL_SetWindowFullscreen(window.state->window, fullScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
}

bool viewFullScreen(const ViewWindow& window) {
  return window.state && (SDL_GetWindowFlags(window.state->window) & SDL_WINDOW_FULLSCREEN) != 0;
}

bool pollViewEvent(ViewWindow& window, ViewEvent& event) {
  if (!window.state) return false;
  SDL_Event sdl;
  while (SDL_PollEvent(&sdl)) {
    if (translate(*window.state, sdl, event)) return true;
  }
  return false;
}

bool waitViewEvent(ViewWindow& window, ViewEvent& event, double timeoutSeconds) {
  if (!window.state) return false;
  // Whole milliseconds, rounded up: a wait shorter than one is not a poll.
  const double milliseconds = timeoutSeconds > 0.0 ? std::ceil(timeoutSeconds * 1000.0) : 0.0;
  const Uint64 total = milliseconds < static_cast<double>(INT_MAX) ? static_cast<Uint64>(milliseconds)
                                                                  : static_cast<Uint64>(INT_MAX);
  const Uint64 start = SDL_GetTicks64();
  for (;;) {
    const Uint64 elapsed = SDL_GetTicks64() - start;
    const int remaining = elapsed < total ? static_cast<int>(total - elapsed) : 0;
    SDL_Event sdl;
    if (!SDL_WaitEventTimeout(&sdl, remaining)) return false;
    if (translate(*window.state, sdl, event)) return true;
  }
}

void beginOverlayFrame(ViewWindow& window) {
  if (!window.state) return;
  // The first frame makes the font texture, setting the unpack row length.
  glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
  ImGui_ImplOpenGL2_NewFrame();
  glPopClientAttrib();
  ImGui_ImplSDL2_NewFrame();
  ImGui::NewFrame();
}

bool overlayPanelsPending(const ViewWindow& window) {
  if (!window.state) return false;
  // Begin() marks a panel hidden for the frame that measures it.
  for (const ImGuiWindow* panel : ImGui::GetCurrentContext()->Windows)
    if (panel->Active && panel->Hidden) return true;
  return false;
}

void endOverlayFrameUnseen(ViewWindow& window) {
  if (window.state) ImGui::EndFrame();
}

OverlayDrawn renderOverlayFrame(ViewWindow& window) {
  OverlayDrawn drawn{};
  if (!window.state) return drawn;
  ImGui::Render();
  // ImGui counts from the top-left corner in points; the GL from the
  // bottom-left in pixels.
  const ImDrawData* data = ImGui::GetDrawData();
  const ImVec2 scale = data->FramebufferScale;
  const float height = data->DisplaySize.y * scale.y;
  for (int list = 0; list < data->CmdListsCount; ++list) {
    float left = 1e9f, top = 1e9f, right = -1e9f, bottom = -1e9f;
    for (const ImDrawVert& vertex : data->CmdLists[list]->VtxBuffer) {
      left = std::min(left, vertex.pos.x);
      right = std::max(right, vertex.pos.x);
      top = std::min(top, vertex.pos.y);
      bottom = std::max(bottom, vertex.pos.y);
    }
    if (left > right) continue;
    const ViewRect rect{
        static_cast<int>(std::floor((left - data->DisplayPos.x) * scale.x)) - 1,
        static_cast<int>(std::floor(height - (bottom - data->DisplayPos.y) * scale.y)) - 1,
        static_cast<int>(std::ceil((right - data->DisplayPos.x) * scale.x)) + 1,
        static_cast<int>(std::ceil(height - (top - data->DisplayPos.y) * scale.y)) + 1};
    if (drawn.count < kOverlayRects) {
      drawn.rects[drawn.count++] = rect;
    } else {
      ViewRect& last = drawn.rects[kOverlayRects - 1];
      last = ViewRect{std::min(last.x0, rect.x0), std::min(last.y0, rect.y0),
                      std::max(last.x1, rect.x1), std::max(last.y1, rect.y1)};
    }
  }
  glPushAttrib(GL_CURRENT_BIT);
  glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
  GLint drawFramebuffer = 0;
  GLint readFramebuffer = 0;
  void (*bind)(GLenum, GLuint) = window.state->bindFramebuffer;
  if (bind) {
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &drawFramebuffer);
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &readFramebuffer);
    bind(GL_FRAMEBUFFER, 0);
  }
  // The recorded picture may be drawn with the clip origin at the upper
  // left; the panels are drawn the usual way up.
  GLint clipOrigin = GL_LOWER_LEFT;
  if (window.state->clipControl) {
    glGetIntegerv(GL_CLIP_ORIGIN, &clipOrigin);
    window.state->clipControl(GL_LOWER_LEFT, GL_NEGATIVE_ONE_TO_ONE);
  }
  ImGui_ImplOpenGL2_RenderDrawData(ImGui::GetDrawData());
  if (window.state->clipControl)
    window.state->clipControl(static_cast<GLenum>(clipOrigin), GL_NEGATIVE_ONE_TO_ONE);
  if (bind) {
    bind(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(drawFramebuffer));
    bind(GL_READ_FRAMEBUFFER, static_cast<GLuint>(readFramebuffer));
  }
  glPopClientAttrib();
  glPopAttrib();
  return drawn;
}

}  // namespace drec
