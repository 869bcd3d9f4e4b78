#include "recording/format.hpp"

#include <cstring>

namespace drec {

float loadF32(const uint8_t* p) {
  uint32_t bits = loadU32(p);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

RecordingHeader parseHeader(const uint8_t* bytes) {
  RecordingHeader header{};
  header.magic = loadU32(bytes);
  header.width = static_cast<int16_t>(loadU16(bytes + 4));
  header.height = static_cast<int16_t>(loadU16(bytes + 6));
  header.keys[0] = 0;
  for (int slot = 1; slot <= kTextureSlotCount; ++slot) header.keys[slot] = loadU64(bytes + 8 * slot);
  return header;
}

void textureKeyHex(TextureKey key, char text[17]) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (int i = 15; i >= 0; --i) {
    text[i] = kDigits[key & 15];
    key >>= 4;
  }
  text[16] = '\0';
}

TexturedTriangle decodeTriangle(const uint8_t* record) {
  TexturedTriangle triangle;
  triangle.state = record[1];
  for (int i = 0; i < 3; ++i) {
    const uint8_t* v = record + 2 + kVertexSize * i;
    triangle.vertices[i] = TriangleVertex{v[0], v[1], v[2], v[3], loadU16(v + 4), loadU16(v + 6)};
  }
  return triangle;
}

FrameMark decodeFrameMark(const uint8_t* record) { return FrameMark{loadF32(record + 4)}; }

}  // namespace drec
