#include "render/bmp.hpp"

#include <bit>
#include <cstring>

#include "recording/format.hpp"

namespace drec {

bool cursorSeek(ByteCursor& cursor, size_t position) {
  if (position > cursor.size) return false;
  cursor.position = position;
  return true;
}

const uint8_t* cursorTake(ByteCursor& cursor, size_t count) {
  if (count > cursor.size - cursor.position) return nullptr;
  const uint8_t* start = cursor.bytes + cursor.position;
  cursor.position += count;
  return start;
}

namespace {

// A little-endian value of sizeof(T) bytes read with `load`; false, with
// nothing read, when too few bytes are left.
template <typename T, T (*load)(const uint8_t*)>
bool cursorRead(ByteCursor& cursor, T& value) {
  const uint8_t* p = cursorTake(cursor, sizeof(T));
  if (!p) return false;
  value = load(p);
  return true;
}

}  // namespace

bool cursorReadU16(ByteCursor& cursor, uint16_t& value) { return cursorRead<uint16_t, loadU16>(cursor, value); }
bool cursorReadU32(ByteCursor& cursor, uint32_t& value) { return cursorRead<uint32_t, loadU32>(cursor, value); }
bool cursorReadI32(ByteCursor& cursor, int32_t& value) { return cursorRead<int32_t, loadI32>(cursor, value); }

const char* bmpProblemText(BmpProblem problem) {
  switch (problem) {
    case BmpProblem::None: return "decodable";
    case BmpProblem::BadSignature: return "no \"BM\" signature";
    case BmpProblem::TruncatedHeader: return "headers cut off";
    case BmpProblem::CoreHeader: return "12-byte core header";
    case BmpProblem::BadHeaderSize: return "unknown info header size";
    case BmpProblem::BadPlanes: return "planes not 0 or 1";
    case BmpProblem::BadWidth: return "width 0 or less";
    case BmpProblem::BadHeight: return "height 0 or out of range";
    case BmpProblem::RunLength: return "run-length compression";
    case BmpProblem::BadCompression: return "unknown compression";
    case BmpProblem::BadDepth: return "unsupported depth";
    case BmpProblem::BitFieldsDepth: return "bit fields need 16 or 32 bits";
    case BmpProblem::TruncatedPalette: return "palette cut off";
  }
  return "unknown problem";
}

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kMaskOffset = 54;  // after a 40-byte info header, or inside a larger one

// A pixel's 4 bytes in memory order R, G, B, A, as one value to store.
inline uint32_t packRgba(uint32_t red, uint32_t green, uint32_t blue) {
  if constexpr (std::endian::native == std::endian::little) {
    return red | (green << 8) | (blue << 16) | 0xFF000000u;
  } else {
    return (red << 24) | (green << 16) | (blue << 8) | 0xFFu;
  }
}

inline void storePixel(uint8_t* destination, uint32_t pixel) {
  std::memcpy(destination, &pixel, 4);
}

// An n-bit value widened to 8 bits by repeating its bits from the top.
uint8_t widenBits(uint32_t value, int bits) {
  if (bits >= 8) return static_cast<uint8_t>(value);
  uint32_t result = 0;
  for (int position = 8 - bits;; position -= bits) {
    result |= position >= 0 ? value << position : value >> -position;
    if (position <= 0) break;
  }
  return static_cast<uint8_t>(result);
}

// One channel selected by a mask: shift down past the mask's low zero bits
// and any bits below the top 8, then widen through a table.
struct Channel {
  uint32_t mask;
  int shift;
  uint8_t widen[256];
};

void makeChannel(Channel& channel, uint32_t mask) {
  channel.mask = mask;
  channel.shift = 0;
  std::memset(channel.widen, 0, sizeof channel.widen);
  if (mask == 0) return;
  int low = std::countr_zero(mask);
  int bits = std::bit_width(mask >> low);
  int narrow = bits > 8 ? bits - 8 : 0;
  channel.shift = low + narrow;
  int kept = bits - narrow;
  for (uint32_t value = 0; value < (1u << kept); ++value) channel.widen[value] = widenBits(value, kept);
}

inline uint32_t channelValue(const Channel& channel, uint32_t pixel) {
  return channel.widen[(pixel & channel.mask) >> channel.shift];
}

void decodeRow1(const uint8_t* source, uint8_t* destination, int32_t width, const uint32_t* palette) {
  int32_t x = 0;
  for (; x + 8 <= width; x += 8) {
    uint32_t bits = source[x >> 3];
    for (int i = 0; i < 8; ++i) storePixel(destination + 4 * (x + i), palette[(bits >> (7 - i)) & 1]);
  }
  for (; x < width; ++x) storePixel(destination + 4 * x, palette[(source[x >> 3] >> (7 - (x & 7))) & 1]);
}

void decodeRow4(const uint8_t* source, uint8_t* destination, int32_t width, const uint32_t* palette) {
  int32_t x = 0;
  for (; x + 2 <= width; x += 2) {
    uint32_t pair = source[x >> 1];
    storePixel(destination + 4 * x, palette[pair >> 4]);
    storePixel(destination + 4 * x + 4, palette[pair & 15]);
  }
  if (x < width) storePixel(destination + 4 * x, palette[source[x >> 1] >> 4]);
}

void decodeRow8(const uint8_t* source, uint8_t* destination, int32_t width, const uint32_t* palette) {
  for (int32_t x = 0; x < width; ++x) storePixel(destination + 4 * x, palette[source[x]]);
}

void decodeRow16(const uint8_t* source, uint8_t* destination, int32_t width, const Channel* channels) {
  for (int32_t x = 0; x < width; ++x) {
    uint32_t pixel = loadU16(source + 2 * x);
    storePixel(destination + 4 * x, packRgba(channelValue(channels[0], pixel), channelValue(channels[1], pixel),
                                             channelValue(channels[2], pixel)));
  }
}

void decodeRow24(const uint8_t* source, uint8_t* destination, int32_t width) {
  for (int32_t x = 0; x < width; ++x) {
    const uint8_t* p = source + 3 * x;
    storePixel(destination + 4 * x, packRgba(p[2], p[1], p[0]));
  }
}

void decodeRow32(const uint8_t* source, uint8_t* destination, int32_t width) {
  for (int32_t x = 0; x < width; ++x) {
    const uint8_t* p = source + 4 * x;
    storePixel(destination + 4 * x, packRgba(p[2], p[1], p[0]));
  }
}

void decodeRow32Masked(const uint8_t* source, uint8_t* destination, int32_t width, const Channel* channels) {
  for (int32_t x = 0; x < width; ++x) {
    uint32_t pixel = loadU32(source + 4 * x);
    storePixel(destination + 4 * x, packRgba(channelValue(channels[0], pixel), channelValue(channels[1], pixel),
                                             channelValue(channels[2], pixel)));
  }
}

uint64_t rowPixelBytes(const BmpHeader& header) {
  return (static_cast<uint64_t>(header.width) * header.depth + 7) / 8;
}

int64_t rowsIn(const BmpHeader& header, uint64_t available) {
  uint64_t needed = rowPixelBytes(header);
  if (available < needed) return 0;
  uint64_t rows = (available - needed) / bmpRowStride(header) + 1;
  return rows < static_cast<uint64_t>(header.height) ? static_cast<int64_t>(rows) : header.height;
}

}  // namespace

