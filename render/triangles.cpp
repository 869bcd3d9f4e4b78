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

constexpr std::array<float, 16> makeNibbles() {
  std::array<float, 16> table{};
  for (int i = 0; i < 16; ++i) table[i] = static_cast<float>(i / 15.0);
  return table;
}

constexpr std::array<float, 256> kTexCoords = makeTexCoords();
constexpr std::array<float, 16> kNibbles = makeNibbles();
static_assert(kTexCoords[255] == 1.0f && kNibbles[15] == 1.0f);

}  // namespace

VertexColor colorFromPacked(PackedColor16 color) {
  const int red = (color >> 8) & 15;
  const VertexColor rgb{kNibbles[red], kNibbles[(color >> 4) & 15], kNibbles[color & 15], 1.0f};
  if ((color >> 12) == 0) return VertexColor{rgb.red, rgb.green, rgb.blue, 0.5f};
  if (red > 5) return rgb;
  return VertexColor{1.0f, 1.0f, 1.0f, 1.0f};
}

float texCoordOf(uint8_t value) { return kTexCoords[value]; }

float vertexW(uint16_t depth) { return 1.0f / static_cast<float>(depth / 65535.0); }

VertexPosition vertexPosition(const TriangleRenderer& renderer, uint8_t x, uint8_t y, float w) {
  const float k = w * (1.0f / 512.0f);
  return VertexPosition{k * (static_cast<float>(x) * renderer.xScale - renderer.halfWidth),
                        k * (renderer.halfHeight - static_cast<float>(y) * renderer.yScale), -w};
}

void setupTriangleRenderer(TriangleRenderer& renderer, const GlApi& gl, const TextureSlots& slots,
                           int width, int height) {
  renderer.gl = &gl;
  renderer.slots = &slots;
  renderer.screenWidth = width;
  renderer.screenHeight = height;
  renderer.xScale = static_cast<float>(width / 255.0);
  renderer.yScale = static_cast<float>(height / 255.0);
  renderer.halfWidth = static_cast<float>(width * 0.5);
  renderer.halfHeight = static_cast<float>(height * 0.5);
  resetTriangleCache(renderer);
}

void resetTriangleCache(TriangleRenderer& renderer) {
  renderer.cache.currentSlot = -1;
  renderer.cache.currentBlend = -1;
}

void drawTriangle(TriangleRenderer& renderer, const uint8_t* record, bool skipPresent) {
  if (skipPresent) return;
  const TexturedTriangle triangle = decodeTriangle(record);
  const GlApi& gl = *renderer.gl;

  const int slot = textureSlotOf(triangle.state);
  if (slot != renderer.cache.currentSlot) {
    gl.BindTexture(GL_TEXTURE_2D, renderer.slots->names[slot]);
    renderer.cache.currentSlot = slot;
  }
  const int mode = blendModeOf(triangle.state);
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
  const TriangleVertex* vertices = triangle.vertices;
  if (vertices[0].depth == 0 || vertices[1].depth == 0 || vertices[2].depth == 0) return;

  gl.Begin(GL_TRIANGLES);
  for (const TriangleVertex& vertex : triangle.vertices) {
    gl.TexCoord2f(kTexCoords[vertex.s], kTexCoords[vertex.t]);
    const float w = vertexW(vertex.depth);
    const VertexColor color = colorFromPacked(vertex.color);
    gl.Color4f(color.red, color.green, color.blue, color.alpha);
    const VertexPosition position = vertexPosition(renderer, vertex.x, vertex.y, w);
    gl.Vertex3f(position.x, position.y, position.z);
  }
  gl.End();
}

}  // namespace drec
