#include "tests/support/xwd_image.hpp"

#include <cstdio>

#include "tests/support/x11_tools.hpp"

namespace drec::test {
namespace {

constexpr size_t kFieldCount = 25;
constexpr size_t kColorEntrySize = 12;
constexpr uint32_t kFileVersion = 7;
constexpr uint32_t kZPixmap = 2;
constexpr uint32_t kTrueColor = 4;
constexpr uint32_t kDirectColor = 5;
constexpr uint32_t kMaximumSide = 16384;

// Header fields by index, in the order the file stores them.
enum Field : size_t {
  kHeaderSize = 0,
  kVersion = 1,
  kPixmapFormat = 2,
  kWidth = 4,
  kHeight = 5,
  kByteOrder = 7,
  kBitsPerPixel = 11,
  kBytesPerLine = 12,
  kVisualClass = 13,
  kRedMask = 14,
  kGreenMask = 15,
  kBlueMask = 16,
  kColorCount = 19,
};

uint32_t bigEndian32(const std::vector<uint8_t>& bytes, size_t at) {
  return (uint32_t{bytes[at]} << 24) | (uint32_t{bytes[at + 1]} << 16) |
         (uint32_t{bytes[at + 2]} << 8) | uint32_t{bytes[at + 3]};
}

// An n-bit channel selected by `mask`, widened or narrowed to 8 bits.
uint8_t channel(uint32_t value, uint32_t mask) {
  int shift = 0;
  while (!((mask >> shift) & 1)) ++shift;
  const uint64_t maximum = mask >> shift;
  const uint64_t level = (value & mask) >> shift;
  return static_cast<uint8_t>((level * 255 + maximum / 2) / maximum);
}

bool fail(std::string& error, const std::string& why) {
  error = why;
  return false;
}

}  // namespace

unsigned RgbImage::pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return 0;
  const size_t at = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
  return (unsigned{rgb[at]} << 16) | (unsigned{rgb[at + 1]} << 8) | unsigned{rgb[at + 2]};
}

bool decodeXwd(const std::vector<uint8_t>& file, RgbImage& image, std::string& error) {
  image = RgbImage{};
  if (file.size() < kFieldCount * 4) return fail(error, "shorter than the xwd header");
  uint32_t field[kFieldCount];
  for (size_t i = 0; i < kFieldCount; ++i) field[i] = bigEndian32(file, i * 4);

  if (field[kVersion] != kFileVersion) return fail(error, "not an xwd file of version 7");
  if (field[kHeaderSize] < kFieldCount * 4 || field[kHeaderSize] > file.size())
    return fail(error, "header size out of range");
  if (field[kPixmapFormat] != kZPixmap) return fail(error, "not a ZPixmap image");
  if (field[kVisualClass] != kTrueColor && field[kVisualClass] != kDirectColor)
    return fail(error, "not a true-colour visual");
  const uint32_t width = field[kWidth];
  const uint32_t height = field[kHeight];
  if (width == 0 || height == 0 || width > kMaximumSide || height > kMaximumSide)
    return fail(error, "image size out of range");
  const uint32_t bitsPerPixel = field[kBitsPerPixel];
  if (bitsPerPixel != 16 && bitsPerPixel != 24 && bitsPerPixel != 32)
    return fail(error, "unsupported bits per pixel");
  const uint32_t bytesPerPixel = bitsPerPixel / 8;
  const uint32_t bytesPerLine = field[kBytesPerLine];
  if (bytesPerLine < width * bytesPerPixel) return fail(error, "rows shorter than the width");
  if (field[kByteOrder] > 1) return fail(error, "unknown byte order");
  const bool mostSignificantFirst = field[kByteOrder] == 1;
  const uint32_t masks[3] = {field[kRedMask], field[kGreenMask], field[kBlueMask]};
  for (uint32_t mask : masks)
    if (mask == 0) return fail(error, "a colour mask is empty");
  if (field[kColorCount] > 1u << 16) return fail(error, "colour map too large");

  const uint64_t dataOffset = uint64_t{field[kHeaderSize]} + uint64_t{field[kColorCount]} * kColorEntrySize;
  const uint64_t dataSize = uint64_t{bytesPerLine} * height;
  if (dataOffset + dataSize > file.size()) return fail(error, "image data cut short");

  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  image.rgb.resize(size_t{width} * height * 3);
  for (uint32_t y = 0; y < height; ++y) {
    const size_t row = static_cast<size_t>(dataOffset + uint64_t{y} * bytesPerLine);
    for (uint32_t x = 0; x < width; ++x) {
      const size_t at = row + size_t{x} * bytesPerPixel;
      uint32_t value = 0;
      for (uint32_t b = 0; b < bytesPerPixel; ++b) {
        const uint32_t byte = file[at + b];
        value |= mostSignificantFirst ? byte << (8 * (bytesPerPixel - 1 - b)) : byte << (8 * b);
      }
      uint8_t* out = &image.rgb[(size_t{y} * width + x) * 3];
      for (int c = 0; c < 3; ++c) out[c] = channel(value, masks[c]);
    }
  }
  return true;
}

bool captureWindow(unsigned long window, RgbImage& image, std::string& error) {
  std::vector<std::string> command = {"xwd", "-silent"};
  if (window == 0) {
    command.push_back("-root");
  } else {
    char id[32];
    std::snprintf(id, sizeof id, "0x%lx", window);
    command.push_back("-id");
    command.push_back(id);
  }
  std::string output;
  if (!runTool(command, 20.0, &output)) return fail(error, "xwd failed or timed out");
  return decodeXwd(std::vector<uint8_t>(output.begin(), output.end()), image, error);
}

}  // namespace drec::test
