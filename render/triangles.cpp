#include "render/triangles.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace drec {
namespace {

// Division rather than a multiplication by 1/255, so that 255 gives 1.0 exactly.
constexpr std::array<float, 256> makeTexCoords() {
  std::array<float, 256> table{};
  for (int i = 0; i < 256; ++i) table[i] = static_cast<float>(i / 255.0);
  return table;
}

// Vertex colours by colorIndex: 0 to 4095 for a non-zero alpha nibble, with
// the red rule applied; 4096 to 8191 for alpha nibble 0 (half transparent).
// One lookup per vertex instead of the rule's branches.
constexpr int kColorCount = 8192;

// The alpha nibble only selects one of the table's two halves.
constexpr uint32_t kColorHalf[16] = {0x1000, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

constexpr uint32_t colorIndex(PackedColor16 color) {
  return kColorHalf[color >> 12] + (color & 0xFFFu);
}

constexpr std::array<VertexColor, kColorCount> makeColors() {
  std::array<VertexColor, kColorCount> table{};
  for (int index = 0; index < kColorCount; ++index) {
    const int red = (index >> 8) & 15;
    const VertexColor rgb{static_cast<float>(red / 15.0), static_cast<float>(((index >> 4) & 15) / 15.0),
                          static_cast<float>((index & 15) / 15.0), 1.0f};
    if (index >= 0x1000) {
      table[index] = VertexColor{rgb.red, rgb.green, rgb.blue, 0.5f};
    } else if (red > 5) {
      table[index] = rgb;
    } else {
      table[index] = VertexColor{1.0f, 1.0f, 1.0f, 1.0f};
    }
  }
  return table;
}

constexpr std::array<float, 256> kTexCoords = makeTexCoords();
constexpr std::array<VertexColor, kColorCount> kColors = makeColors();
static_assert(kTexCoords[255] == 1.0f);

inline float wOf(uint16_t depth) { return 1.0f / static_cast<float>(depth / 65535.0); }

// Vertex fields, at these offsets of each 8-byte vertex (see recording/format.hpp).
constexpr int kVertexS = 0;
constexpr int kVertexT = 1;
constexpr int kVertexX = 2;
constexpr int kVertexY = 3;
constexpr int kVertexDepth = 4;
constexpr int kVertexColor = 6;
constexpr int kFirstVertex = 2;

// The record's fields are read in place rather than through decodeTriangle:
// its out-of-line copy of the record costs about a fifth of the instructions
// we spend per triangle. The triangle test checks the drawing against it.
inline void sendVertex(const GlApi& gl, const TriangleRenderer& renderer, const uint8_t* vertex) {
  gl.TexCoord2f(kTexCoords[vertex[kVertexS]], kTexCoords[vertex[kVertexT]]);
  const VertexColor& color = kColors[colorIndex(loadU16(vertex + kVertexColor))];
  gl.Color4f(color.red, color.green, color.blue, color.alpha);
  const float w = wOf(loadU16(vertex + kVertexDepth));
  gl.Vertex3f(w * renderer.xOffsets[vertex[kVertexX]], w * renderer.yOffsets[vertex[kVertexY]], -w);
}

}  // namespace

VertexColor colorFromPacked(PackedColor16 color) { return kColors[colorIndex(color)]; }

float texCoordOf(uint8_t value) { return kTexCoords[value]; }

float vertexW(uint16_t depth) { return wOf(depth); }

VertexPosition vertexPosition(const TriangleRenderer& renderer, uint8_t x, uint8_t y, float w) {
  return VertexPosition{w * renderer.xOffsets[x], w * renderer.yOffsets[y], -w};
}

void setupTriangleRenderer(TriangleRenderer& renderer, const GlApi& gl, const TextureSlots& slots,
                           int width, int height) {
  renderer.gl = &gl;
  renderer.slots = &slots;
  renderer.screenWidth = width;
  renderer.screenHeight = height;
  renderer.xScale = static_cast<float>(width / 255.0);
  renderer.yScale = static_cast<float>(height / 255.0);
  // Dividing by 512 is exact, so w * offset rounds exactly as (w / 512) * (x xScale - W / 2).
  const float halfWidth = static_cast<float>(width * 0.5);
  const float halfHeight = static_cast<float>(height * 0.5);
  for (int i = 0; i < 256; ++i) {
    const float position = static_cast<float>(i);
    renderer.xOffsets[i] = (position * renderer.xScale - halfWidth) * (1.0f / 512.0f);
    renderer.yOffsets[i] = (halfHeight - position * renderer.yScale) * (1.0f / 512.0f);
  }
  // The projection's factors as the perspective set up in renderSetup makes
  // them (a 60 degree field of view): clip x = (cot / aspect) X, clip y =
  // cot Y, clip w = w, and the viewport maps [-1, 1] onto the picture.
  const double halfAngle = 30.0 * 3.14159265358979323846 / 180.0;
  const double cotangent = std::cos(halfAngle) / std::sin(halfAngle);
  const double aspect = static_cast<double>(width) / height;
  for (int i = 0; i < 256; ++i) {
    renderer.xPixels[i] =
        static_cast<float>((cotangent / aspect * renderer.xOffsets[i] + 1.0) * width * 0.5);
    renderer.yPixels[i] = static_cast<float>((cotangent * renderer.yOffsets[i] + 1.0) * height * 0.5);
  }
  resetTriangleCache(renderer);
}

void resetTriangleCache(TriangleRenderer& renderer) {
  renderer.cache.currentSlot = -1;
  renderer.cache.currentBlend = -1;
}

void drawTriangle(TriangleRenderer& renderer, const uint8_t* record, bool skipPresent) {
  if (skipPresent) return;
  const GlApi& gl = *renderer.gl;
  const uint8_t state = record[1];

  const int slot = textureSlotOf(state);
  if (slot != renderer.cache.currentSlot) {
    gl.BindTexture(GL_TEXTURE_2D, renderer.slots->names[slot]);
    renderer.cache.currentSlot = slot;
  }
  const int mode = blendModeOf(state);
  if (mode != renderer.cache.currentBlend) {
    // Modes 3 to 7 send nothing: the last 0, 1 or 2 stays in force.
    if (mode == 0) {
      gl.Disable(GL_BLEND);
    } else if (mode == 1) {
      gl.Enable(GL_BLEND);
      gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    } else if (mode == 2) {
      gl.Enable(GL_BLEND);
      gl.BlendFunc(GL_ZERO, GL_ONE);
    }
    renderer.cache.currentBlend = mode;
  }

  // A depth of 0 makes w infinite and the vertex meaningless; such a triangle
  // is dropped after its state is handled, so the cache follows the recording.
  const uint8_t* vertex0 = record + kFirstVertex;
  const uint8_t* vertex1 = vertex0 + kVertexSize;
  const uint8_t* vertex2 = vertex1 + kVertexSize;
  if (loadU16(vertex0 + kVertexDepth) == 0 || loadU16(vertex1 + kVertexDepth) == 0 ||
      loadU16(vertex2 + kVertexDepth) == 0) {
    return;
  }

  gl.Begin(GL_TRIANGLES);
  sendVertex(gl, renderer, vertex0);
  sendVertex(gl, renderer, vertex1);
  sendVertex(gl, renderer, vertex2);
  gl.End();
}

PixelBox triangleBox(const TriangleRenderer& renderer, const uint8_t* record) {
  const uint8_t* vertex0 = record + kFirstVertex;
  const uint8_t* vertices[3] = {vertex0, vertex0 + kVertexSize, vertex0 + 2 * kVertexSize};
  float left = 1e9f, right = -1e9f, bottom = 1e9f, top = -1e9f;
  for (const uint8_t* vertex : vertices) {
    if (loadU16(vertex + kVertexDepth) == 0) return PixelBox{0, 0, 0, 0};
    const float x = renderer.xPixels[vertex[kVertexX]];
    const float y = renderer.yPixels[vertex[kVertexY]];
    left = std::min(left, x);
    right = std::max(right, x);
    bottom = std::min(bottom, y);
    top = std::max(top, y);
  }
  PixelBox box{static_cast<int>(std::floor(left)) - 1, static_cast<int>(std::floor(bottom)) - 1,
               static_cast<int>(std::ceil(right)) + 1, static_cast<int>(std::ceil(top)) + 1};
  box.x0 = std::max(box.x0, 0);
  box.y0 = std::max(box.y0, 0);
  box.x1 = std::min(box.x1, renderer.screenWidth);
  box.y1 = std::min(box.y1, renderer.screenHeight);
  return box;
}

PixelBox unitedBoxes(const PixelBox& a, const PixelBox& b) {
  if (a.x0 >= a.x1 || a.y0 >= a.y1) return b;
  if (b.x0 >= b.x1 || b.y0 >= b.y1) return a;
  return PixelBox{std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1),
                  std::max(a.y1, b.y1)};
}

namespace {

int64_t areaOf(const PixelBox& box) {
  return static_cast<int64_t>(box.x1 - box.x0) * (box.y1 - box.y0);
}

bool contains(const PixelBox& outer, const PixelBox& inner) {
  return outer.x0 <= inner.x0 && outer.y0 <= inner.y0 && outer.x1 >= inner.x1 &&
         outer.y1 >= inner.y1;
}

}  // namespace

void addToRegion(PixelRegion& region, const PixelBox& box) {
  if (box.x0 >= box.x1 || box.y0 >= box.y1) return;
  for (int i = 0; i < region.count; ++i)
    if (contains(region.boxes[i], box)) return;
  if (region.count < kRegionBoxes) {
    region.boxes[region.count++] = box;
    return;
  }
  int best = 0;
  int64_t bestGrowth = INT64_MAX;
  for (int i = 0; i < region.count; ++i) {
    const int64_t growth = areaOf(unitedBoxes(region.boxes[i], box)) - areaOf(region.boxes[i]);
    if (growth < bestGrowth) {
      bestGrowth = growth;
      best = i;
    }
  }
  region.boxes[best] = unitedBoxes(region.boxes[best], box);
}

}  // namespace drec
