#include "tools/demo/xwd_image.hpp"

namespace drec {
namespace {

constexpr size_t kHeaderFields = 25;
constexpr size_t kColourEntrySize = 12;

uint32_t bigEndian32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

int shiftOf(uint32_t mask) {
  int shift = 0;
  while (mask != 0 && (mask & 1u) == 0) {
    mask >>= 1;
    ++shift;
  }
  return shift;
}

// The top 8 bits of the channel selected by `mask`.
uint8_t channelOf(uint32_t pixel, uint32_t mask) {
  if (mask == 0) return 0;
  uint32_t value = (pixel & mask) >> shiftOf(mask);
  uint32_t top = mask >> shiftOf(mask);
  int bits = 0;
  while (top != 0) {
    top >>= 1;
    ++bits;
  }
  if (bits >= 8) return static_cast<uint8_t>(value >> (bits - 8));
  return static_cast<uint8_t>((value << (8 - bits)) | (value >> (2 * bits - 8 > 0 ? 2 * bits - 8 : 0)));
}

}  // namespace

bool decodeXwd(const uint8_t* bytes, size_t size, XwdImage& image, std::string& problem) {
  if (size < kHeaderFields * 4) {
    problem = "shorter than an xwd header";
    return false;
  }
  uint32_t field[kHeaderFields];
  for (size_t i = 0; i < kHeaderFields; ++i) field[i] = bigEndian32(bytes + 4 * i);
  const uint32_t headerSize = field[0], version = field[1], format = field[2];
  const uint32_t width = field[4], height = field[5], byteOrder = field[7];
  const uint32_t bitsPerPixel = field[11], bytesPerLine = field[12];
  const uint32_t masks[3] = {field[14], field[15], field[16]};
  const uint32_t colours = field[19];
  if (version != 7 || format != 2) {
    problem = "not a version-7 ZPixmap dump";
    return false;
  }
  if (bitsPerPixel != 24 && bitsPerPixel != 32) {
    problem = "pixels of " + std::to_string(bitsPerPixel) + " bits";
    return false;
  }
  if (width == 0 || height == 0 || width > 16384 || height > 16384 ||
      bytesPerLine < width * (bitsPerPixel / 8)) {
    problem = "unusable size";
    return false;
  }
  uint64_t dataOffset = static_cast<uint64_t>(headerSize) + static_cast<uint64_t>(colours) * kColourEntrySize;
  if (headerSize < kHeaderFields * 4 || dataOffset + static_cast<uint64_t>(bytesPerLine) * height > size) {
    problem = "pixel rows cut short";
    return false;
  }
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  image.rgb.assign(static_cast<size_t>(width) * height * 3, 0);
  const size_t pixelBytes = bitsPerPixel / 8;
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* row = bytes + dataOffset + static_cast<uint64_t>(y) * bytesPerLine;
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t* p = row + x * pixelBytes;
      uint32_t pixel = 0;
      for (size_t i = 0; i < pixelBytes; ++i) {
        size_t shift = byteOrder == 0 ? 8 * i : 8 * (pixelBytes - 1 - i);  // 0: least significant first
        pixel |= static_cast<uint32_t>(p[i]) << shift;
      }
      uint8_t* out = &image.rgb[(static_cast<size_t>(y) * width + x) * 3];
      for (int c = 0; c < 3; ++c) out[c] = channelOf(pixel, masks[c]);
    }
  }
  return true;
}

}  // namespace drec
