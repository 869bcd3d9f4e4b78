#include "render/textures.hpp"

#include <cstdio>
#include <memory>
#include <string>

#include "render/bmp.hpp"

namespace drec {
namespace {

void fillMagenta(uint8_t* rgba, size_t pixelCount) {
  for (size_t i = 0; i < pixelCount; ++i) {
    uint8_t* pixel = rgba + 4 * i;
    pixel[0] = 255;
    pixel[1] = 0;
    pixel[2] = 255;
    pixel[3] = 255;
  }
}

// Gives the bound texture its image from an open file. A file whose size
// fields are out of bounds leaves the texture without an image; one that is
// not a decodable BMP gives opaque magenta. Allocations are sized only from
// bounds already checked, never from the raw file length or fields.
TextureLoad loadTextureImage(const GlApi& gl, const FileAccess& files, FileHandle file, GLint maxSide) {
  int64_t length = files.length(files.context, file);
  if (length < 0) length = 0;
  uint8_t prefix[kBmpHeaderPrefixSize];
  const int64_t prefixCapacity = static_cast<int64_t>(kBmpHeaderPrefixSize);
  int64_t wanted = length < prefixCapacity ? length : prefixCapacity;
  int64_t got = wanted > 0 ? readAtPosition(files, file, 1, prefix, wanted) : 0;
  size_t prefixSize = static_cast<size_t>(got);

  TextureSize size = textureSizeOf(prefix, prefixSize, maxSide);
  BmpHeader header = readBmpHeader(prefix, prefixSize);
  TextureLoad load{0, 0, header.depth, 0, size.reason};
  if (!size.fits) return load;
  load.width = size.width;
  load.height = size.height;
  gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, size.width, size.height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);

  size_t pixelCount = static_cast<size_t>(size.width) * static_cast<size_t>(size.height);
  std::unique_ptr<uint8_t[]> rgba(new uint8_t[4 * pixelCount]);
  fillMagenta(rgba.get(), pixelCount);

  load.problem = header.problem != BmpProblem::None ? bmpProblemText(header.problem) : "no pixel rows";
  if (header.problem == BmpProblem::None && header.width == size.width && header.height == size.height &&
      static_cast<uint64_t>(length) > header.dataOffset) {
    // Bounded by the checked size: at most one padded row more than 4 bytes a pixel.
    uint64_t needed = bmpRowStride(header) * static_cast<uint64_t>(header.height);
    uint64_t present = static_cast<uint64_t>(length) - header.dataOffset;
    int64_t count = static_cast<int64_t>(present < needed ? present : needed);
    std::unique_ptr<uint8_t[]> data(new uint8_t[static_cast<size_t>(count)]);
    int64_t delivered = readAtPosition(files, file, static_cast<int64_t>(header.dataOffset) + 1, data.get(), count);
    load.rowsDecoded =
        decodeBmpPixels(header, data.get(), static_cast<size_t>(delivered), rgba.get(), 4 * pixelCount);
    load.problem = load.rowsDecoded < size.height ? "pixel rows cut off" : nullptr;
  }
  applyColourKey(rgba.get(), pixelCount);
  // Rows of 4-byte pixels are whole multiples of any unpack alignment up to 4.
  gl.TexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, size.width, size.height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.get());
  return load;
}

}  // namespace

void loadAllTextures(TextureSlots& slots, const RecordingHeader& header, const char* folder,
                     const GlApi& gl, const FileAccess& files, const Console& console) {
  GLint maxSide = 0;
  gl.GetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSide);
  slots.names[0] = 0;
  slots.fileMissing[0] = false;
  slots.loads[0] = TextureLoad{};
  for (int slot = 1; slot <= kTextureSlotCount; ++slot) {
    TextureKey key = header.keys[slot];
    slots.fileMissing[slot] = false;
    slots.loads[slot] = TextureLoad{};
    if (key == 0) {
      slots.names[slot] = 0;
      continue;
    }
    char hex[17];
    textureKeyHex(key, hex);
    char line[96];
    std::snprintf(line, sizeof line, "Texture #%i (%s.bmp)", slot, hex);
    printLine(console, line);

    gl.GenTextures(1, &slots.names[slot]);
    gl.BindTexture(GL_TEXTURE_2D, slots.names[slot]);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);

    const std::string path = std::string(folder) + hex + ".bmp";
    FileHandle file = files.open(files.context, path.c_str());
    if (file < 0) {
      slots.fileMissing[slot] = true;
      slots.loads[slot].problem = "file missing";
      printLine(console, ("Failed to open '" + path + "'").c_str());
      continue;
    }
    slots.loads[slot] = loadTextureImage(gl, files, file, maxSide);
    files.close(files.context, file);
  }
}

}  // namespace drec