BmpHeader readBmpHeader(const uint8_t* bytes, size_t size) {
  BmpHeader header{};
  ByteCursor cursor = makeCursor(bytes, size);
  const uint8_t* signature = cursorTake(cursor, 2);
  if (!signature || signature[0] != 'B' || signature[1] != 'M') {
    header.problem = BmpProblem::BadSignature;
    return header;
  }
  if (!cursorSeek(cursor, 10) || !cursorReadU32(cursor, header.dataOffset) ||
      !cursorReadU32(cursor, header.infoSize)) {
    header.problem = BmpProblem::TruncatedHeader;
    return header;
  }
  if (header.infoSize == 12) {
    header.problem = BmpProblem::CoreHeader;
    return header;
  }
  if (header.infoSize != 40 && header.infoSize != 56 && header.infoSize != 108 && header.infoSize != 124) {
    header.problem = BmpProblem::BadHeaderSize;
    return header;
  }
  if (size < kFileHeaderSize + header.infoSize || !cursorReadI32(cursor, header.width) ||
      !cursorReadI32(cursor, header.rawHeight) || !cursorReadU16(cursor, header.planes) ||
      !cursorReadU16(cursor, header.depth) || !cursorReadU32(cursor, header.compression)) {
    header.problem = BmpProblem::TruncatedHeader;
    return header;
  }
  header.topDown = header.rawHeight < 0;
  if (header.rawHeight != INT32_MIN) header.height = header.topDown ? -header.rawHeight : header.rawHeight;

  BmpProblem problem = BmpProblem::None;
  if (header.planes > 1) {
    problem = BmpProblem::BadPlanes;
  } else if (header.width <= 0) {
    problem = BmpProblem::BadWidth;
  } else if (header.height <= 0) {
    problem = BmpProblem::BadHeight;
  } else if (header.compression == 1 || header.compression == 2) {
    problem = BmpProblem::RunLength;
  } else if (header.compression != 0 && header.compression != 3) {
    // Top-down files are thereby also limited to compressions 0 and 3.
    problem = BmpProblem::BadCompression;
  } else if (header.depth != 1 && header.depth != 4 && header.depth != 8 && header.depth != 16 &&
             header.depth != 24 && header.depth != 32) {
    problem = BmpProblem::BadDepth;
  } else if (header.compression == 3 && header.depth != 16 && header.depth != 32) {
    problem = BmpProblem::BitFieldsDepth;
  }
  if (problem != BmpProblem::None) {
    header.problem = problem;
    return header;
  }

  if (header.compression == 3) {
    if (!cursorSeek(cursor, kMaskOffset) || !cursorReadU32(cursor, header.masks[0]) ||
        !cursorReadU32(cursor, header.masks[1]) || !cursorReadU32(cursor, header.masks[2])) {
      header.problem = BmpProblem::TruncatedHeader;
      return header;
    }
  } else if (header.depth == 16) {
    header.masks[0] = 0x7C00;
    header.masks[1] = 0x03E0;
    header.masks[2] = 0x001F;
  } else if (header.depth == 32) {
    header.masks[0] = 0xFF0000;
    header.masks[1] = 0x00FF00;
    header.masks[2] = 0x0000FF;
  }

  if (header.depth <= 8) {
    size_t entries = size_t{1} << header.depth;
    const uint8_t* palette = nullptr;
    if (cursorSeek(cursor, kFileHeaderSize + header.infoSize)) palette = cursorTake(cursor, 4 * entries);
    if (!palette) {
      header.problem = BmpProblem::TruncatedPalette;
      return header;
    }
    for (size_t i = 0; i < entries; ++i) {
      const uint8_t* entry = palette + 4 * i;
      header.palette[i] = packRgba(entry[2], entry[1], entry[0]);
    }
  }
  header.problem = BmpProblem::None;
  return header;
}

