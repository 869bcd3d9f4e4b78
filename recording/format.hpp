// The bytes of a recording.
//
// A recording is one logical byte stream, little-endian throughout, read
// strictly front to back (no version, no checksum, no index):
//
//   offset 0    RecordingHeader, 264 bytes (first segment file only)
//   offset 264  Chunk, Chunk, ... until the data ends
//
// RecordingHeader: 33 entries of 8 bytes. Entry 0 holds the magic "DREC"
// (bytes 0-3, compared as one unsigned 32-bit value), the screen width
// (bytes 4-5, signed 16-bit) and height (bytes 6-7, signed 16-bit); entry i
// (1 to 32) holds the TextureKey of texture slot i, an unsigned 64-bit value,
// 0 for an empty slot. Slot 0 never has a key: it means "no texture image".
//
// Chunk: a signed 32-bit compressed length L (0 to 32,768), then L bytes of
// a zlib stream that inflates to at most 262,144 bytes of records laid back
// to back. Chunks follow each other with no gap. A record never crosses the
// end of its chunk; a frame may span several chunks. Each record starts with
// its type byte:
//
//   1 FrameMark, 8 bytes:   type, 3 unread bytes, float32 time stamp (s)
//   2 TexturedTriangle, 26 bytes: type, state (bits 0-4 texture slot,
//                           bits 5-7 blend mode), 3 x TriangleVertex
//   3, 4 point records:     size unknown; they end the walk of their chunk
//   other                   invalid; ends the walk of its chunk
//
// TriangleVertex, 8 bytes: s, t (texture coordinates in 1/255), x, y (screen
// position in 1/255 of the width and height, 0 = left / top), depth (unsigned
// 16-bit, 65535 means 1/w = 1.0), colour (PackedColor16: alpha nibble in bits
// 12-15, only whether it is zero matters; red 8-11, green 4-7, blue 0-3).
#pragma once
#include <cstddef>
#include <cstdint>

namespace drec {

constexpr int kHeaderSize = 264;
constexpr int kTextureSlotCount = 32;  // slots 1 to 32 carry keys
constexpr uint32_t kRecordingMagic = 0x43455244u;  // "DREC" read little-endian
constexpr int kMaxCompressedLength = 32768;
constexpr int kMaxRecordLength = 262144;

constexpr uint8_t kRecordFrameMark = 1;
constexpr uint8_t kRecordTriangle = 2;
constexpr uint8_t kRecordPointA = 3;
constexpr uint8_t kRecordPointB = 4;
constexpr int kFrameMarkSize = 8;
constexpr int kTriangleSize = 26;
constexpr int kVertexSize = 8;

using TextureKey = uint64_t;
using PackedColor16 = uint16_t;

struct RecordingHeader {
  uint32_t magic;
  int16_t width;
  int16_t height;
  TextureKey keys[kTextureSlotCount + 1];  // keys[0] is always 0
};

struct TriangleVertex {
  uint8_t s;
  uint8_t t;
  uint8_t x;
  uint8_t y;
  uint16_t depth;
  PackedColor16 color;
};

struct TexturedTriangle {
  uint8_t state;
  TriangleVertex vertices[3];
};

struct FrameMark {
  float time;
};

// Little-endian fields, read byte by byte. The caller guarantees the bytes.
inline uint16_t loadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t loadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline int32_t loadI32(const uint8_t* p) { return static_cast<int32_t>(loadU32(p)); }
inline uint64_t loadU64(const uint8_t* p) {
  return static_cast<uint64_t>(loadU32(p)) | (static_cast<uint64_t>(loadU32(p + 4)) << 32);
}
float loadF32(const uint8_t* p);

// From exactly kHeaderSize bytes (the caller zero-fills what the file lacks).
RecordingHeader parseHeader(const uint8_t* bytes);
inline bool hasRecordingMagic(const RecordingHeader& header) {
  return header.magic == kRecordingMagic;
}

// Exactly 16 upper-case hexadecimal digits, zero-padded, then a terminator.
void textureKeyHex(TextureKey key, char text[17]);

// Decoders of one record; the caller has checked that the record's bytes
// (kTriangleSize or kFrameMarkSize from `record`) lie inside the chunk.
TexturedTriangle decodeTriangle(const uint8_t* record);
FrameMark decodeFrameMark(const uint8_t* record);

inline int textureSlotOf(uint8_t state) { return state & 31; }
inline int blendModeOf(uint8_t state) { return state >> 5; }

}  // namespace drec
