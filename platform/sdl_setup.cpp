#include "platform/sdl_setup.hpp"

#include <GL/gl.h>
#include <SDL2/SDL.h>

#include <cstdlib>

namespace drec {

void setVideoHints(const char* videoDriver) {
  // Ctrl+C in the terminal ends the program the usual way, and a close
  // request is the program's to act on: SDL must not turn either into a quit.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  // SDL would otherwise switch the screen saver off when it starts; it is
  // switched off with the window and back on with its close instead.
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
  // A window system or nothing: never a video driver that takes over the
  // console's screen. Wayland only where a compositor is announced (its
  // library complains on standard error otherwise). SDL_VIDEODRIVER in the
  // environment still wins.
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const char* windowSystem = wayland && *wayland ? "x11,wayland" : "x11";
  SDL_SetHint(SDL_HINT_VIDEODRIVER, videoDriver ? videoDriver : windowSystem);
}

void setContextAttributes() {
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
  // A minimum: GLX may give a deeper buffer, which is accepted (the depth
  // test is off).
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_RED_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_GREEN_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_BLUE_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_ALPHA_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_MULTISAMPLEBUFFERS, 0);
  SDL_GL_SetAttribute(SDL_GL_MULTISAMPLESAMPLES, 0);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  // Immediate mode and GLU need the compatibility profile.
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
}

// GL 3.0 made framebuffer objects core under these names; before it, the
// ARB extension gives the same entry points.
bool framebufferObjectsOffered() {
  const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  if (version && std::atoi(version) >= 3) return true;
  return SDL_GL_ExtensionSupported("GL_ARB_framebuffer_object") == SDL_TRUE;
}

bool loadGlExtensionEntries(GlApi& gl) {
  if (!framebufferObjectsOffered()) return false;
  // Nothing is half loaded: every entry point or none.
  GlApi loaded = gl;
  bool complete = true;
#define DREC_GL_LOAD(result, name, parameters)                                               \
  loaded.name = reinterpret_cast<decltype(loaded.name)>(SDL_GL_GetProcAddress("gl" #name)); \
  complete = complete && loaded.name;
  DREC_GL_EXTENSION_FUNCTIONS(DREC_GL_LOAD)
#undef DREC_GL_LOAD
  if (complete) {
    gl = loaded;
    gl.ClipControl = reinterpret_cast<decltype(gl.ClipControl)>(SDL_GL_GetProcAddress("glClipControl"));
  }
  return complete;
}

}  // namespace drec
