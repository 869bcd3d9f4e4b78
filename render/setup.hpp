// The one fixed OpenGL state in which every recorded triangle is drawn.
#pragma once
#include "render/gl_api.hpp"

namespace drec {

// Viewport, projection, model-view, texturing, shading, clear, blending,
// texture environment and depth test, once, right after the display opens.
void renderSetup(const GlApi& gl, int width, int height);

}  // namespace drec
