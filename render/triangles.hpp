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
  // (x xScale - width / 2) / 512 and (height / 2 - y yScale) / 512 for every
  // recorded x and y: a vertex lands at (w xOffsets[x], w yOffsets[y], -w).
  float xOffsets[256];
  float yOffsets[256];
  // Where a recorded x or y lands in the picture, in pixels from its left
  // and bottom edges: the projection divides w out again, so it depends on
  // x or y alone.
  float xPixels[256];
  float yPixels[256];
  TriangleCache cache;
};

// A rectangle of pixels, x0 <= x < x1 and y0 <= y < y1, y up from the
// bottom row as the GL counts it. Empty when x0 >= x1 or y0 >= y1.
struct PixelBox {
  int x0;
  int y0;
  int x1;
  int y1;
};

// The colour a vertex's PackedColor16 sets with glColor4f.
struct VertexColor {
  float red;
  float green;
  float blue;
  float alpha;
};

// The vertex position handed to glVertex3f.
struct VertexPosition {
  float x;
  float y;
  float z;
};

// Alpha nibble 0: (r, g, b) / 15 at alpha 0.5; otherwise red above 5:
// (r, g, b) / 15 opaque; otherwise opaque white.
VertexColor colorFromPacked(PackedColor16 color);
// s or t in 1/255 units; 255 gives exactly 1.0.
float texCoordOf(uint8_t value);
// w = 1 / f with f = depth / 65535 rounded to a float; infinite for depth 0.
float vertexW(uint16_t depth);
// (k (x xScale - W / 2), k (H / 2 - y yScale), -w) with k = w / 512.
VertexPosition vertexPosition(const TriangleRenderer& renderer, uint8_t x, uint8_t y, float w);

// Screen size, scale factors and offset tables, computed once after the
// textures load; the cache starts at -1.
void setupTriangleRenderer(TriangleRenderer& renderer, const GlApi& gl, const TextureSlots& slots,
                           int width, int height);
// Both cache values to -1, when playback starts.
void resetTriangleCache(TriangleRenderer& renderer);
// `record` holds the 26 bytes of a triangle record, type byte included.
// Draws nothing (and changes no cache value) while `skipPresent` is set.
// A triangle with a vertex of depth 0 (w infinite) sends its state calls and
// updates the cache like any other, but is not drawn.
void drawTriangle(TriangleRenderer& renderer, const uint8_t* record, bool skipPresent);
// The pixels a triangle record can touch: the box of its vertices' landing
// points with a pixel to spare for rounding, within the picture; never less
// than the GL rasterises (clipping only takes away). Empty for a triangle
// that is not drawn (a vertex of depth 0).
PixelBox triangleBox(const TriangleRenderer& renderer, const uint8_t* record);
// The smallest box holding both.
PixelBox unitedBoxes(const PixelBox& a, const PixelBox& b);

// Pixels as a few boxes: a new box joins the one it grows least once all
// are in use, so the region holds every box added and stays near their area.
constexpr int kRegionBoxes = 16;
struct PixelRegion {
  PixelBox boxes[kRegionBoxes];
  int count;
};
void addToRegion(PixelRegion& region, const PixelBox& box);

}  // namespace drec
