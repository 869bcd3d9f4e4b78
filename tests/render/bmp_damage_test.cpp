// Damaged and hostile BMP files through the decoder and the texture loader:
// huge size claims, INT32_MIN, zero, overlapping and wide masks, truncated
// palettes and pixel data. The file's bytes sit right against an unreadable
// page (once ending at it, once starting after it), so a read outside the
// file faults; and the largest allocation made is measured, which must stay
// at or below 64 MiB, the size of the largest texture the loader accepts.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "fuzz/harness.hpp"
#include "render/bmp.hpp"
#include "tools/writer/bmp_writer.hpp"
#include "tools/writer/memory_files.hpp"

namespace {

// The largest single allocation since the last reset. Sanitizer builds
// report allocations through their hook; plain builds replace the allocator.
size_t largestAllocation = 0;

void noteAllocation(size_t size) {
  if (size > largestAllocation) largestAllocation = size;
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
extern "C" int __sanitizer_install_malloc_and_free_hooks(
    void (*mallocHook)(const volatile void*, size_t), void (*freeHook)(const volatile void*));
namespace {
void mallocHook(const volatile void*, size_t size) { noteAllocation(size); }
void freeHook(const volatile void*) {}
const int hooksInstalled = __sanitizer_install_malloc_and_free_hooks(mallocHook, freeHook);
}  // namespace
#else
void* operator new(size_t size) {
  noteAllocation(size);
  void* memory = std::malloc(size > 0 ? size : 1);
  if (!memory) std::abort();
  return memory;
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, size_t) noexcept { std::free(memory); }
#endif

namespace drec {
namespace {

using fuzz::Bytes;

constexpr size_t kLimit = size_t{64} << 20;

// Bytes placed against a page that cannot be read: after them (`atEnd`) or
// before them.
struct GuardedBytes {
  uint8_t* mapping = nullptr;
  size_t mappingSize = 0;
  const uint8_t* bytes = nullptr;

  GuardedBytes(const Bytes& content, bool atEnd) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t dataPages = (content.size() + page - 1) / page + 1;
    mappingSize = (dataPages + 2) * page;
    void* memory = mmap(nullptr, mappingSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) std::abort();
    mapping = static_cast<uint8_t*>(memory);
    mprotect(mapping, page, PROT_NONE);
    mprotect(mapping + (dataPages + 1) * page, page, PROT_NONE);
    uint8_t* place = atEnd ? mapping + (dataPages + 1) * page - content.size() : mapping + page;
    if (!content.empty()) std::memcpy(place, content.data(), content.size());
    bytes = place;
  }
  ~GuardedBytes() { munmap(mapping, mappingSize); }
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;
};

struct Rgb {
  uint8_t red, green, blue;
};

struct Row {
  const char* name;
  BmpWriteSpec layout;
  std::vector<uint32_t> pixels;  // as the file stores them
  BmpProblem problem;
  int64_t rows;              // decoded with a buffer the size of the picture
  bool textureImage;         // the loader gives the texture an image
  int32_t textureWidth;      // its size, when it has one
  int32_t textureHeight;
  bool checkFirstPixel = false;
  Rgb firstPixel{0, 0, 0};   // top-left, decoded
};

BmpWriteSpec bitFields(uint16_t depth, uint32_t red, uint32_t green, uint32_t blue) {
  BmpWriteSpec layout;
  layout.width = 4;
  layout.height = 1;
  layout.depth = depth;
  layout.compression = 3;
  layout.masks[0] = red;
  layout.masks[1] = green;
  layout.masks[2] = blue;
  return layout;
}

std::vector<Row> rows() {
  std::vector<Row> table;
  {
    BmpWriteSpec layout;
    layout.width = 16384;
    layout.height = 16384;
    layout.omitPixels = true;
    table.push_back({"claims 16384 x 16384", layout, {}, BmpProblem::None, 0, false, 0, 0});
    layout.height = 1024;
    table.push_back({"claims 16384 x 1024 (the largest texture)", layout, {}, BmpProblem::None, 0, true, 16384, 1024});
    layout.width = 16385;
    layout.height = 1;
    table.push_back({"claims 16385 x 1", layout, {}, BmpProblem::None, 0, false, 0, 0});
    layout.width = 16;
    layout.overrideWidth = true;
    layout.widthField = std::numeric_limits<int32_t>::min();
    table.push_back({"width INT32_MIN", layout, {}, BmpProblem::BadWidth, 0, false, 0, 0});
    layout.overrideWidth = false;
    layout.overrideHeight = true;
    layout.heightField = std::numeric_limits<int32_t>::min();
    table.push_back({"height INT32_MIN", layout, {}, BmpProblem::BadHeight, 0, false, 0, 0});
    layout.heightField = -std::numeric_limits<int32_t>::max();
    table.push_back({"top-down height -INT32_MAX", layout, {}, BmpProblem::None, 0, false, 0, 0});
  }
  table.push_back({"zero masks", bitFields(32, 0, 0, 0), {0xFFFFFFFFu, 1, 2, 3}, BmpProblem::None, 1, true, 4, 1,
                   true, Rgb{0, 0, 0}});
  table.push_back({"overlapping masks", bitFields(16, 0xFF00, 0x0FF0, 0x00FF), {0xABCD, 0, 0, 0},
                   BmpProblem::None, 1, true, 4, 1, true, Rgb{0xAB, 0xBC, 0xCD}});
  table.push_back({"masks of 10 bits", bitFields(32, 0x3FF00000, 0x000FFC00, 0x000003FF),
                   {(0x3FFu << 20) | (0x200u << 10) | 0x001u, 0, 0, 0}, BmpProblem::None, 1, true, 4, 1, true,
                   Rgb{0xFF, 0x80, 0x00}});
  table.push_back({"a mask of all 32 bits", bitFields(32, 0xFFFFFFFF, 0x0000FF00, 0x80000001),
                   {0xAB12C401u, 0, 0, 0}, BmpProblem::None, 1, true, 4, 1, true, Rgb{0xAB, 0xC4, 0x80}});
  table.push_back({"masks cut off after the header", [] {
                     BmpWriteSpec layout = bitFields(16, 0xF800, 0x07E0, 0x001F);
                     layout.keepBytes = 54 + 6;
                     return layout;
                   }(), {0, 0, 0, 0}, BmpProblem::TruncatedHeader, 0, true, 4, 1});
  for (uint16_t depth : {uint16_t{1}, uint16_t{4}, uint16_t{8}}) {
    BmpWriteSpec layout;
    layout.width = 8;
    layout.height = 8;
    layout.depth = depth;
    layout.palette = std::vector<BmpColor>(size_t{1} << depth, BmpColor{200, 100, 50});
    layout.keepBytes = 54 + 4 * (int64_t{1} << depth) - 1;  // the palette's last byte missing
    table.push_back({depth == 1 ? "1-bit palette cut short" : depth == 4 ? "4-bit palette cut short"
                                                                         : "8-bit palette cut short",
                     layout, std::vector<uint32_t>(64, 0), BmpProblem::TruncatedPalette, 0, true, 8, 8});
  }
  {
    BmpWriteSpec layout;
    layout.width = 9;
    layout.height = 6;
    layout.depth = 24;
    layout.keepBytes = static_cast<int64_t>(bmpDataOffset(layout) + 2 * bmpStoredRowSize(layout) + 5);
    table.push_back({"pixel rows cut short", layout, std::vector<uint32_t>(54, 0x336699), BmpProblem::None, 2, true, 9, 6});
    layout.keepBytes = -1;
    layout.overrideDataOffset = true;
    layout.dataOffsetField = 0xFFFFFFFFu;
    table.push_back({"data offset far past the end", layout, std::vector<uint32_t>(54, 0x336699), BmpProblem::None,
                     0, true, 9, 6});
  }
  return table;
}

TEST(BmpDamage, DecoderReadsOnlyTheFileAndWritesOnlyThePicture) {
  for (const Row& row : rows()) {
    const Bytes file = writeBmp(row.layout, row.pixels);
    for (bool atEnd : {true, false}) {
      const GuardedBytes guarded(file, atEnd);
      BmpHeader header = readBmpHeader(guarded.bytes, file.size());
      EXPECT_EQ(row.problem, header.problem) << row.name;
      const BmpDescription description = describeBmp(guarded.bytes, file.size());
      EXPECT_EQ(row.problem == BmpProblem::None, description.decodable) << row.name;

      // A picture too large to hold here is decoded into 4 pixels: refused.
      const uint64_t pixels = header.problem == BmpProblem::None
                                  ? static_cast<uint64_t>(header.width) * static_cast<uint64_t>(header.height)
                                  : 1;
      const bool fits = pixels <= 4096;
      std::vector<uint8_t> rgba(4 * (fits ? pixels : 1) + 4, 0xA5);
      largestAllocation = 0;
      BmpProblem problem = BmpProblem::None;
      const int64_t decoded =
          decodeBmp(guarded.bytes, file.size(), rgba.data(), rgba.size() - 4, &problem);
      EXPECT_LE(largestAllocation, kLimit) << row.name;
      EXPECT_EQ(row.problem, problem) << row.name;
      EXPECT_EQ(fits ? row.rows : 0, decoded) << row.name;
      EXPECT_EQ(0xA5, rgba.back()) << row.name << ": wrote past the picture";
      if (!fits || decoded == 0) {
        for (uint8_t byte : rgba) ASSERT_EQ(0xA5, byte) << row.name << ": wrote without decoding";
      }
      if (row.checkFirstPixel) {
        EXPECT_EQ(row.firstPixel.red, rgba[0]) << row.name;
        EXPECT_EQ(row.firstPixel.green, rgba[1]) << row.name;
        EXPECT_EQ(row.firstPixel.blue, rgba[2]) << row.name;
        EXPECT_EQ(255, rgba[3]) << row.name;
      }
      if (row.rows > 0 && fits && header.height > row.rows) {
        // Bottom-up: the rows the file lacks are the top ones, left alone.
        EXPECT_EQ(0xA5, rgba[0]) << row.name;
        EXPECT_EQ(0x33, rgba[rgba.size() - 4 - 4]) << row.name;  // bottom-right red, 0x336699
      }
    }
  }
}

TEST(BmpDamage, TextureLoaderAllocatesAtMost64MiB) {
  for (const Row& row : rows()) {
    uint8_t header[kHeaderSize] = {};
    std::memcpy(header, "DREC", 4);
    header[8] = 0x42;  // slot 1's key: 0x42
    MemoryFiles files{};
    addMemoryFile(files, "Video/TexDump/0000000000000042.bmp", writeBmp(row.layout, row.pixels));
    largestAllocation = 0;
    const fuzz::PlayerRun run = fuzz::loadTexturesInMemory(files, header);
    EXPECT_LE(largestAllocation, kLimit) << row.name;
    EXPECT_EQ("", fuzz::checkTextures(run)) << row.name;
    EXPECT_EQ("Texture #1 (0000000000000042.bmp)\n", run.printed) << row.name;
    ASSERT_EQ(1u, run.textures.size()) << row.name;
    const fuzz::GlTexture& texture = run.textures[0];
    EXPECT_EQ(row.textureImage, texture.imageSent) << row.name;
    EXPECT_EQ(row.textureImage ? row.textureWidth : 0, texture.width) << row.name;
    EXPECT_EQ(row.textureImage ? row.textureHeight : 0, texture.height) << row.name;
    EXPECT_EQ(0, run.filesLeftOpen) << row.name;
    if (std::string(row.name).find("palette cut short") != std::string::npos) {
      // Not decodable: opaque magenta throughout.
      EXPECT_EQ(64u * (255 + 0 + 255 + 255), texture.pixelSum) << row.name;
    }
  }
  // The largest texture really is allocated: the bound is met, not avoided.
  uint8_t header[kHeaderSize] = {};
  std::memcpy(header, "DREC", 4);
  header[8] = 0x42;
  BmpWriteSpec largest;
  largest.width = 16384;
  largest.height = 1024;
  largest.omitPixels = true;
  MemoryFiles files{};
  addMemoryFile(files, "Video/TexDump/0000000000000042.bmp", writeBmp(largest, {}));
  largestAllocation = 0;
  fuzz::loadTexturesInMemory(files, header);
  EXPECT_EQ(kLimit, largestAllocation);
}

}  // namespace
}  // namespace drec