uint64_t bmpRowStride(const BmpHeader& header) {
  if (header.problem != BmpProblem::None) return 0;
  return (static_cast<uint64_t>(header.width) * header.depth + 31) / 32 * 4;
}

int64_t bmpRowsPresent(const BmpHeader& header, uint64_t fileSize) {
  if (header.problem != BmpProblem::None || fileSize <= header.dataOffset) return 0;
  return rowsIn(header, fileSize - header.dataOffset);
}

int64_t decodeBmpPixels(const BmpHeader& header, const uint8_t* pixelData, size_t pixelSize,
                        uint8_t* rgba, size_t rgbaSize) {
  if (header.problem != BmpProblem::None) return 0;
  // Width and height are below 2^31 here, so the products cannot overflow.
  uint64_t pixels = static_cast<uint64_t>(header.width) * static_cast<uint64_t>(header.height);
  if (pixels > rgbaSize / 4) return 0;
  int64_t rows = rowsIn(header, pixelSize);
  uint64_t stride = bmpRowStride(header);
  uint64_t outputStride = 4 * static_cast<uint64_t>(header.width);

  Channel channels[3];
  bool plain32 = header.masks[0] == 0xFF0000 && header.masks[1] == 0x00FF00 && header.masks[2] == 0x0000FF;
  if (header.depth == 16 || (header.depth == 32 && !plain32)) {
    for (int i = 0; i < 3; ++i) makeChannel(channels[i], header.masks[i]);
  }

  for (int64_t row = 0; row < rows; ++row) {
    const uint8_t* source = pixelData + static_cast<uint64_t>(row) * stride;
    int64_t pictureRow = header.topDown ? row : header.height - 1 - row;
    uint8_t* destination = rgba + static_cast<uint64_t>(pictureRow) * outputStride;
    switch (header.depth) {
      case 1: decodeRow1(source, destination, header.width, header.palette); break;
      case 4: decodeRow4(source, destination, header.width, header.palette); break;
      case 8: decodeRow8(source, destination, header.width, header.palette); break;
      case 16: decodeRow16(source, destination, header.width, channels); break;
      case 24: decodeRow24(source, destination, header.width); break;
      default:
        if (plain32) {
          decodeRow32(source, destination, header.width);
        } else {
          decodeRow32Masked(source, destination, header.width, channels);
        }
        break;
    }
  }
  return rows;
}

