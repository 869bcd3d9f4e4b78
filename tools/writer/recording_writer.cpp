#include "tools/writer/recording_writer.hpp"

#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "recording/stream.hpp"

namespace drec {

Bytes headerBytes(int16_t width, int16_t height, const TextureTable& keys, uint32_t magic) {
  Bytes header;
  appendU32(header, magic);
  appendU16(header, static_cast<uint16_t>(width));
  appendU16(header, static_cast<uint16_t>(height));
  for (int slot = 1; slot <= kTextureSlotCount; ++slot) {
    appendU32(header, static_cast<uint32_t>(keys[slot]));
    appendU32(header, static_cast<uint32_t>(keys[slot] >> 32));
  }
  return header;
}

void appendU16(Bytes& bytes, uint16_t value) {
  bytes.push_back(static_cast<uint8_t>(value));
  bytes.push_back(static_cast<uint8_t>(value >> 8));
}

void appendU32(Bytes& bytes, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<uint8_t>(value >> shift));
}

void appendF32(Bytes& bytes, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  appendU32(bytes, bits);
}

void appendFrameMark(Bytes& records, float timeStamp, uint8_t unread) {
  records.push_back(kRecordFrameMark);
  for (int i = 0; i < 3; ++i) records.push_back(unread);
  appendF32(records, timeStamp);
}

void appendTriangle(Bytes& records, uint8_t state, const TriangleVertex (&vertices)[3]) {
  records.push_back(kRecordTriangle);
  records.push_back(state);
  for (const TriangleVertex& vertex : vertices) {
    records.push_back(vertex.s);
    records.push_back(vertex.t);
    records.push_back(vertex.x);
    records.push_back(vertex.y);
    appendU16(records, vertex.depth);
    appendU16(records, vertex.color);
  }
}

Bytes compressRecords(const Bytes& records, int level) {
  uLongf size = compressBound(static_cast<uLong>(records.size()));
  Bytes compressed(size);
  compress2(compressed.data(), &size, records.data(), static_cast<uLong>(records.size()), level);
  compressed.resize(size);
  return compressed;
}

void appendChunk(Bytes& stream, const Bytes& records, int level) {
  Bytes compressed = compressRecords(records, level);
  appendU32(stream, static_cast<uint32_t>(compressed.size()));
  stream.insert(stream.end(), compressed.begin(), compressed.end());
}

void appendRawChunk(Bytes& stream, int32_t lengthWord, const Bytes& payload) {
  appendU32(stream, static_cast<uint32_t>(lengthWord));
  stream.insert(stream.end(), payload.begin(), payload.end());
}

void beginRecording(RecordingWriter& writer, int16_t width, int16_t height,
                    const TextureTable& keys, size_t chunkRecordLimit, int level) {
  writer = RecordingWriter{};
  writer.stream = headerBytes(width, height, keys);
  writer.chunkRecordLimit = chunkRecordLimit;
  writer.level = level;
}

static void cutWhenFull(RecordingWriter& writer) {
  if (writer.records.size() >= writer.chunkRecordLimit) flushChunk(writer);
}

void writeTriangle(RecordingWriter& writer, uint8_t state, const TriangleVertex (&vertices)[3]) {
  appendTriangle(writer.records, state, vertices);
  ++writer.triangles;
  cutWhenFull(writer);
}

void writeFrameMark(RecordingWriter& writer, float timeStamp) {
  appendFrameMark(writer.records, timeStamp);
  ++writer.frames;
  cutWhenFull(writer);
}

void flushChunk(RecordingWriter& writer) {
  if (writer.records.empty()) return;
  appendChunk(writer.stream, writer.records, writer.level);
  writer.records.clear();
  ++writer.chunks;
}

const Bytes& finishRecording(RecordingWriter& writer) {
  flushChunk(writer);
  return writer.stream;
}

std::vector<ChunkSpan> chunkSpans(const Bytes& stream) {
  std::vector<ChunkSpan> spans;
  size_t offset = kHeaderSize;
  while (offset + 4 <= stream.size()) {
    int32_t length = loadI32(stream.data() + offset);
    if (length < 0 || offset + 4 + static_cast<size_t>(length) > stream.size()) break;
    spans.push_back(ChunkSpan{offset, offset + 4, length});
    offset += 4 + static_cast<size_t>(length);
  }
  return spans;
}

std::vector<Bytes> splitAt(const Bytes& stream, const std::vector<size_t>& cuts) {
  std::vector<Bytes> segments;
  size_t start = 0;
  for (size_t cut : cuts) {
    segments.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(start),
                          stream.begin() + static_cast<std::ptrdiff_t>(cut));
    start = cut;
  }
  segments.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(start), stream.end());
  return segments;
}

// The first offset at or after `from` that lies strictly inside a chunk's
// compressed bytes, or 0 when there is none.
static size_t cutInsideChunk(const std::vector<ChunkSpan>& spans, size_t from) {
  for (const ChunkSpan& span : spans) {
    size_t end = span.dataOffset + static_cast<size_t>(span.length);
    if (span.length < 2 || end - 1 < from) continue;
    return from > span.dataOffset ? from : span.dataOffset + 1;
  }
  return 0;
}

std::vector<size_t> planSegmentCuts(const Bytes& stream, int count) {
  std::vector<size_t> cuts;
  if (count <= 1) return cuts;
  std::vector<ChunkSpan> spans = chunkSpans(stream);
  size_t first = cutInsideChunk(spans, stream.size() / static_cast<size_t>(count));
  if (first == 0) return {};
  cuts.push_back(first);
  for (int segment = 2; segment < count; ++segment) {
    size_t cut = cutInsideChunk(spans, cuts.back() + first);
    if (cut == 0) return {};
    cuts.push_back(cut);
  }
  // A chunk may continue into one further segment only.
  for (const ChunkSpan& span : spans) {
    size_t end = span.dataOffset + static_cast<size_t>(span.length);
    int inside = 0;
    for (size_t cut : cuts) inside += (cut > span.lengthWordOffset && cut < end) ? 1 : 0;
    if (inside > 1) return {};
  }
  return cuts;
}

bool writeBytesToFile(const std::string& path, const Bytes& bytes) {
  std::error_code error;
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, error);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

static std::string nameOfSegment(const std::string& segmentTemplate, size_t number) {
  std::vector<char> name(segmentNameCapacity(segmentTemplate.c_str()));
  segmentFileName(segmentTemplate.c_str(), static_cast<int64_t>(number), name.data(), name.size());
  return name.data();
}

bool writeSegmentFiles(const std::string& directory, const std::string& segmentTemplate,
                       const std::vector<Bytes>& segments) {
  for (size_t i = 0; i < segments.size(); ++i) {
    std::string path = nameOfSegment(segmentTemplate, i);
    if (!directory.empty()) path = directory + "/" + path;
    if (!writeBytesToFile(path, segments[i])) return false;
  }
  return true;
}

void addSegmentsToMemory(MemoryFiles& files, const std::string& segmentTemplate,
                         const std::vector<Bytes>& segments) {
  for (size_t i = 0; i < segments.size(); ++i)
    addMemoryFile(files, nameOfSegment(segmentTemplate, i), segments[i]);
}

}  // namespace drec
