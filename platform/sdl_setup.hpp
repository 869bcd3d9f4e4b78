// The SDL set-up that the player's display and the viewer's window share:
// the hints given before the video subsystem starts, and the attributes of
// the OpenGL context, so that both draw into the same kind of context.
#pragma once

namespace drec {

// Before SDL_InitSubSystem(SDL_INIT_VIDEO). `videoDriver` null: the window
// system's (X11, or Wayland where a compositor is announced).
void setVideoHints(const char* videoDriver);
// Once the video subsystem has started, before the window is made: RGBA 8
// bits each, at least 16 bits of depth, no stencil, accumulation or
// multisampling, double buffered, compatibility profile.
void setContextAttributes();

}  // namespace drec
