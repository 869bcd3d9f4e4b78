// Decoding of the BMP texture files, from bytes in memory.
//
// The file, little-endian throughout:
//
//   offset 0   "BM"
//   offset 2   file size (not read)
//   offset 6   two reserved 16-bit fields (not read)
//   offset 10  data offset: where the pixel rows start
//   offset 14  info header, its size first: 40, 56, 108 or 124 bytes are
//              decoded; 12 (the old core header) is not
//                +4  width (signed 32), +8 height (signed 32; negative: the
//                first row in the file is the top row of the picture)
//                +12 planes (16), +14 depth in bits (16), +16 compression
//                +40 red, green, blue masks in headers of 56 bytes and more
//   then       for compression 3 after a 40-byte header: red, green, blue
//              masks (3 x 32 bits)
//   then       for depths 1, 4, 8: the palette, 2^depth entries of blue,
//              green, red and an ignored byte
//   data       rows from the bottom of the picture up (or top down), each
//              padded to a multiple of 4 bytes; in 1- and 4-bit rows the
//              leftmost pixel is in the high bits of each byte
//
// Decoded pixels are RGBA bytes (alpha 255), top picture row first, rows of
// exactly width pixels. Pixels the decoding does not reach keep what the
// caller filled in.
#pragma once
#include <cstddef>
#include <cstdint>

namespace drec {

// Bytes that hold a BMP's file header, the largest info header with its masks
// and a 256-entry palette: what a decoder needs before the pixel rows.
constexpr size_t kBmpHeaderPrefixSize = 2048;

// A bounded read position over bytes in memory: every read is checked
// against the bytes really there and fails, reading nothing, past the end.
struct ByteCursor {
  const uint8_t* bytes;
  size_t size;
  size_t position;
};

inline ByteCursor makeCursor(const uint8_t* bytes, size_t size) {
  return ByteCursor{bytes, size, 0};
}
bool cursorSeek(ByteCursor& cursor, size_t position);
bool cursorReadU16(ByteCursor& cursor, uint16_t& value);
bool cursorReadU32(ByteCursor& cursor, uint32_t& value);
bool cursorReadI32(ByteCursor& cursor, int32_t& value);
// The next `count` bytes, or null (position unchanged) when fewer remain.
const uint8_t* cursorTake(ByteCursor& cursor, size_t count);

// Why a file cannot be decoded, in the order the checks run.
enum class BmpProblem {
  None,
  BadSignature,         // not "BM"
  TruncatedHeader,      // file header, info header or masks cut off
  CoreHeader,           // 12-byte info header
  BadHeaderSize,        // info header size other than 40, 56, 108, 124
  BadPlanes,            // planes other than 0 or 1
  BadWidth,             // width 0 or less
  BadHeight,            // height 0 (or the unrepresentable INT32_MIN)
  RunLength,            // compression 1 or 2
  BadCompression,       // compression other than 0, 1, 2, 3
  BadDepth,             // depth other than 1, 4, 8, 16, 24, 32
  BitFieldsDepth,       // compression 3 with a depth other than 16 or 32
  TruncatedPalette,     // palette of 2^depth entries cut off
};

const char* bmpProblemText(BmpProblem problem);

// What the headers say, checked. Good to describe a file even when it
// cannot be decoded: the fields read before the failing check are filled.
struct BmpHeader {
  BmpProblem problem;
  uint32_t dataOffset;
  uint32_t infoSize;
  int32_t width;
  int32_t rawHeight;  // as stored
  int32_t height;     // picture rows: |rawHeight|
  bool topDown;
  uint16_t planes;
  uint16_t depth;
  uint32_t compression;
  uint32_t masks[3];       // red, green, blue (16 and 32 bits)
  uint32_t palette[256];   // RGBA bytes in memory order, alpha 255
};

// Reads and checks the headers from the start of a file (the pixel data
// need not be present).
BmpHeader readBmpHeader(const uint8_t* bytes, size_t size);

// Bytes of one stored row, padding included (0 when the header is bad).
uint64_t bmpRowStride(const BmpHeader& header);
// Rows whose pixels lie wholly inside a file of `fileSize` bytes.
int64_t bmpRowsPresent(const BmpHeader& header, uint64_t fileSize);

// Decodes the pixel rows that start at the header's data offset. `pixelData`
// holds the file's bytes from there on (`pixelSize` of them, possibly fewer
// than the picture needs: the rows present are decoded, the rest of `rgba`
// is untouched). `rgba` holds width x height pixels of 4 bytes, top picture
// row first; `rgbaSize` is its size in bytes, and nothing is written when
// the picture would not fit. Returns the number of rows decoded.
int64_t decodeBmpPixels(const BmpHeader& header, const uint8_t* pixelData, size_t pixelSize,
                        uint8_t* rgba, size_t rgbaSize);

// The whole file in memory: header, then pixels. Returns rows decoded (0
// when the header fails; `problem`, if given, says why).
int64_t decodeBmp(const uint8_t* bytes, size_t size, uint8_t* rgba, size_t rgbaSize,
                  BmpProblem* problem = nullptr);

// Colour key: alpha 0 where red, green and blue are all 3 or less, else 255.
void applyColourKey(uint8_t* rgba, size_t pixelCount);

// The size a texture is given from its file: the width and height fields at
// offsets 18 and 22 (missing bytes count as zero), the height taken as its
// absolute value. A core header, a width or height of 0 or less, INT32_MIN,
// a side above `maxSide` or 16,384, or more than 16,777,216 pixels give no
// image; then `fits` is false and `reason` says why.
constexpr int32_t kMaxTextureSide = 16384;
constexpr int64_t kMaxTexturePixels = 16777216;
struct TextureSize {
  bool fits;
  int32_t width;
  int32_t height;
  const char* reason;  // null when it fits
};
TextureSize textureSizeOf(const uint8_t* bytes, size_t size, int32_t maxSide);

// A report on one whole file, for tools: what its headers say, whether it
// can be decoded (and why not), how many of its rows are there, and the
// texture the player would make of it.
struct BmpDescription {
  BmpHeader header;
  bool decodable;
  const char* problem;  // bmpProblemText of the header's problem
  int64_t rowsPresent;  // of header.height
  TextureSize texture;
};
BmpDescription describeBmp(const uint8_t* bytes, size_t size, int32_t maxSide = kMaxTextureSide);

}  // namespace drec
