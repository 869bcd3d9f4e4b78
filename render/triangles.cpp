#include "render/triangles.hpp"

#include <array>

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

}  // namespace drec
