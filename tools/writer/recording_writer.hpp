// The one recording writer: headers, records, compressed chunks, raw or
// damaged bytes, and a stream split into numbered segment files. The tests,
// the demo generator, the benchmarks and the fuzz corpus all write
// recordings with it.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "recording/format.hpp"
#include "tools/writer/memory_files.hpp"

namespace drec {

using Bytes = std::vector<uint8_t>;
using TextureTable = std::array<TextureKey, kTextureSlotCount + 1>;  // [0] unused

// The 264 header bytes.
Bytes headerBytes(int16_t width, int16_t height, const TextureTable& keys,
                  uint32_t magic = kRecordingMagic);

void appendU16(Bytes& bytes, uint16_t value);
void appendU32(Bytes& bytes, uint32_t value);
void appendF32(Bytes& bytes, float value);
void appendFrameMark(Bytes& records, float timeStamp, uint8_t unread = 0);
void appendTriangle(Bytes& records, uint8_t state, const TriangleVertex (&vertices)[3]);
inline uint8_t triangleState(int slot, int blendMode) {
  return static_cast<uint8_t>((slot & 31) | ((blendMode & 7) << 5));
}
inline PackedColor16 packColor(int alpha, int red, int green, int blue) {
  return static_cast<PackedColor16>(((alpha & 15) << 12) | ((red & 15) << 8) |
                                    ((green & 15) << 4) | (blue & 15));
}

Bytes compressRecords(const Bytes& records, int level = 6);
// A chunk: its length word, then the compressed records.
void appendChunk(Bytes& stream, const Bytes& records, int level = 6);
// A length word of any value followed by the given bytes, for damaged input.
void appendRawChunk(Bytes& stream, int32_t lengthWord, const Bytes& payload);

// Builds a recording front to back, cutting a chunk whenever the pending
// records reach `chunkRecordLimit` bytes (never splitting a record).
struct RecordingWriter {
  Bytes stream;   // header, then chunks
  Bytes records;  // the chunk being filled
  size_t chunkRecordLimit;
  int level;
  int frames;
  int triangles;
  int chunks;
};

void beginRecording(RecordingWriter& writer, int16_t width, int16_t height,
                    const TextureTable& keys, size_t chunkRecordLimit = 16384, int level = 6);
void writeTriangle(RecordingWriter& writer, uint8_t state, const TriangleVertex (&vertices)[3]);
void writeFrameMark(RecordingWriter& writer, float timeStamp);
void flushChunk(RecordingWriter& writer);  // cuts a chunk from pending records, if any
const Bytes& finishRecording(RecordingWriter& writer);  // flushes, returns the stream

// Where each chunk lies in a stream (offsets from the stream's first byte).
struct ChunkSpan {
  size_t lengthWordOffset;
  size_t dataOffset;
  int32_t length;
};
std::vector<ChunkSpan> chunkSpans(const Bytes& stream);

// Splits a stream at the given offsets (ascending) into segments.
std::vector<Bytes> splitAt(const Bytes& stream, const std::vector<size_t>& cuts);
// Cut offsets for `count` segments that the reader follows to the end: every
// cut falls inside a chunk's compressed bytes, every segment but the last is
// at least as long as segment 0, and no chunk spans more than two segments.
// Empty when the stream cannot be split so.
std::vector<size_t> planSegmentCuts(const Bytes& stream, int count);

// Segment files named from a template ("%i" replaced by the segment number).
bool writeSegmentFiles(const std::string& directory, const std::string& segmentTemplate,
                       const std::vector<Bytes>& segments);
void addSegmentsToMemory(MemoryFiles& files, const std::string& segmentTemplate,
                         const std::vector<Bytes>& segments);
bool writeBytesToFile(const std::string& path, const Bytes& bytes);  // makes parent folders

}  // namespace drec