int64_t decodeBmp(const uint8_t* bytes, size_t size, uint8_t* rgba, size_t rgbaSize, BmpProblem* problem) {
  BmpHeader header = readBmpHeader(bytes, size);
  if (problem) *problem = header.problem;
  if (header.problem != BmpProblem::None || header.dataOffset >= size) return 0;
  return decodeBmpPixels(header, bytes + header.dataOffset, size - header.dataOffset, rgba, rgbaSize);
}

void applyColourKey(uint8_t* rgba, size_t pixelCount) {
  for (size_t i = 0; i < pixelCount; ++i) {
    uint8_t* pixel = rgba + 4 * i;
    pixel[3] = ((pixel[0] | pixel[1] | pixel[2]) & 0xFC) ? 255 : 0;
  }
}

TextureSize textureSizeOf(const uint8_t* bytes, size_t size, int32_t maxSide) {
  uint8_t fields[26] = {};
  if (size > 0) std::memcpy(fields, bytes, size < sizeof fields ? size : sizeof fields);
  TextureSize result{false, loadI32(fields + 18), loadI32(fields + 22), nullptr};
  if (loadU32(fields + 14) == 12) {
    result.reason = "core header: no width and height at offsets 18 and 22";
    return result;
  }
  if (result.height == INT32_MIN) {
    result.reason = "height out of range";
    return result;
  }
  if (result.height < 0) result.height = -result.height;
  int32_t limit = maxSide > 0 && maxSide < kMaxTextureSide ? maxSide : kMaxTextureSide;
  if (result.width <= 0 || result.height == 0) {
    result.reason = "width or height 0 or less";
  } else if (result.width > limit || result.height > limit) {
    result.reason = "side larger than the largest texture";
  } else if (static_cast<int64_t>(result.width) * result.height > kMaxTexturePixels) {
    result.reason = "more than 16,777,216 pixels";
  } else {
    result.fits = true;
  }
  return result;
}

BmpDescription describeBmp(const uint8_t* bytes, size_t size, int32_t maxSide) {
  BmpDescription description{};
  description.header = readBmpHeader(bytes, size);
  description.decodable = description.header.problem == BmpProblem::None;
  description.problem = bmpProblemText(description.header.problem);
  description.rowsPresent = bmpRowsPresent(description.header, size);
  description.texture = textureSizeOf(bytes, size, maxSide);
  return description;
}

}  // namespace drec
