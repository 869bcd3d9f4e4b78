// The xwd decoder that the screenshot script and the windowed demo test
// read window dumps with: pixel order, byte order, padding, the window name
// and colour entries before the pixels, masks, and dumps it must refuse.
#include "tools/demo/xwd_image.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace drec {
namespace {

struct DumpSpec {
  uint32_t width = 2;
  uint32_t height = 2;
  uint32_t bitsPerPixel = 32;
  uint32_t byteOrder = 0;  // 0: least significant byte first
  uint32_t padding = 0;    // bytes after each row
  uint32_t masks[3] = {0xFF0000, 0x00FF00, 0x0000FF};
  std::string name;        // window name after the 100 header bytes
  uint32_t colours = 0;    // 12-byte colour entries before the pixels
  uint32_t version = 7;
  uint32_t format = 2;     // ZPixmap
  int dropBytes = 0;       // cut this many bytes off the end
};

void putBig32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

std::vector<uint8_t> dump(const DumpSpec& layout, const std::vector<uint32_t>& pixels) {
  uint32_t pixelBytes = layout.bitsPerPixel / 8;
  uint32_t bytesPerLine = layout.width * pixelBytes + layout.padding;
  uint32_t headerSize = 100 + static_cast<uint32_t>(layout.name.size());
  const uint32_t fields[25] = {headerSize, layout.version, layout.format, 24, layout.width, layout.height, 0,
                               layout.byteOrder, 32, 0, 32, layout.bitsPerPixel, bytesPerLine, 4,
                               layout.masks[0], layout.masks[1], layout.masks[2], 8, 256, layout.colours,
                               layout.width, layout.height, 0, 0, 0};
  std::vector<uint8_t> out;
  for (uint32_t field : fields) putBig32(out, field);
  out.insert(out.end(), layout.name.begin(), layout.name.end());
  out.insert(out.end(), layout.colours * 12, 0xEE);
  for (uint32_t y = 0; y < layout.height; ++y) {
    for (uint32_t x = 0; x < layout.width; ++x) {
      uint32_t pixel = pixels[y * layout.width + x];
      for (uint32_t i = 0; i < pixelBytes; ++i) {
        uint32_t shift = layout.byteOrder == 0 ? 8 * i : 8 * (pixelBytes - 1 - i);
        out.push_back(static_cast<uint8_t>(pixel >> shift));
      }
    }
    out.insert(out.end(), layout.padding, 0x77);
  }
  out.resize(out.size() - static_cast<size_t>(layout.dropBytes));
  return out;
}

struct Rgb {
  int red;
  int green;
  int blue;
  bool operator==(const Rgb&) const = default;
};

std::vector<Rgb> pixelsOf(const XwdImage& image) {
  std::vector<Rgb> pixels;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      PixelColour c = pixelAt(image, x, y);
      pixels.push_back(Rgb{c.red, c.green, c.blue});
    }
  }
  return pixels;
}

TEST(XwdImage, DecodesPixelsInOrder) {
  const std::vector<uint32_t> words = {0x102030, 0x405060, 0x708090, 0xA0B0C0};
  const std::vector<Rgb> expected = {{0x10, 0x20, 0x30}, {0x40, 0x50, 0x60}, {0x70, 0x80, 0x90},
                                     {0xA0, 0xB0, 0xC0}};
  struct Row {
    const char* name;
    DumpSpec layout;
  };
  DumpSpec lsb;
  DumpSpec msb;
  msb.byteOrder = 1;
  DumpSpec packed24;
  packed24.bitsPerPixel = 24;
  packed24.padding = 2;
  DumpSpec named;
  named.name = "drec-player";
  named.colours = 3;
  const Row rows[] = {{"32 bits, least significant first", lsb},
                      {"32 bits, most significant first", msb},
                      {"24 bits with row padding", packed24},
                      {"window name and colour entries before the pixels", named}};
  for (const Row& row : rows) {
    XwdImage image;
    std::string problem;
    std::vector<uint8_t> bytes = dump(row.layout, words);
    ASSERT_TRUE(decodeXwd(bytes.data(), bytes.size(), image, problem)) << row.name << ": " << problem;
    EXPECT_EQ(2, image.width) << row.name;
    EXPECT_EQ(2, image.height) << row.name;
    EXPECT_EQ(expected, pixelsOf(image)) << row.name;
  }
}

TEST(XwdImage, ChannelsFollowTheMasks) {
  DumpSpec layout;
  layout.width = 3;
  layout.height = 1;
  layout.masks[0] = 0x0000F800;  // 5-6-5 in the low half-word
  layout.masks[1] = 0x000007E0;
  layout.masks[2] = 0x0000001F;
  std::vector<uint8_t> bytes = dump(layout, {0xFFFF, 0x0000, 0xF800 | 0x0400 | 0x0010});
  XwdImage image;
  std::string problem;
  ASSERT_TRUE(decodeXwd(bytes.data(), bytes.size(), image, problem)) << problem;
  // Narrow channels widen by repeating their top bits.
  const std::vector<Rgb> expected = {{255, 255, 255}, {0, 0, 0}, {255, 130, 132}};
  EXPECT_EQ(expected, pixelsOf(image));
}

TEST(XwdImage, RefusesWhatItCannotRead) {
  const std::vector<uint32_t> words = {1, 2, 3, 4};
  struct Row {
    const char* name;
    DumpSpec layout;
    size_t keep;  // 0: the whole dump
  };
  DumpSpec cut;
  cut.dropBytes = 1;
  DumpSpec oldVersion;
  oldVersion.version = 6;
  DumpSpec planes;
  planes.format = 1;
  DumpSpec sixteen;
  sixteen.bitsPerPixel = 16;
  DumpSpec empty;
  empty.width = 0;
  const Row rows[] = {{"header cut short", DumpSpec{}, 99},
                      {"last row one byte short", cut, 0},
                      {"version 6", oldVersion, 0},
                      {"XY pixmap", planes, 0},
                      {"16 bits a pixel", sixteen, 0},
                      {"no columns", empty, 0}};
  for (const Row& row : rows) {
    std::vector<uint8_t> bytes = dump(row.layout, words);
    if (row.keep) bytes.resize(row.keep);
    XwdImage image;
    std::string problem;
    EXPECT_FALSE(decodeXwd(bytes.data(), bytes.size(), image, problem)) << row.name;
    EXPECT_FALSE(problem.empty()) << row.name;
  }
}

}  // namespace
}  // namespace drec
