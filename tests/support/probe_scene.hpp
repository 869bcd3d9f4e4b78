// What the picture tests draw and look for: two small textures, vertex
// colours picked by the colour rule, quads of two triangles and the
// recording they make, where a recorded screen position lands in a 640 x 480
// window, and colour comparison with a tolerance. Shared by the player's
// screenshot test and the tool's export test, which check the same layered
// recording.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "recording/format.hpp"
#include "tools/writer/bmp_writer.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec::test {

constexpr int16_t kProbeWidth = 640;
constexpr int16_t kProbeHeight = 480;

// Texture keys; the second has letters, so its file name must be upper case.
constexpr TextureKey kQuadrantsKey = 0x00000000DEC0DE01ull;
constexpr TextureKey kKeyedKey = 0xA1B2C3D4E5F60718ull;
constexpr int kQuadrantsSlot = 1;
constexpr int kKeyedSlot = 2;

// The quadrants texture: four colours, t = 0 being the picture's top row.
constexpr unsigned kTopLeft = 0xDC1E1E;
constexpr unsigned kTopRight = 0x1EDC1E;
constexpr unsigned kBottomLeft = 0x1E1EDC;
constexpr unsigned kBottomRight = 0xDCDC1E;
// The keyed texture: its left half near-black (made transparent by the
// colour key), its right half orange.
constexpr unsigned kNearBlack = 0x020301;
constexpr unsigned kOrange = 0xFF8000;

// Vertex colours (alpha nibble, red, green, blue). Red above 5 gives
// (r, g, b) / 15; red of 5 or less gives white; alpha nibble 0 gives alpha 0.5.
const PackedColor16 kRed = packColor(1, 15, 0, 0);
const PackedColor16 kYellow = packColor(1, 15, 15, 0);
const PackedColor16 kWhiteByRule = packColor(1, 5, 0, 0);
const PackedColor16 kLime = packColor(1, 6, 15, 0);
const PackedColor16 kViolet = packColor(1, 6, 0, 15);
const PackedColor16 kOpaqueWhite = packColor(1, 0, 0, 0);
const PackedColor16 kHalfWhite = packColor(0, 15, 15, 15);
const PackedColor16 kBlue = packColor(1, 6, 6, 15);

inline std::vector<uint8_t> eightByEightTexture(unsigned (*texel)(int x, int y)) {
  BmpWriteSpec layout;
  layout.width = 8;
  layout.height = 8;
  std::vector<uint32_t> pixels;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) pixels.push_back(texel(x, y));
  return writeBmp(layout, pixels);
}

inline std::vector<uint8_t> quadrantsTexture() {
  return eightByEightTexture([](int x, int y) {
    return y < 4 ? (x < 4 ? kTopLeft : kTopRight) : (x < 4 ? kBottomLeft : kBottomRight);
  });
}

inline std::vector<uint8_t> keyedTexture() {
  return eightByEightTexture([](int x, int) { return x < 4 ? kNearBlack : kOrange; });
}

// The texture's file name in the dump folder: 16 upper-case hex digits, ".bmp".
inline std::string textureName(TextureKey key) {
  char name[32];
  std::snprintf(name, sizeof name, "%016llX.bmp", static_cast<unsigned long long>(key));
  return name;
}

// Both textures' files in `folder` (made if need be). ROOT/Video/TexDump is
// where the player and the tool's default rule look for the textures of a
// recording in ROOT/Video/Stream.
inline bool writeProbeTextures(const std::string& folder) {
  return writeBytesToFile(folder + "/" + textureName(kQuadrantsKey), quadrantsTexture()) &&
         writeBytesToFile(folder + "/" + textureName(kKeyedKey), keyedTexture());
}

constexpr uint16_t kNearDepth = 16384;  // w = 4

// Two triangles over a box of the recorded screen; s and t run 0 to 255
// across it, t = 0 at its top.
struct Quad {
  int slot;
  int blend;
  uint8_t left, top, right, bottom;  // recorded screen, 1/255 units
  PackedColor16 color;
  uint16_t depth = kNearDepth;
  PackedColor16 firstTriangleColor = 0;  // 0: `color`
};

inline void writeQuad(RecordingWriter& writer, const Quad& quad) {
  const TriangleVertex topLeft{0, 0, quad.left, quad.top, quad.depth, quad.color};
  const TriangleVertex topRight{255, 0, quad.right, quad.top, quad.depth, quad.color};
  const TriangleVertex bottomLeft{0, 255, quad.left, quad.bottom, quad.depth, quad.color};
  const TriangleVertex bottomRight{255, 255, quad.right, quad.bottom, quad.depth, quad.color};
  TriangleVertex first[3] = {topLeft, topRight, bottomLeft};
  if (quad.firstTriangleColor)
    for (TriangleVertex& vertex : first) vertex.color = quad.firstTriangleColor;
  const TriangleVertex second[3] = {topRight, bottomRight, bottomLeft};
  const uint8_t state = triangleState(quad.slot, quad.blend);
  writeTriangle(writer, state, first);
  writeTriangle(writer, state, second);
}

struct Frame {
  float timeStamp;
  std::vector<Quad> quads;
};

// The frames as one recording of the probe size, the two textures in their
// slots when `withTextures`.
inline std::vector<uint8_t> probeRecording(const std::vector<Frame>& frames, bool withTextures) {
  TextureTable keys{};
  if (withTextures) {
    keys[kQuadrantsSlot] = kQuadrantsKey;
    keys[kKeyedSlot] = kKeyedKey;
  }
  RecordingWriter writer;
  beginRecording(writer, kProbeWidth, kProbeHeight, keys);
  for (const Frame& frame : frames) {
    for (const Quad& quad : frame.quads) writeQuad(writer, quad);
    writeFrameMark(writer, frame.timeStamp);
  }
  return finishRecording(writer);
}

// Where a recorded screen position lands in the window: scaled about the
// window's centre by H cot(30 degrees) / 1024.
inline int landX(double x) {
  const double scale = kProbeHeight * std::sqrt(3.0) / 1024.0;
  return static_cast<int>(
      std::lround(kProbeWidth / 2.0 + (x * kProbeWidth / 255.0 - kProbeWidth / 2.0) * scale));
}
inline int landY(double y) {
  const double scale = kProbeHeight * std::sqrt(3.0) / 1024.0;
  return static_cast<int>(
      std::lround(kProbeHeight / 2.0 + (y * kProbeHeight / 255.0 - kProbeHeight / 2.0) * scale));
}

// Every channel of 0xRRGGBB within `tolerance`.
inline bool near(unsigned actual, unsigned expected, int tolerance) {
  for (int shift : {16, 8, 0}) {
    const int a = static_cast<int>((actual >> shift) & 0xFF);
    const int e = static_cast<int>((expected >> shift) & 0xFF);
    if (std::abs(a - e) > tolerance) return false;
  }
  return true;
}

inline std::string hex(unsigned rgb) {
  char text[16];
  std::snprintf(text, sizeof text, "%06X", rgb);
  return text;
}

}  // namespace drec::test
