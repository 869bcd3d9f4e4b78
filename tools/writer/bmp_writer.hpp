// The BMP writer: makes texture files of every kind the player reads, and
// deliberately damaged ones, for tests, the demo generator and the tool.
//
// Pixels are given top picture row first, one 32-bit value each, and written
// as the file stores them:
//   depths 1, 4, 8: the palette index;
//   depth 16: the 16-bit word (5-5-5 for compression 0, else per the masks);
//   depth 24: 0xRRGGBB (stored blue, green, red);
//   depth 32: the 32-bit word (0xXXRRGGBB for compression 0, else per the masks).
#pragma once
#include <cstdint>
#include <vector>

namespace drec {

struct BmpColor {
  uint8_t red;
  uint8_t green;
  uint8_t blue;
};

struct BmpWriteSpec {
  int32_t width = 1;
  int32_t height = 1;
  uint16_t depth = 24;
  uint32_t compression = 0;   // written as given: 1 and 2 mark run-length files
  uint32_t infoSize = 40;     // 12 (core), 40, 56, 108 or 124
  bool topDown = false;       // negative height, first stored row = top row
  // Red, green, blue, alpha masks. Written after a 40-byte header when the
  // compression is 3, and into the header's mask fields when it has them.
  uint32_t masks[4] = {0, 0, 0, 0};
  // Palette for depths 1, 4, 8: 2^depth entries are written, missing ones black.
  std::vector<BmpColor> palette = {};
  uint32_t gapBeforeData = 0;  // extra bytes between the palette and the pixels

  // Damage.
  bool badSignature = false;             // "MB" instead of "BM"
  uint16_t planes = 1;
  bool overrideWidth = false;            // write `widthField` instead of the width
  int32_t widthField = 0;
  bool overrideHeight = false;           // write `heightField` as the raw height
  int32_t heightField = 0;
  bool overrideDataOffset = false;
  uint32_t dataOffsetField = 0;
  int64_t keepBytes = -1;                // cut the file to this many bytes (-1: whole)
  bool omitPixels = false;               // headers (and palette) only: for huge claims
};

// The whole file. `pixels` holds width x height values (ignored with omitPixels).
std::vector<uint8_t> writeBmp(const BmpWriteSpec& layout, const std::vector<uint32_t>& pixels);

// Byte offset of the first pixel row in a file written from `layout`.
uint32_t bmpDataOffset(const BmpWriteSpec& layout);
// Bytes of one stored row, with its padding to 4 bytes.
uint32_t bmpStoredRowSize(const BmpWriteSpec& layout);

}  // namespace drec
