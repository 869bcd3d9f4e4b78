// The demo's texture pictures, drawn procedurally, and the BMP files they are
// stored in: one kind of file per picture, so that the demo carries every
// depth the player reads (4- and 8-bit palettes, 16-bit plain and with bit
// fields, 24-bit bottom-up and top-down, 32-bit plain and with bit fields).
// Near-black pixels (every channel 3 or less) are the colour key: the player
// makes them transparent, which is how trees, signs, the bridges and the car
// get their outlines.
#pragma once
#include <cstdint>
#include <vector>

#include "tools/demo/demo_scene.hpp"

namespace drec {

// Integer hashing only, so the demo is the same on every run and machine.
inline uint32_t mixBits(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  x ^= x >> 16;
  return x;
}

// A repeatable number in [0, 1) for a grid cell (a, b) and a salt.
inline double hashedFraction(int a, int b, uint32_t salt) {
  uint32_t h = mixBits(static_cast<uint32_t>(a) * 0x9E3779B1u ^
                       mixBits(static_cast<uint32_t>(b) * 0x85EBCA77u ^ mixBits(salt)));
  return h / 4294967296.0;
}

// Texture slots of the demo recording; slot 0 draws vertex colours alone.
enum DemoSlot : int {
  kSlotNone = 0,
  kSlotRoad = 1,
  kSlotKerb,
  kSlotHills,
  kSlotCloud,
  kSlotPine,
  kSlotRoundTree,
  kSlotChevron,
  kSlotBridge,
  kSlotBanner,
  kSlotCar,
  kSlotCarBraking,
  kSlotFont,
  kDemoSlotEnd,
};

// The HUD font: 45 glyphs in 3 rows of 15 cells, so that every cell edge
// falls on a whole 1/255 texture coordinate (17 across, 85 down).
constexpr int kFontColumns = 15;
constexpr int kFontRows = 3;
constexpr char kFontGlyphs[] = "0123456789:./- ABCDEFGHIJKLMNOPQRSTUVWXYZ!?%'";

// Every texture of the demo, in slot order, with its key and its file.
std::vector<DemoTexture> makeDemoTextures();

}  // namespace drec
