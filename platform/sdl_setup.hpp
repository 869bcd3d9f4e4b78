// The SDL set-up that the player's display and the viewer's window share:
// the hints given before the video subsystem starts, and the attributes of
// the OpenGL context, so that both draw into the same kind of context.
#pragma once
#include "render/gl_api.hpp"

namespace drec {

// Before SDL_InitSubSystem(SDL_INIT_VIDEO). `videoDriver` null: the window
// system's (X11, or Wayland where a compositor is announced).
void setVideoHints(const char* videoDriver);
// Once the video subsystem has started, before the window is made: RGBA 8
// bits each, at least 16 bits of depth, no stencil, accumulation or
// multisampling, double buffered, compatibility profile.
void setContextAttributes();

// With a context current: whether the driver offers framebuffer objects
// (GL 3.0 or GL_ARB_framebuffer_object, under the same entry point names).
bool framebufferObjectsOffered();
// Loads the GL entry points beyond 1.1 into `gl` from the current context
// (SDL_GL_GetProcAddress); false, with `gl` unchanged, when one is missing.
bool loadGlExtensionEntries(GlApi& gl);

}  // namespace drec
