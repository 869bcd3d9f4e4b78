// BMP decoding and the texture load loop, without a GL context: files come
// from the BMP writer, GL calls go to a recorder, and a counting allocator
// watches what a hostile header makes the loader allocate.
#include "render/bmp.hpp"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "render/textures.hpp"
#include "tests/support/captured_console.hpp"
#include "tests/support/gl_recorder.hpp"
#include "tools/writer/bmp_writer.hpp"
#include "tools/writer/memory_files.hpp"

// The largest single allocation made while `gWatching` is set.
namespace {
std::atomic<bool> gWatching{false};
std::atomic<size_t> gLargestAllocation{0};

void* countedAllocation(size_t size) {
  if (gWatching.load()) {
    size_t seen = gLargestAllocation.load();
    while (size > seen && !gLargestAllocation.compare_exchange_weak(seen, size)) {
    }
  }
  void* block = std::malloc(size ? size : 1);
  if (!block) std::abort();
  return block;
}
}  // namespace

void* operator new(size_t size) { return countedAllocation(size); }
void* operator new[](size_t size) { return countedAllocation(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
void operator delete[](void* block, size_t) noexcept { std::free(block); }

namespace drec {
namespace {

using test::CapturedConsole;
using test::GlCall;
using test::GlFunction;
using test::GlRecorder;

struct Rgba {
  uint8_t r, g, b, a;
  bool operator==(const Rgba&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Rgba& p) {
  return out << "(" << int(p.r) << "," << int(p.g) << "," << int(p.b) << "," << int(p.a) << ")";
}

constexpr Rgba kMagenta{255, 0, 255, 255};

// Magenta-filled picture of the file's own size (taken from the layout), then decoded.
struct Decoded {
  std::vector<Rgba> pixels;
  int64_t rows;
  BmpProblem problem;
};

Decoded decodeInto(const std::vector<uint8_t>& file, int32_t width, int32_t height) {
  Decoded result{std::vector<Rgba>(static_cast<size_t>(width) * height, kMagenta), 0, BmpProblem::None};
  result.rows = decodeBmp(file.data(), file.size(), reinterpret_cast<uint8_t*>(result.pixels.data()),
                          result.pixels.size() * 4, &result.problem);
  return result;
}

Rgba opaque(uint32_t rgb) {
  return Rgba{static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8), static_cast<uint8_t>(rgb), 255};
}

std::vector<Rgba> opaqueAll(const std::vector<uint32_t>& rgbs) {
  std::vector<Rgba> result;
  for (uint32_t rgb : rgbs) result.push_back(opaque(rgb));
  return result;
}

std::vector<BmpColor> testPalette(int entries) {
  std::vector<BmpColor> palette;
  for (int i = 0; i < entries; ++i) {
    palette.push_back(BmpColor{static_cast<uint8_t>(i * 7 + 1), static_cast<uint8_t>(255 - i),
                               static_cast<uint8_t>(i * 3 + 100)});
  }
  return palette;
}

Rgba paletteColour(int index) {
  return Rgba{static_cast<uint8_t>(index * 7 + 1), static_cast<uint8_t>(255 - index),
              static_cast<uint8_t>(index * 3 + 100), 255};
}

struct DecodeCase {
  const char* name;
  BmpWriteSpec layout;
  std::vector<uint32_t> stored;  // as written, top picture row first
  std::vector<Rgba> expected;    // top picture row first
};

void checkDecodes(const DecodeCase& row) {
  std::vector<uint8_t> file = writeBmp(row.layout, row.stored);
  Decoded decoded = decodeInto(file, row.layout.width, row.layout.height);
  ASSERT_EQ(BmpProblem::None, decoded.problem) << row.name << ": " << bmpProblemText(decoded.problem);
  EXPECT_EQ(row.layout.height, decoded.rows) << row.name;
  ASSERT_EQ(row.expected.size(), decoded.pixels.size()) << row.name;
  for (size_t i = 0; i < row.expected.size(); ++i) {
    EXPECT_EQ(row.expected[i], decoded.pixels[i])
        << row.name << ": pixel " << i % row.layout.width << "," << i / row.layout.width;
  }
}

// Every depth with compression 0. Odd widths make every row need padding.
TEST(BmpDecode, EveryDepthPlain) {
  const DecodeCase cases[] = {
      {"1 bit, 11 x 2",
       {.width = 11, .height = 2, .depth = 1, .palette = testPalette(2)},
       {1, 0, 0, 0, 0, 0, 0, 1, 0, 1, 1,  //
        0, 1, 1, 0, 1, 0, 0, 0, 1, 0, 0},
       {paletteColour(1), paletteColour(0), paletteColour(0), paletteColour(0), paletteColour(0),
        paletteColour(0), paletteColour(0), paletteColour(1), paletteColour(0), paletteColour(1),
        paletteColour(1),  //
        paletteColour(0), paletteColour(1), paletteColour(1), paletteColour(0), paletteColour(1),
        paletteColour(0), paletteColour(0), paletteColour(0), paletteColour(1), paletteColour(0),
        paletteColour(0)}},
      {"4 bit, 5 x 3",
       {.width = 5, .height = 3, .depth = 4, .palette = testPalette(16)},
       {0, 1, 2, 3, 4, 15, 14, 13, 12, 11, 5, 10, 6, 9, 7},
       {paletteColour(0), paletteColour(1), paletteColour(2), paletteColour(3), paletteColour(4),
        paletteColour(15), paletteColour(14), paletteColour(13), paletteColour(12), paletteColour(11),
        paletteColour(5), paletteColour(10), paletteColour(6), paletteColour(9), paletteColour(7)}},
      {"8 bit, 3 x 2",
       {.width = 3, .height = 2, .depth = 8, .palette = testPalette(256)},
       {0, 255, 128, 1, 254, 77},
       {paletteColour(0), paletteColour(255), paletteColour(128), paletteColour(1), paletteColour(254),
        paletteColour(77)}},
      {"16 bit 5-5-5, 3 x 2",
       {.width = 3, .height = 2, .depth = 16},
       {0x7C00, 0x03E0, 0x001F,  // pure red, green, blue
        0xC210, 0x0421, 0x7FFF},  // 16,16,16 with bit 15 set; 1,1,1; white
       opaqueAll({0xFF0000, 0x00FF00, 0x0000FF, 0x848484, 0x080808, 0xFFFFFF})},
      {"24 bit, 3 x 2",
       {.width = 3, .height = 2, .depth = 24},
       {0x123456, 0xABCDEF, 0x000001, 0x010000, 0xFF8000, 0x7F7F7F},
       opaqueAll({0x123456, 0xABCDEF, 0x000001, 0x010000, 0xFF8000, 0x7F7F7F})},
      {"32 bit, fourth byte ignored, 3 x 2",
       {.width = 3, .height = 2, .depth = 32},
       {0xAB123456, 0x00ABCDEF, 0xFF000001, 0x12010000, 0x00FF8000, 0x807F7F7F},
       opaqueAll({0x123456, 0xABCDEF, 0x000001, 0x010000, 0xFF8000, 0x7F7F7F})},
  };
  for (const DecodeCase& row : cases) checkDecodes(row);
}

TEST(BmpDecode, BitFields) {
  const DecodeCase cases[] = {
      {"16 bit 5-6-5 after a 40-byte header",
       {.width = 2, .height = 2, .depth = 16, .compression = 3, .masks = {0xF800, 0x07E0, 0x001F, 0}},
       {0xF800, 0x07E0, 0x0020, 0x8410},
       // g 1 of 6 bits widens to 4; 16/32/16 widen to 132/130/132
       opaqueAll({0xFF0000, 0x00FF00, 0x000400, 0x848284})},
      {"32 bit 10-bit channels in a 124-byte header",
       {.width = 2, .height = 1, .depth = 32, .compression = 3, .infoSize = 124,
        .masks = {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000}},
       {(0x2ABu << 20) | (0x155u << 10) | 0x3FFu, (0x003u << 20) | (0x3FCu << 10) | 0x100u},
       opaqueAll({0xAA55FF, 0x00FF40})},
      {"16 bit 4-4-4 in a 56-byte header",
       {.width = 1, .height = 1, .depth = 16, .compression = 3, .infoSize = 56,
        .masks = {0x0F00, 0x00F0, 0x000F, 0}},
       {0x0A50},
       opaqueAll({0xAA5500})},
      {"16 bit 3-bit red: widened by repeating its bits",
       {.width = 2, .height = 1, .depth = 16, .compression = 3, .masks = {0xE000, 0x0001, 0x0006, 0}},
       {0xA001, 0x2004},  // red 5 -> 0xB6, green 1 bit -> 0xFF; red 1 -> 0x24, blue 2 of 2 bits -> 0xAA
       opaqueAll({0xB6FF00, 0x2400AA})},
      {"32 bit masks of a 108-byte header in another order",
       {.width = 1, .height = 1, .depth = 32, .compression = 3, .infoSize = 108,
        .masks = {0x000000FF, 0x0000FF00, 0x00FF0000, 0}},
       {0x00CC8844},
       opaqueAll({0x4488CC})},
      {"32 bit with a zero red mask",
       {.width = 1, .height = 1, .depth = 32, .compression = 3, .masks = {0, 0x0000FF00, 0x000000FF, 0}},
       {0xFFFFFFFF},
       opaqueAll({0x00FFFF})},
      {"32 bit, standard masks, top-down",
       {.width = 2, .height = 2, .depth = 32, .compression = 3, .topDown = true,
        .masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0}},
       {0x102030, 0x405060, 0x708090, 0xA0B0C0},
       opaqueAll({0x102030, 0x405060, 0x708090, 0xA0B0C0})},
  };
  for (const DecodeCase& row : cases) checkDecodes(row);
}

// The stored bytes themselves, so that the writer and the decoder cannot
// agree on a wrong bit order or row order.
TEST(BmpDecode, HighBitsFirstAndRowOrderAgainstRawBytes) {
  BmpWriteSpec one{.width = 9, .height = 1, .depth = 1, .palette = testPalette(2)};
  std::vector<uint8_t> file = writeBmp(one, {1, 0, 0, 0, 0, 0, 0, 0, 1});
  uint32_t offset = bmpDataOffset(one);
  ASSERT_EQ(offset + 4, file.size());
  EXPECT_EQ(0x80, file[offset]);
  EXPECT_EQ(0x80, file[offset + 1]);
  file[offset] = 0x01;  // only the eighth pixel
  file[offset + 1] = 0x00;
  Decoded decoded = decodeInto(file, 9, 1);
  for (int x = 0; x < 9; ++x) EXPECT_EQ(paletteColour(x == 7 ? 1 : 0), decoded.pixels[x]) << "1 bit, x " << x;

  BmpWriteSpec four{.width = 3, .height = 1, .depth = 4, .palette = testPalette(16)};
  file = writeBmp(four, {0x1, 0x2, 0x3});
  offset = bmpDataOffset(four);
  EXPECT_EQ(0x12, file[offset]);
  EXPECT_EQ(0x30, file[offset + 1]);
  file[offset] = 0xE5;
  file[offset + 1] = 0x9F;  // the low nibble of the last byte is padding
  decoded = decodeInto(file, 3, 1);
  EXPECT_EQ(paletteColour(14), decoded.pixels[0]);
  EXPECT_EQ(paletteColour(5), decoded.pixels[1]);
  EXPECT_EQ(paletteColour(9), decoded.pixels[2]);

  // Bottom-up: the first stored row is the bottom of the picture.
  BmpWriteSpec bottomUp{.width = 1, .height = 3, .depth = 24};
  file = writeBmp(bottomUp, {0x0000AA, 0x0000BB, 0x0000CC});
  offset = bmpDataOffset(bottomUp);
  EXPECT_EQ(0xCC, file[offset]);
  EXPECT_EQ(0xAA, file[offset + 8]);
  decoded = decodeInto(file, 1, 3);
  EXPECT_EQ(opaqueAll({0x0000AA, 0x0000BB, 0x0000CC}), decoded.pixels);

  BmpWriteSpec topDown{.width = 1, .height = 3, .depth = 24, .topDown = true};
  file = writeBmp(topDown, {0x0000AA, 0x0000BB, 0x0000CC});
  offset = bmpDataOffset(topDown);
  EXPECT_EQ(0xAA, file[offset]);
  EXPECT_EQ(0xCC, file[offset + 8]);
  EXPECT_EQ(0xFD, file[22]);  // height -3
  decoded = decodeInto(file, 1, 3);
  EXPECT_EQ(opaqueAll({0x0000AA, 0x0000BB, 0x0000CC}), decoded.pixels);
}

TEST(BmpDecode, DataOffsetIsHonoured) {
  BmpWriteSpec layout{.width = 2, .height = 1, .depth = 8, .palette = testPalette(256), .gapBeforeData = 37};
  std::vector<uint8_t> file = writeBmp(layout, {3, 4});
  Decoded decoded = decodeInto(file, 2, 1);
  EXPECT_EQ((std::vector<Rgba>{paletteColour(3), paletteColour(4)}), decoded.pixels);
}

// Pixel data that ends early keeps the rows decoded so far.
TEST(BmpDecode, TruncatedPixelData) {
  const std::vector<uint32_t> rows4 = {0x111111, 0x111112, 0x222221, 0x222222,
                                       0x333331, 0x333332, 0x444441, 0x444442};
  struct Case {
    const char* name;
    bool topDown;
    int64_t keepAfterOffset;       // bytes of pixel data kept (stride 8)
    std::vector<bool> rowDecoded;  // by picture row, top first
  };
  const Case cases[] = {
      {"bottom-up, two rows", false, 16, {false, false, true, true}},
      {"bottom-up, two rows and part of a third", false, 21, {false, false, true, true}},
      {"bottom-up, third row lacks only padding", false, 22, {false, true, true, true}},
      {"bottom-up, no pixel bytes", false, 0, {false, false, false, false}},
      {"bottom-up, whole", false, 32, {true, true, true, true}},
      {"top-down, one row", true, 8, {true, false, false, false}},
      {"top-down, three rows less a byte", true, 21, {true, true, false, false}},
  };
  for (const Case& row : cases) {
    BmpWriteSpec layout{.width = 2, .height = 4, .depth = 24, .topDown = row.topDown};
    layout.keepBytes = bmpDataOffset(layout) + row.keepAfterOffset;
    Decoded decoded = decodeInto(writeBmp(layout, rows4), 2, 4);
    EXPECT_EQ(BmpProblem::None, decoded.problem) << row.name;
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 2; ++x) {
        Rgba expected = row.rowDecoded[y] ? opaque(rows4[y * 2 + x]) : kMagenta;
        EXPECT_EQ(expected, decoded.pixels[y * 2 + x]) << row.name << ": pixel " << x << "," << y;
      }
    }
  }
  // A data offset past the end of the file: nothing to decode.
  BmpWriteSpec layout{.width = 2, .height = 4, .depth = 24, .overrideDataOffset = true, .dataOffsetField = 5000};
  Decoded decoded = decodeInto(writeBmp(layout, rows4), 2, 4);
  EXPECT_EQ(0, decoded.rows);
  EXPECT_EQ(std::vector<Rgba>(8, kMagenta), decoded.pixels);
}

// A file failing any check is not decoded at all.
TEST(BmpDecode, RefusedFilesKeepTheFill) {
  struct Case {
    const char* name;
    BmpWriteSpec layout;
    BmpProblem problem;
  };
  const Case cases[] = {
      {"bad signature", {.width = 2, .height = 2, .badSignature = true}, BmpProblem::BadSignature},
      {"planes 2", {.width = 2, .height = 2, .planes = 2}, BmpProblem::BadPlanes},
      {"width 0", {.width = 2, .height = 2, .overrideWidth = true, .widthField = 0}, BmpProblem::BadWidth},
      {"width -2", {.width = 2, .height = 2, .overrideWidth = true, .widthField = -2}, BmpProblem::BadWidth},
      {"height 0", {.width = 2, .height = 2, .overrideHeight = true, .heightField = 0}, BmpProblem::BadHeight},
      {"height INT32_MIN",
       {.width = 2, .height = 2, .overrideHeight = true, .heightField = INT32_MIN},
       BmpProblem::BadHeight},
      {"RLE 8", {.width = 2, .height = 2, .depth = 8, .compression = 1, .palette = testPalette(256)},
       BmpProblem::RunLength},
      {"RLE 4 top-down",
       {.width = 2, .height = 2, .depth = 4, .compression = 2, .topDown = true, .palette = testPalette(16)},
       BmpProblem::RunLength},
      {"compression 4", {.width = 2, .height = 2, .compression = 4}, BmpProblem::BadCompression},
      {"depth 2", {.width = 2, .height = 2, .depth = 2}, BmpProblem::BadDepth},
      {"depth 0", {.width = 2, .height = 2, .depth = 0}, BmpProblem::BadDepth},
      {"bit fields on 24 bits", {.width = 2, .height = 2, .depth = 24, .compression = 3},
       BmpProblem::BitFieldsDepth},
      {"core header", {.width = 2, .height = 2, .infoSize = 12}, BmpProblem::CoreHeader},
      {"info header 64", {.width = 2, .height = 2, .infoSize = 64}, BmpProblem::BadHeaderSize},
      {"info header cut", {.width = 2, .height = 2, .infoSize = 124, .keepBytes = 100},
       BmpProblem::TruncatedHeader},
      {"masks cut",
       {.width = 2, .height = 2, .depth = 16, .compression = 3, .masks = {0xF800, 0x7E0, 0x1F, 0},
        .keepBytes = 62},
       BmpProblem::TruncatedHeader},
      {"palette cut", {.width = 2, .height = 2, .depth = 8, .palette = testPalette(256), .keepBytes = 1000},
       BmpProblem::TruncatedPalette},
      {"file header only", {.width = 2, .height = 2, .keepBytes = 14}, BmpProblem::TruncatedHeader},
      {"one byte", {.width = 2, .height = 2, .keepBytes = 1}, BmpProblem::BadSignature},
  };
  const std::vector<uint32_t> pixels = {0x102030, 0x405060, 0x708090, 0xA0B0C0};
  for (const Case& row : cases) {
    Decoded decoded = decodeInto(writeBmp(row.layout, pixels), 2, 2);
    EXPECT_EQ(row.problem, decoded.problem) << row.name << ": " << bmpProblemText(decoded.problem);
    EXPECT_EQ(0, decoded.rows) << row.name;
    EXPECT_EQ(std::vector<Rgba>(4, kMagenta), decoded.pixels) << row.name;
  }
}

// Every truncation of a valid file decodes without reading outside it (run
// under the address sanitizer to catch a stray read) and keeps the fill
// beyond the rows present.
TEST(BmpDecode, EveryPrefixOfAFileIsSafe) {
  const BmpWriteSpec specs[] = {
      {.width = 5, .height = 3, .depth = 1, .palette = testPalette(2)},
      {.width = 5, .height = 3, .depth = 4, .palette = testPalette(16)},
      {.width = 5, .height = 3, .depth = 8, .palette = testPalette(256)},
      {.width = 5, .height = 3, .depth = 16, .compression = 3, .masks = {0xF800, 0x7E0, 0x1F, 0}},
      {.width = 5, .height = 3, .depth = 24, .topDown = true},
      {.width = 5, .height = 3, .depth = 32, .compression = 3, .infoSize = 124,
       .masks = {0xFF000000, 0xFF0000, 0xFF00, 0}},
  };
  std::vector<uint32_t> pixels(15);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint32_t>(i * 0x01030507u) & 0xFFFFFFu;
  for (const BmpWriteSpec& layout : specs) {
    std::vector<uint8_t> whole = writeBmp(layout, pixels);
    Decoded full = decodeInto(whole, 5, 3);
    ASSERT_EQ(3, full.rows) << "depth " << layout.depth;
    for (size_t size = 0; size <= whole.size(); ++size) {
      // An exact-size copy, so a read past the end is a heap overflow.
      std::vector<uint8_t> prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
      Decoded part = decodeInto(prefix, 5, 3);
      BmpHeader header = readBmpHeader(prefix.data(), prefix.size());
      ASSERT_EQ(bmpRowsPresent(header, size), part.rows) << "depth " << layout.depth << ", size " << size;
      for (int y = 0; y < 3; ++y) {
        int64_t fileRow = layout.topDown ? y : 2 - y;
        for (int x = 0; x < 5; ++x) {
          Rgba expected = fileRow < part.rows ? full.pixels[y * 5 + x] : kMagenta;
          ASSERT_EQ(expected, part.pixels[y * 5 + x])
              << "depth " << layout.depth << ", size " << size << ", pixel " << x << "," << y;
        }
      }
    }
  }
}

TEST(BmpDecode, RefusesAPictureLargerThanTheDestination) {
  BmpWriteSpec layout{.width = 4, .height = 4, .depth = 24};
  std::vector<uint8_t> file = writeBmp(layout, std::vector<uint32_t>(16, 0x123456));
  std::vector<uint8_t> small(4 * 15, 7);
  EXPECT_EQ(0, decodeBmp(file.data(), file.size(), small.data(), small.size()));
  EXPECT_EQ(std::vector<uint8_t>(4 * 15, 7), small);
}

TEST(BmpDescribe, ReportsTheHeaderFields) {
  BmpWriteSpec layout{.width = 7, .height = 5, .depth = 16, .compression = 3, .infoSize = 108, .topDown = true,
                    .masks = {0xF800, 0x7E0, 0x1F, 0}};
  std::vector<uint8_t> file = writeBmp(layout, std::vector<uint32_t>(35, 0));
  BmpHeader header = readBmpHeader(file.data(), file.size());
  EXPECT_EQ(BmpProblem::None, header.problem);
  EXPECT_EQ(7, header.width);
  EXPECT_EQ(5, header.height);
  EXPECT_EQ(-5, header.rawHeight);
  EXPECT_TRUE(header.topDown);
  EXPECT_EQ(16, header.depth);
  EXPECT_EQ(3u, header.compression);
  EXPECT_EQ(108u, header.infoSize);
  EXPECT_EQ(14u + 108u, header.dataOffset);
  EXPECT_EQ(0xF800u, header.masks[0]);
  EXPECT_EQ(16u, bmpRowStride(header));
  EXPECT_EQ(5, bmpRowsPresent(header, file.size()));

  layout.compression = 1;
  file = writeBmp(layout, std::vector<uint32_t>(35, 0));
  header = readBmpHeader(file.data(), file.size());
  EXPECT_EQ(BmpProblem::RunLength, header.problem);
  EXPECT_EQ(1u, header.compression);
  EXPECT_EQ(7, header.width);
  EXPECT_STREQ("run-length compression", bmpProblemText(header.problem));
}

TEST(BmpDescribe, WholeFileReports) {
  struct Case {
    const char* name;
    BmpWriteSpec layout;
    bool decodable;
    const char* problem;
    int64_t rowsPresent;
    bool textureFits;
  };
  const Case cases[] = {
      {"whole 8 bit", {.width = 3, .height = 4, .depth = 8}, true, "decodable", 4, true},
      {"cut after one row and a half",
       {.width = 3, .height = 4, .depth = 24, .keepBytes = 54 + 12 + 6}, true, "decodable", 1, true},
      {"run-length", {.width = 3, .height = 4, .depth = 8, .compression = 2}, false, "run-length compression", 0,
       true},
      {"planes 2", {.width = 3, .height = 4, .planes = 2}, false, "planes not 0 or 1", 0, true},
      {"huge claim", {.width = 20000, .height = 4, .omitPixels = true}, true, "decodable", 0, false},
      {"core header", {.width = 3, .height = 4, .infoSize = 12}, false, "12-byte core header", 0, false},
  };
  for (const Case& row : cases) {
    std::vector<uint8_t> file = writeBmp(row.layout, {});
    BmpDescription description = describeBmp(file.data(), file.size());
    EXPECT_EQ(row.decodable, description.decodable) << row.name;
    EXPECT_STREQ(row.problem, description.problem) << row.name;
    EXPECT_EQ(row.rowsPresent, description.rowsPresent) << row.name;
    EXPECT_EQ(row.textureFits, description.texture.fits) << row.name;
    if (row.decodable) {
      EXPECT_EQ(row.layout.width, description.header.width) << row.name;
      EXPECT_EQ(row.layout.height, description.header.height) << row.name;
      EXPECT_EQ(row.layout.depth, description.header.depth) << row.name;
      EXPECT_EQ(row.layout.compression, description.header.compression) << row.name;
    }
  }
}

TEST(ColourKey, Boundaries) {
  struct Case {
    Rgba in;
    uint8_t alpha;
  };
  const Case cases[] = {
      {{3, 3, 3, 255}, 0},   {{0, 0, 0, 255}, 0},     {{4, 0, 0, 255}, 255}, {{0, 4, 0, 255}, 255},
      {{0, 0, 4, 255}, 255}, {{3, 0, 3, 0}, 0},       {{255, 0, 255, 0}, 255}, {{2, 1, 3, 17}, 0},
      {{128, 3, 3, 0}, 255}, {{3, 3, 252, 255}, 255},
  };
  std::vector<Rgba> pixels;
  for (const Case& row : cases) pixels.push_back(row.in);
  applyColourKey(reinterpret_cast<uint8_t*>(pixels.data()), pixels.size());
  for (size_t i = 0; i < pixels.size(); ++i) {
    Rgba expected = cases[i].in;
    expected.a = cases[i].alpha;
    EXPECT_EQ(expected, pixels[i]) << "row " << i << " in " << cases[i].in;
  }
}

TEST(TextureSize, Bounds) {
  struct Case {
    const char* name;
    int32_t width;
    int32_t height;
    int32_t maxSide;
    bool fits;
    int32_t expectedHeight;
  };
  const Case cases[] = {
      {"small", 3, 5, 8192, true, 5},
      {"top-down uses |height|", 3, -5, 8192, true, 5},
      {"width 0", 0, 5, 8192, false, 5},
      {"width negative", -3, 5, 8192, false, 5},
      {"height 0", 3, 0, 8192, false, 0},
      {"height INT32_MIN", 3, INT32_MIN, 8192, false, INT32_MIN},
      {"height -INT32_MAX", 1, -INT32_MAX, 1 << 30, false, INT32_MAX},
      {"side at the context's limit", 1024, 1, 1024, true, 1},
      {"side above the context's limit", 1025, 1, 1024, false, 1},
      {"height above the context's limit", 1, -1025, 1024, false, 1025},
      {"16,384 wide", 16384, 1, 32768, true, 1},
      {"16,385 wide, context allows more", 16385, 1, 32768, false, 1},
      {"16,384 x 1,024 pixels exactly", 16384, 1024, 32768, true, 1024},
      {"4,096 x 4,097: one row too many pixels", 4096, 4097, 32768, false, 4097},
      {"16,384 x 16,384", 16384, 16384, 32768, false, 16384},
      {"product overflows 32 bits", 65536, 65536, 1 << 30, false, 65536},
      {"no limit reported by the context", 16384, 2, 0, true, 2},
  };
  for (const Case& row : cases) {
    BmpWriteSpec layout{.width = 1, .height = 1, .overrideWidth = true, .widthField = row.width,
                      .overrideHeight = true, .heightField = row.height, .omitPixels = true};
    std::vector<uint8_t> file = writeBmp(layout, {});
    TextureSize size = textureSizeOf(file.data(), file.size(), row.maxSide);
    EXPECT_EQ(row.fits, size.fits) << row.name;
    EXPECT_EQ(row.fits, size.reason == nullptr) << row.name;
    if (row.fits) {
      EXPECT_EQ(row.width, size.width) << row.name;
      EXPECT_EQ(row.expectedHeight, size.height) << row.name;
    }
  }
  // Fields the file lacks count as zero; a core header has no such fields.
  std::vector<uint8_t> file = writeBmp(BmpWriteSpec{.width = 4, .height = 4}, std::vector<uint32_t>(16));
  EXPECT_FALSE(textureSizeOf(file.data(), 21, 8192).fits);
  EXPECT_TRUE(textureSizeOf(file.data(), 26, 8192).fits);
  EXPECT_FALSE(textureSizeOf(file.data(), 0, 8192).fits);
  file = writeBmp(BmpWriteSpec{.width = 4, .height = 4, .infoSize = 12}, std::vector<uint32_t>(16));
  EXPECT_FALSE(textureSizeOf(file.data(), file.size(), 8192).fits);
}

// --- The load loop -------------------------------------------------------

RecordingHeader headerWithKeys(std::initializer_list<std::pair<int, TextureKey>> keys) {
  RecordingHeader header{};
  header.magic = kRecordingMagic;
  for (const auto& [slot, key] : keys) header.keys[slot] = key;
  return header;
}

std::string texturePath(TextureKey key) {
  char hex[17];
  textureKeyHex(key, hex);
  return std::string("Video/TexDump/") + hex + ".bmp";
}

struct LoadRun {
  MemoryFiles files;
  CapturedConsole console;
  TextureSlots slots;
};

void runLoad(LoadRun& run, const RecordingHeader& header) {
  for (GLuint& name : run.slots.names) name = 0xBAD;
  loadAllTextures(run.slots, header, kPlayerTexturesFolder, test::recordingGlApi(),
                  memoryFileAccess(run.files),
                  test::capturingConsole(run.console));
}

std::vector<std::string> textsFrom(const GlRecorder& recorder, size_t first, size_t count) {
  std::vector<std::string> texts = recorder.texts();
  return std::vector<std::string>(texts.begin() + static_cast<std::ptrdiff_t>(first),
                                  texts.begin() + static_cast<std::ptrdiff_t>(first + count));
}

std::vector<std::string> nameSetUp(GLuint name) {
  char bind[48];
  std::snprintf(bind, sizeof bind, "BindTexture(0xde1, 0x%x)", name);
  return {"GenTextures(1, ptr)",
          bind,
          "TexParameteri(0xde1, 0x2801, 9729)",
          "TexParameteri(0xde1, 0x2800, 9729)",
          "TexParameteri(0xde1, 0x2802, 10497)",
          "TexParameteri(0xde1, 0x2803, 10497)"};
}

TEST(LoadAllTextures, PrintsAndCreatesInSlotOrder) {
  GlRecorder recorder;
  recorder.integers[GL_MAX_TEXTURE_SIZE] = 8192;
  LoadRun run{};
  const TextureKey present = 1;
  const TextureKey missing = 0xDEADBEEF12345678ull;
  const TextureKey notBmp = 0x00000000000ABCDEull;
  const TextureKey last = 0xFFFFFFFFFFFFFFFFull;
  addMemoryFile(run.files, texturePath(present),
                writeBmp(BmpWriteSpec{.width = 2, .height = 2, .depth = 24},
                         {0x030303, 0x040000, 0x102030, 0x000004}));
  addMemoryFile(run.files, texturePath(notBmp),
                writeBmp(BmpWriteSpec{.width = 3, .height = 1, .badSignature = true}, {1, 2, 3}));
  addMemoryFile(run.files, texturePath(last), writeBmp(BmpWriteSpec{.width = 5, .height = 3}, {}));
  runLoad(run, headerWithKeys({{1, present}, {3, missing}, {7, notBmp}, {32, last}}));

  EXPECT_EQ(
      "Texture #1 (0000000000000001.bmp)\n"
      "Texture #3 (DEADBEEF12345678.bmp)\n"
      "Failed to open 'Video/TexDump/DEADBEEF12345678.bmp'\n"
      "Texture #7 (00000000000ABCDE.bmp)\n"
      "Texture #32 (FFFFFFFFFFFFFFFF.bmp)\n",
      run.console.text);

  EXPECT_EQ(0u, run.slots.names[0]);
  for (int slot = 1; slot <= kTextureSlotCount; ++slot) {
    GLuint expected = slot == 1 ? 1 : slot == 3 ? 2 : slot == 7 ? 3 : slot == 32 ? 4 : 0;
    EXPECT_EQ(expected, run.slots.names[slot]) << "slot " << slot;
  }

  ASSERT_EQ("GetIntegerv(0xd33, ptr)", recorder.texts()[0]);
  std::vector<std::string> expected = nameSetUp(1);
  expected.push_back("TexImage2D(0xde1, 0, 6408, 2, 2, 0, 0x1908, 0x1401, null)");
  expected.push_back("TexSubImage2D(0xde1, 0, 0, 0, 2, 2, 0x1908, 0x1401, ptr)");
  EXPECT_EQ(expected, textsFrom(recorder, 1, 8)) << "slot 1";
  EXPECT_EQ(nameSetUp(2), textsFrom(recorder, 9, 6)) << "slot 3: a name with parameters, no image";
  expected = nameSetUp(3);
  expected.push_back("TexImage2D(0xde1, 0, 6408, 3, 1, 0, 0x1908, 0x1401, null)");
  expected.push_back("TexSubImage2D(0xde1, 0, 0, 0, 3, 1, 0x1908, 0x1401, ptr)");
  EXPECT_EQ(expected, textsFrom(recorder, 15, 8)) << "slot 7: magenta at the file's size";
  expected = nameSetUp(4);
  expected.push_back("TexImage2D(0xde1, 0, 6408, 5, 3, 0, 0x1908, 0x1401, null)");
  expected.push_back("TexSubImage2D(0xde1, 0, 0, 0, 5, 3, 0x1908, 0x1401, ptr)");
  EXPECT_EQ(expected, textsFrom(recorder, 23, 8)) << "slot 32: 5 x 3 as it is";
  EXPECT_EQ(31u, recorder.calls.size());

  // Top picture row first, colour-keyed.
  std::vector<const GlCall*> uploads = recorder.callsTo(GlFunction::TexSubImage2D);
  ASSERT_EQ(3u, uploads.size());
  EXPECT_EQ((std::vector<uint8_t>{3, 3, 3, 0, 4, 0, 0, 255, 0x10, 0x20, 0x30, 255, 0, 0, 4, 255}),
            uploads[0]->pixels);
  EXPECT_EQ((std::vector<uint8_t>{255, 0, 255, 255, 255, 0, 255, 255, 255, 0, 255, 255}), uploads[1]->pixels);
  EXPECT_EQ(std::vector<uint8_t>(5 * 3 * 4, 0), uploads[2]->pixels) << "black, keyed transparent";

  // What each slot's load says of its file, for the slots' panel.
  const struct {
    int slot;
    int32_t width, height;
    uint16_t depth;
    int64_t rows;
    const char* problem;
  } loads[] = {{1, 2, 2, 24, 2, nullptr},
               {3, 0, 0, 0, 0, "file missing"},
               {7, 3, 1, 0, 0, "no \"BM\" signature"},
               {32, 5, 3, 24, 3, nullptr},
               {2, 0, 0, 0, 0, nullptr}};
  for (const auto& row : loads) {
    const TextureLoad& load = run.slots.loads[row.slot];
    EXPECT_EQ(row.width, load.width) << "slot " << row.slot;
    EXPECT_EQ(row.height, load.height) << "slot " << row.slot;
    EXPECT_EQ(row.depth, load.depth) << "slot " << row.slot;
    EXPECT_EQ(row.rows, load.rowsDecoded) << "slot " << row.slot;
    EXPECT_STREQ(row.problem, load.problem) << "slot " << row.slot;
  }

  EXPECT_EQ(0, run.files.openCount);
  EXPECT_EQ(1, run.files.maxOpenCount);
  EXPECT_EQ(3, run.files.opens);
}

TEST(LoadAllTextures, AllKeysZeroDoNothing) {
  GlRecorder recorder;
  LoadRun run{};
  runLoad(run, headerWithKeys({}));
  EXPECT_EQ("", run.console.text);
  EXPECT_EQ(0, recorder.count(GlFunction::GenTextures));
  EXPECT_EQ(0, recorder.count(GlFunction::BindTexture));
  for (GLuint name : run.slots.names) EXPECT_EQ(0u, name);
}

TEST(LoadAllTextures, FileSizesOutsideTheBoundsGiveNoImage) {
  struct Case {
    const char* name;
    BmpWriteSpec layout;
    GLint maxSide;
  };
  const Case cases[] = {
      {"width 0", {.width = 2, .height = 2, .overrideWidth = true, .widthField = 0}, 8192},
      {"height 0", {.width = 2, .height = 2, .overrideHeight = true, .heightField = 0}, 8192},
      {"height INT32_MIN", {.width = 2, .height = 2, .overrideHeight = true, .heightField = INT32_MIN}, 8192},
      {"core header", {.width = 2, .height = 2, .infoSize = 12}, 8192},
      {"wider than the context allows", {.width = 300, .height = 1}, 256},
      {"too many pixels", {.width = 8192, .height = 4096, .depth = 1, .omitPixels = true}, 16384},
      {"file of 10 bytes", {.width = 2, .height = 2, .keepBytes = 10}, 8192},
  };
  for (const Case& row : cases) {
    GlRecorder recorder;
    recorder.integers[GL_MAX_TEXTURE_SIZE] = row.maxSide;
    LoadRun run{};
    addMemoryFile(run.files, texturePath(9), writeBmp(row.layout, {}));
    runLoad(run, headerWithKeys({{4, 9}}));
    EXPECT_EQ("Texture #4 (0000000000000009.bmp)\n", run.console.text) << row.name;
    EXPECT_EQ(1, recorder.count(GlFunction::GenTextures)) << row.name;
    EXPECT_EQ(4, recorder.count(GlFunction::TexParameteri)) << row.name;
    EXPECT_EQ(0, recorder.count(GlFunction::TexImage2D)) << row.name;
    EXPECT_EQ(0, recorder.count(GlFunction::TexSubImage2D)) << row.name;
    EXPECT_EQ(0, run.files.openCount) << row.name;
    EXPECT_NE(nullptr, run.slots.loads[4].problem) << row.name;
    EXPECT_EQ(0, run.slots.loads[4].width) << row.name;
  }
}

// A file cut inside its pixel rows keeps the rows it has, and says so.
TEST(LoadAllTextures, RowsCutOffAreCountedAndTold) {
  GlRecorder recorder;
  recorder.integers[GL_MAX_TEXTURE_SIZE] = 8192;
  LoadRun run{};
  // 54 header bytes, then rows of 4 x 3 bytes (12, no padding): one and a half rows.
  addMemoryFile(run.files, texturePath(9),
                writeBmp(BmpWriteSpec{.width = 4, .height = 3, .depth = 24, .keepBytes = 54 + 18}, {}));
  runLoad(run, headerWithKeys({{4, 9}}));
  const TextureLoad& load = run.slots.loads[4];
  EXPECT_EQ(4, load.width);
  EXPECT_EQ(3, load.height);
  EXPECT_EQ(1, load.rowsDecoded);
  EXPECT_STREQ("pixel rows cut off", load.problem);
}

// A file system whose one file claims an enormous length: its first bytes
// are a real header, the rest reads as zero.
struct HugeFile {
  std::vector<uint8_t> start;
  int64_t length;
  int64_t position;
};

FileAccess hugeFileAccess(HugeFile& file) {
  FileAccess access{};
  access.context = &file;
  access.open = [](void* context, const char*) -> FileHandle {
    static_cast<HugeFile*>(context)->position = 0;
    return 3;
  };
  access.length = [](void* context, FileHandle) { return static_cast<HugeFile*>(context)->length; };
  access.read = [](void* context, FileHandle, uint8_t* destination, int64_t count) -> int64_t {
    HugeFile& huge = *static_cast<HugeFile*>(context);
    int64_t delivered = huge.length - huge.position < count ? huge.length - huge.position : count;
    if (delivered < 0) delivered = 0;
    for (int64_t i = 0; i < count; ++i) {
      int64_t at = huge.position + i;
      destination[i] = i < delivered && at < static_cast<int64_t>(huge.start.size()) ? huge.start[at] : 0;
    }
    huge.position += delivered;
    return delivered;
  };
  access.seek = [](void* context, FileHandle, int64_t offset) {
    static_cast<HugeFile*>(context)->position = offset;
    return offset >= 0;
  };
  access.close = [](void*, FileHandle) {};
  return access;
}

TEST(LoadAllTextures, AHugeHeaderAllocatesNothingLarge) {
  struct Case {
    const char* name;
    BmpWriteSpec layout;
    int64_t claimedLength;  // 0: the file's own
    int expectedUploads;
    size_t allowedLargest;
  };
  const Case cases[] = {
      {"16,384 x 16,384 claimed by a 54-byte file", {.width = 16384, .height = 16384, .depth = 32, .omitPixels = true},
       0, 0, 4096},
      {"2^31-1 x 1", {.width = 1, .height = 1, .overrideWidth = true, .widthField = INT32_MAX, .omitPixels = true},
       0, 0, 4096},
      {"1 x -2^31+1",
       {.width = 1, .height = 1, .overrideHeight = true, .heightField = -INT32_MAX, .omitPixels = true}, 0, 0,
       4096},
      {"2 x 2 at a data offset of 3 GB in a 1 TB file",
       {.width = 2, .height = 2, .overrideDataOffset = true, .dataOffsetField = 3000000000u, .omitPixels = true},
       int64_t{1} << 40, 1, 4096},
      {"2 x 2 in a file claiming 1 TB", {.width = 2, .height = 2}, int64_t{1} << 40, 1, 4096},
  };
  for (const Case& row : cases) {
    GlRecorder recorder;
    recorder.integers[GL_MAX_TEXTURE_SIZE] = 16384;
    HugeFile huge{writeBmp(row.layout, {0x0A0B0C, 0x0A0B0C, 0x0A0B0C, 0x0A0B0C}), 0, 0};
    huge.length = row.claimedLength ? row.claimedLength : static_cast<int64_t>(huge.start.size());
    recorder.calls.reserve(64);
    RecordingHeader header = headerWithKeys({{2, 77}});
    TextureSlots slots{};
    CapturedConsole console;
    console.text.reserve(256);
    const GlApi gl = test::recordingGlApi();
    const FileAccess files = hugeFileAccess(huge);
    const Console out = test::capturingConsole(console);
    gLargestAllocation = 0;
    gWatching = true;
    loadAllTextures(slots, header, kPlayerTexturesFolder, gl, files, out);
    gWatching = false;
    EXPECT_LE(gLargestAllocation.load(), row.allowedLargest) << row.name;
    EXPECT_EQ(row.expectedUploads, recorder.count(GlFunction::TexSubImage2D)) << row.name;
    EXPECT_EQ(row.expectedUploads, recorder.count(GlFunction::TexImage2D)) << row.name;
  }
}

// The counting allocator itself must see the loader's image: a legitimate
// 256 x 256 texture allocates its 256 KiB.
TEST(LoadAllTextures, TheCountingAllocatorSeesTheImage) {
  GlRecorder recorder;
  recorder.integers[GL_MAX_TEXTURE_SIZE] = 16384;
  LoadRun run{};
  addMemoryFile(run.files, texturePath(5),
                writeBmp(BmpWriteSpec{.width = 256, .height = 256, .depth = 8}, {}));
  gLargestAllocation = 0;
  gWatching = true;
  runLoad(run, headerWithKeys({{1, 5}}));
  gWatching = false;
  EXPECT_GE(gLargestAllocation.load(), size_t{256 * 256 * 4});
}

}  // namespace
}  // namespace drec
