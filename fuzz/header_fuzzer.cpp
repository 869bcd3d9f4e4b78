// Fuzz target: the recording header, the texture file names made from its
// keys, and the texture loader over files in memory. The input is the 264
// header bytes (zero-filled when shorter), then the texture files in the
// order of the header's non-zero slots, separated by "|BMP|". The GL takes
// textures up to 256 a side (the loader's limit follows it): 32 larger images
// take longer than the one-second limit to fill, key and check under the
// sanitizers; the largest texture, 64 MiB, is covered by bmp_damage_test.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/harness.hpp"
#include "recording/format.hpp"

namespace {

constexpr int kMaxSide = 256;

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "header check failed: %s\n", what.c_str());
  std::abort();
}

uint64_t parseHex(const char* text) {
  uint64_t value = 0;
  for (int i = 0; i < 16; ++i) {
    const char c = text[i];
    const bool digit = c >= '0' && c <= '9';
    const bool letter = c >= 'A' && c <= 'F';
    if (!digit && !letter) fail(std::string("not an upper-case hex digit in ") + text);
    value = (value << 4) | static_cast<uint64_t>(digit ? c - '0' : c - 'A' + 10);
  }
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace drec;
  fuzz::limitAllocations(fuzz::kAllocationLimit);
  uint8_t headerBytes[kHeaderSize] = {};
  std::memcpy(headerBytes, data, size < sizeof headerBytes ? size : sizeof headerBytes);
  const RecordingHeader header = parseHeader(headerBytes);
  if (header.keys[0] != 0) fail("slot 0 has a key");
  if (hasRecordingMagic(header) != (std::memcmp(headerBytes, "DREC", 4) == 0))
    fail("magic test disagrees with the bytes");
  if (header.width != static_cast<int16_t>(loadU16(headerBytes + 4)) ||
      header.height != static_cast<int16_t>(loadU16(headerBytes + 6)))
    fail("screen size differs from the bytes");

  MemoryFiles files{};
  std::vector<fuzz::Bytes> textures;
  if (size > sizeof headerBytes) {
    textures = fuzz::splitInput(data + sizeof headerBytes, size - sizeof headerBytes,
                                fuzz::kTextureSeparator, kTextureSlotCount);
  }
  size_t nextFile = 0;
  int keyed = 0;
  for (int slot = 1; slot <= kTextureSlotCount; ++slot) {
    const TextureKey key = header.keys[slot];
    if (key != loadU64(headerBytes + 8 * slot)) fail("key differs from the bytes");
    if (key == 0) continue;
    ++keyed;
    char hex[17];
    std::memset(hex, 'x', sizeof hex);
    textureKeyHex(key, hex);
    if (hex[16] != '\0' || parseHex(hex) != key) fail(std::string("key text ") + hex);
    if (nextFile < textures.size()) {
      addMemoryFile(files, std::string("Video/TexDump/") + hex + ".bmp", textures[nextFile]);
      ++nextFile;
    }
  }

  const fuzz::PlayerRun run = fuzz::loadTexturesInMemory(files, headerBytes, kMaxSide);
  const std::string problem = fuzz::checkTextures(run);
  if (!problem.empty()) fail(problem);
  if (static_cast<int>(run.textures.size()) != keyed) fail("not one texture name per keyed slot");
  for (const fuzz::GlTexture& texture : run.textures)
    if (texture.width > kMaxSide || texture.height > kMaxSide) fail("a texture above the GL's limit");
  if (run.filesLeftOpen != 0 || run.maxFilesOpen > 1) fail("texture files not closed one by one");
  int lines = 0;
  for (char c : run.printed) lines += c == '\n' ? 1 : 0;
  const int missing = keyed - static_cast<int>(files.opens);
  if (lines != keyed + missing) fail("not one line per keyed slot and one per missing file");

  return 0;
}
