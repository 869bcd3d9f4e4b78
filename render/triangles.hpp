// Drawing one recorded triangle with immediate-mode OpenGL.
#pragma once
#include <cstdint>

#include "recording/format.hpp"
#include "render/gl_api.hpp"
#include "render/textures.hpp"

namespace drec {

// The last texture slot bound and blend mode handled; -1 forces the next send.
struct TriangleCache {
  int currentSlot;
  int currentBlend;
};

struct TriangleRenderer {
  const GlApi* gl;
  const TextureSlots* slots;
  int screenWidth;
  int screenHeight;
  float xScale;  // width / 255
  float yScale;  // height / 255
  TriangleCache cache;
};

// Screen size and scale factors; computed once after the textures load.
void setupTriangleRenderer(TriangleRenderer& renderer, const GlApi& gl, const TextureSlots& slots,
                           int width, int height);
// Both cache values to -1, when playback starts.
void resetTriangleCache(TriangleRenderer& renderer);
// `record` holds the 26 bytes of a triangle record, type byte included.
// Draws nothing (and changes no cache value) while `skipPresent` is set.
void drawTriangle(TriangleRenderer& renderer, const uint8_t* record, bool skipPresent);

}  // namespace drec
