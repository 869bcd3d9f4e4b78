// Fuzz target: the BMP decoder from memory. Checks that the header reader,
// the row count and the decoder agree, that the decoder writes only inside
// the picture's rows and only the rows the file holds, and that a buffer too
// small for the picture is left alone.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz/harness.hpp"
#include "render/bmp.hpp"

namespace {

// Pictures up to this many pixels are decoded (4 MiB of RGBA); larger
// claims are only described, so that each input stays well inside the
// one-second limit with the checks below.
constexpr uint64_t kMaxDecodedPixels = 1024u * 1024u;
constexpr size_t kMaxDecodedBytes = 4 * kMaxDecodedPixels;
constexpr uint8_t kUntouched = 0xA5;

// Bytes the decoder must not have written, compared in one call rather than
// byte by byte.
bool untouched(const uint8_t* bytes, size_t count) {
  static const std::unique_ptr<uint8_t[]> pattern = [] {
    std::unique_ptr<uint8_t[]> filled(new uint8_t[kMaxDecodedBytes]);
    std::memset(filled.get(), kUntouched, kMaxDecodedBytes);
    return filled;
  }();
  return std::memcmp(bytes, pattern.get(), count) == 0;
}

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "BMP check failed: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace drec;
  fuzz::limitAllocations(fuzz::kAllocationLimit);
  // The file in a buffer of its own exact size, so a read past it is caught.
  std::unique_ptr<uint8_t[]> file(new uint8_t[size > 0 ? size : 1]);
  if (size > 0) std::memcpy(file.get(), data, size);

  const BmpDescription description = describeBmp(file.get(), size);
  const BmpHeader& header = description.header;
  if (description.texture.fits &&
      (description.texture.width <= 0 || description.texture.height <= 0 ||
       static_cast<int64_t>(description.texture.width) * description.texture.height >
           kMaxTexturePixels))
    fail("a texture size that fits is out of bounds");
  if (!description.decodable) {
    uint8_t pixel[4] = {kUntouched, kUntouched, kUntouched, kUntouched};
    if (decodeBmp(file.get(), size, pixel, sizeof pixel) != 0) fail("an undecodable file decoded");
    if (pixel[0] != kUntouched) fail("an undecodable file wrote pixels");
    return 0;
  }
  if (header.width <= 0 || header.height <= 0) fail("a decodable file with no pixels");
  if (description.rowsPresent < 0 || description.rowsPresent > header.height)
    fail("rows present out of range");

  const uint64_t pixels = static_cast<uint64_t>(header.width) * static_cast<uint64_t>(header.height);
  if (pixels > kMaxDecodedPixels) return 0;
  const size_t rgbaSize = static_cast<size_t>(4 * pixels);

  // One pixel too few: nothing may be written.
  if (pixels > 1) {
    std::unique_ptr<uint8_t[]> small(new uint8_t[rgbaSize - 4]);
    std::memset(small.get(), kUntouched, rgbaSize - 4);
    if (decodeBmp(file.get(), size, small.get(), rgbaSize - 4) != 0)
      fail("decoded into a buffer too small for the picture");
    if (!untouched(small.get(), rgbaSize - 4)) fail("wrote into a buffer too small for the picture");
  }

  std::unique_ptr<uint8_t[]> rgba(new uint8_t[rgbaSize]);
  std::memset(rgba.get(), kUntouched, rgbaSize);
  BmpProblem problem = BmpProblem::BadSignature;
  const int64_t rows = decodeBmp(file.get(), size, rgba.get(), rgbaSize, &problem);
  if (problem != BmpProblem::None) fail("decodeBmp and readBmpHeader disagree");
  if (rows != description.rowsPresent) fail("rows decoded differ from rows present");

  // Decoded rows are the first rows of the file: the top of a top-down
  // picture, the bottom of a bottom-up one. Their pixels are opaque; the
  // other rows keep what was there.
  const size_t rowBytes = 4 * static_cast<size_t>(header.width);
  for (int64_t row = 0; row < header.height; ++row) {
    const int64_t fileRow = header.topDown ? row : header.height - 1 - row;
    const bool decoded = fileRow < rows;
    const uint8_t* line = rgba.get() + static_cast<size_t>(row) * rowBytes;
    if (!decoded) {
      if (!untouched(line, rowBytes)) fail("a row the file does not hold was written");
      continue;
    }
    for (size_t x = 3; x < rowBytes; x += 4) {
      if (line[x] != 255) fail("a decoded pixel is not opaque");
    }
  }
  applyColourKey(rgba.get(), static_cast<size_t>(pixels));
  return 0;
}
