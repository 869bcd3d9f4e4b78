#include "recording/stream.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/captured_console.hpp"
#include "tools/writer/memory_files.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

struct NameCase {
  const char* segmentTemplate;
  int64_t number;
  const char* expected;
  bool hasMarker;
};

TEST(SegmentFileName, FollowsTheTemplate) {
  const NameCase cases[] = {
      {"Video/Stream/Recording.%i.rec", 0, "Video/Stream/Recording.0.rec", true},
      {"Video/Stream/Recording.%i.rec", 1, "Video/Stream/Recording.1.rec", true},
      {"rec%i", 9, "rec9", true},
      {"rec%i", 10, "rec10", true},
      {"rec%i", 12, "rec12", true},
      {"rec%i", -3, "rec-3", true},
      {"a%ib%ic", 3, "a3b%ic", true},  // only the first marker is replaced
      {"plain.rec", 5, "plain.rec", false},
      {"upper%I.rec", 2, "upper%I.rec", false},  // case-sensitive
      {"%i", 7, "7", true},
      {"100%%i", 4, "100%4", true},
      {"", 1, "", false},
  };
  for (const NameCase& row : cases) {
    char name[64];
    bool found = segmentFileName(row.segmentTemplate, row.number, name, sizeof name);
    EXPECT_STREQ(row.expected, name) << "template " << row.segmentTemplate << " n=" << row.number;
    EXPECT_EQ(row.hasMarker, found) << "template " << row.segmentTemplate;
  }
}

TEST(SegmentFileName, CapacityHoldsAnyNumber) {
  const char* segmentTemplate = "x%iy";
  std::vector<char> name(segmentNameCapacity(segmentTemplate));
  segmentFileName(segmentTemplate, INT64_MIN, name.data(), name.size());
  EXPECT_STREQ("x-9223372036854775808y", name.data());
}

// A stream over in-memory segment files with a captured console.
struct StreamFixture {
  MemoryFiles memory{};
  FileAccess files{};
  test::CapturedConsole printed;
  Console console{};
  SegmentedStream stream{};
  uint8_t header[kHeaderSize];
  std::string segmentTemplate;

  StartOutcome start(const std::string& name) {
    segmentTemplate = name;
    files = memoryFileAccess(memory);
    console = test::capturingConsole(printed);
    StartOutcome outcome = startStream(stream, files, console, segmentTemplate.c_str(), header);
    if (outcome == StartOutcome::Opened) createStreamBuffers(stream);
    return outcome;
  }
  ~StreamFixture() { closeStream(stream); }
};

Bytes recordsOfFrame(float time, int triangles) {
  Bytes records;
  const TriangleVertex vertices[3] = {{0, 0, 10, 10, 30000, 0xF0F0},
                                      {255, 0, 200, 10, 30000, 0xF0F0},
                                      {0, 255, 10, 200, 30000, 0xF0F0}};
  for (int i = 0; i < triangles; ++i) appendTriangle(records, triangleState(i % 4, 1), vertices);
  appendFrameMark(records, time);
  return records;
}

Bytes headerOnly() { return headerBytes(640, 480, TextureTable{}); }

TEST(SegmentedStream, StartReadsHeaderAndTotals) {
  StreamFixture f;
  Bytes file = headerOnly();
  appendChunk(file, recordsOfFrame(0.0f, 2));
  addMemoryFile(f.memory, "one.rec", file);
  ASSERT_EQ(StartOutcome::Opened, f.start("one.rec"));
  EXPECT_FALSE(f.stream.multiSegment);
  EXPECT_EQ(static_cast<int64_t>(file.size()), f.stream.firstSegmentLength);
  EXPECT_EQ(static_cast<int64_t>(file.size()) - kHeaderSize, f.stream.bytesAvailable);
  EXPECT_EQ(0, f.stream.bytesConsumed);
  RecordingHeader header = parseHeader(f.header);
  EXPECT_TRUE(hasRecordingMagic(header));
  EXPECT_EQ(640, header.width);
  EXPECT_EQ(480, header.height);
  ASSERT_TRUE(hasMoreData(f.stream));
  ASSERT_EQ(ChunkOutcome::Chunk, nextChunk(f.stream));
  Bytes expected = recordsOfFrame(0.0f, 2);
  ASSERT_EQ(expected.size(), f.stream.recordLength);
  EXPECT_EQ(0, memcmp(expected.data(), f.stream.recordBuffer, expected.size()));
  EXPECT_FALSE(hasMoreData(f.stream));
  EXPECT_EQ("", f.printed.text);
  EXPECT_FALSE(f.stream.damaged);
}

TEST(SegmentedStream, MissingFirstSegmentFailsToOpen) {
  StreamFixture f;
  EXPECT_EQ(StartOutcome::OpenFailed, f.start("missing.%i.rec"));
  EXPECT_EQ(0, f.memory.opens);
}

TEST(SegmentedStream, ShortHeaderIsZeroFilledAndEndsAtOnce) {
  for (size_t size : {size_t{0}, size_t{4}, size_t{100}, size_t{263}, size_t{264}}) {
    StreamFixture f;
    Bytes file = headerOnly();
    file.resize(size);
    addMemoryFile(f.memory, "short.rec", file);
    ASSERT_EQ(StartOutcome::Opened, f.start("short.rec"));
    for (size_t i = size; i < kHeaderSize; ++i) ASSERT_EQ(0, f.header[i]) << "size " << size;
    EXPECT_EQ(static_cast<int64_t>(size) - kHeaderSize, f.stream.bytesAvailable);
    EXPECT_FALSE(hasMoreData(f.stream)) << "size " << size;
  }
}

struct LengthCase {
  const char* name;
  int32_t lengthWord;
  ChunkOutcome outcome;
  const char* printed;
  bool damaged;
};

TEST(SegmentedStream, LengthWordBranches) {
  const LengthCase cases[] = {
      {"negative", -1, ChunkOutcome::EndOfRecording, "bad luck end of file\n", true},
      {"most negative", INT32_MIN, ChunkOutcome::EndOfRecording, "bad luck end of file\n", true},
      {"just over", 32769, ChunkOutcome::Overflow, "Overflow on input buffer\n", true},
      {"far over", INT32_MAX, ChunkOutcome::Overflow, "Overflow on input buffer\n", true},
  };
  for (const LengthCase& row : cases) {
    StreamFixture f;
    Bytes file = headerOnly();
    appendRawChunk(file, row.lengthWord, Bytes(64, 0xAB));
    addMemoryFile(f.memory, "r.rec", file);
    ASSERT_EQ(StartOutcome::Opened, f.start("r.rec"));
    EXPECT_EQ(row.outcome, nextChunk(f.stream)) << row.name;
    EXPECT_EQ(row.printed, f.printed.text) << row.name;
    EXPECT_EQ(row.damaged, f.stream.damaged) << row.name;
  }
}

TEST(SegmentedStream, LengthZeroIsAnEmptyChunk) {
  StreamFixture f;
  Bytes file = headerOnly();
  appendRawChunk(file, 0, {});
  appendChunk(file, recordsOfFrame(1.0f, 1));
  addMemoryFile(f.memory, "r.rec", file);
  ASSERT_EQ(StartOutcome::Opened, f.start("r.rec"));
  ASSERT_EQ(ChunkOutcome::Chunk, nextChunk(f.stream));
  EXPECT_EQ(0u, f.stream.recordLength);
  EXPECT_EQ(4, f.stream.bytesConsumed);
  ASSERT_EQ(ChunkOutcome::Chunk, nextChunk(f.stream));
  EXPECT_EQ(recordsOfFrame(1.0f, 1).size(), f.stream.recordLength);
  EXPECT_EQ("", f.printed.text);
  EXPECT_FALSE(f.stream.damaged);
}

// Records that compress badly, so a chunk of exactly 32,768 bytes can be made.
Bytes incompressibleRecords(size_t size, uint32_t seed) {
  Bytes records;
  while (records.size() + kTriangleSize <= size) {
    TriangleVertex v[3];
    for (TriangleVertex& vertex : v) {
      seed = seed * 1103515245u + 12345u;
      vertex = TriangleVertex{static_cast<uint8_t>(seed >> 24), static_cast<uint8_t>(seed >> 16),
                              static_cast<uint8_t>(seed >> 8), static_cast<uint8_t>(seed),
                              static_cast<uint16_t>(seed >> 5), static_cast<uint16_t>(seed >> 13)};
    }
    appendTriangle(records, 2, v);
  }
  return records;
}

TEST(SegmentedStream, LengthOfExactly32768IsRead) {
  // Stored (level 0) deflate blocks make the compressed size predictable:
  // grow the records until the zlib stream is exactly 32,768 bytes long.
  Bytes records = incompressibleRecords(32600, 7);
  Bytes compressed = compressRecords(records, 0);
  while (compressed.size() < 32768) {
    records.push_back(kRecordPointA);
    compressed = compressRecords(records, 0);
  }
  ASSERT_EQ(32768u, compressed.size());
  StreamFixture f;
  Bytes file = headerOnly();
  appendRawChunk(file, 32768, compressed);
  addMemoryFile(f.memory, "r.rec", file);
  ASSERT_EQ(StartOutcome::Opened, f.start("r.rec"));
  ASSERT_EQ(ChunkOutcome::Chunk, nextChunk(f.stream));
  EXPECT_EQ(records.size(), f.stream.recordLength);
  EXPECT_EQ(0, memcmp(records.data(), f.stream.recordBuffer, records.size()));
  EXPECT_FALSE(hasMoreData(f.stream));
}

TEST(SegmentedStream, ChunkContinuesIntoNextSegment) {
  Bytes stream = headerOnly();
  Bytes first = recordsOfFrame(0.5f, 30);
  Bytes second = recordsOfFrame(1.0f, 30);
  appendChunk(stream, first);
  appendChunk(stream, second);
  std::vector<ChunkSpan> spans = chunkSpans(stream);
  ASSERT_EQ(2u, spans.size());
  // Cut inside the second chunk's compressed bytes; segment 1, shorter, is the last.
  size_t cut = spans[1].dataOffset + 5;
  StreamFixture f;
  addSegmentsToMemory(f.memory, "s.%i.rec", splitAt(stream, {cut}));
  ASSERT_EQ(StartOutcome::Opened, f.start("s.%i.rec"));
  EXPECT_TRUE(f.stream.multiSegment);
  ASSERT_EQ(ChunkOutcome::Chunk, nextChunk(f.stream));
  EXPECT_EQ(first.size(), f.stream.recordLength);
  ASSERT_TRUE(hasMoreData(f.stream));
  ASSERT_EQ(ChunkOutcome::Chunk, nextChunk(f.stream));
  EXPECT_EQ(1, f.stream.segmentNumber);
  ASSERT_EQ(second.size(), f.stream.recordLength);
  EXPECT_EQ(0, memcmp(second.data(), f.stream.recordBuffer, second.size()));
  EXPECT_FALSE(hasMoreData(f.stream));
  EXPECT_FALSE(f.stream.multiSegment);  // segment 1 was shorter: the last
  EXPECT_EQ("", f.printed.text);
  EXPECT_LE(f.memory.maxOpenCount, 1);
}

TEST(SegmentedStream, MissingNextSegmentPrintsItsNameThenBrokenStream) {
  Bytes stream = headerOnly();
  appendChunk(stream, recordsOfFrame(0.5f, 30));
  std::vector<ChunkSpan> spans = chunkSpans(stream);
  StreamFixture f;
  std::vector<Bytes> segments = splitAt(stream, {spans[0].dataOffset + 7});
  segments.pop_back();  // segment 1 is missing
  addSegmentsToMemory(f.memory, "b.%i.rec", segments);
  ASSERT_EQ(StartOutcome::Opened, f.start("b.%i.rec"));
  EXPECT_EQ(ChunkOutcome::EndOfRecording, nextChunk(f.stream));
  EXPECT_EQ("b.1.rec\nBroken Stream\n", f.printed.text);
  EXPECT_TRUE(f.stream.damaged);
  EXPECT_EQ(0, f.memory.openCount);  // the previous segment was closed first
}

TEST(SegmentedStream, SegmentAsLongAsTheFirstKeepsMultiSegment) {
  // Three chunks; segment 0 and segment 1 equally long, segment 2 missing.
  Bytes stream = headerOnly();
  for (int i = 0; i < 3; ++i) appendChunk(stream, incompressibleRecords(3000, static_cast<uint32_t>(i + 1)));
  std::vector<ChunkSpan> spans = chunkSpans(stream);
  size_t cut = spans[1].dataOffset + 10;  // segment 0 ends inside chunk 1
  size_t secondCut = cut + cut;           // segment 1 exactly as long, ending inside chunk 2
  ASSERT_GT(secondCut, spans[2].dataOffset);
  ASSERT_LT(secondCut, spans[2].dataOffset + static_cast<size_t>(spans[2].length));
  std::vector<Bytes> segments = splitAt(stream, {cut, secondCut});
  ASSERT_EQ(segments[0].size(), segments[1].size());
  segments.pop_back();
  StreamFixture f;
  addSegmentsToMemory(f.memory, "e.%i.rec", segments);
  ASSERT_EQ(StartOutcome::Opened, f.start("e.%i.rec"));
  ASSERT_EQ(ChunkOutcome::Chunk, nextChunk(f.stream));
  ASSERT_EQ(ChunkOutcome::Chunk, nextChunk(f.stream));
  EXPECT_EQ(1, f.stream.segmentNumber);
  EXPECT_TRUE(f.stream.multiSegment);
  ASSERT_TRUE(hasMoreData(f.stream));
  EXPECT_EQ(ChunkOutcome::EndOfRecording, nextChunk(f.stream));
  EXPECT_EQ("e.2.rec\nBroken Stream\n", f.printed.text);
}

TEST(SegmentedStream, ShorterSegmentIsTheLastAndItsCutChunkIsNotWalked) {
  Bytes stream = headerOnly();
  for (int i = 0; i < 3; ++i) appendChunk(stream, incompressibleRecords(3000, static_cast<uint32_t>(i + 9)));
  std::vector<ChunkSpan> spans = chunkSpans(stream);
  size_t cut = spans[1].dataOffset + 2000;
  size_t secondCut = spans[2].dataOffset + 10;  // segment 1 shorter than segment 0
  std::vector<Bytes> segments = splitAt(stream, {cut, secondCut});
  ASSERT_LT(segments[1].size(), segments[0].size());
  StreamFixture f;
  addSegmentsToMemory(f.memory, "c.%i.rec", segments);
  ASSERT_EQ(StartOutcome::Opened, f.start("c.%i.rec"));
  ASSERT_EQ(ChunkOutcome::Chunk, nextChunk(f.stream));
  EXPECT_TRUE(f.stream.multiSegment);
  ASSERT_EQ(ChunkOutcome::Chunk, nextChunk(f.stream));  // continued into segment 1
  EXPECT_FALSE(f.stream.multiSegment);
  ASSERT_TRUE(hasMoreData(f.stream));
  // Chunk 2 is cut by the end of the last segment: decompressed, never walked, silent.
  EXPECT_EQ(ChunkOutcome::EndOfRecording, nextChunk(f.stream));
  EXPECT_EQ("", f.printed.text);
  EXPECT_FALSE(f.stream.damaged);
  EXPECT_EQ(2, f.memory.opens);  // segment 2 was never tried
}

TEST(SegmentedStream, SegmentEndingBetweenChunksEndsTheRecording) {
  Bytes stream = headerOnly();
  appendChunk(stream, recordsOfFrame(0.1f, 3));
  appendChunk(stream, recordsOfFrame(0.2f, 3));
  std::vector<ChunkSpan> spans = chunkSpans(stream);
  StreamFixture f;
  addSegmentsToMemory(f.memory, "g.%i.rec", splitAt(stream, {spans[1].lengthWordOffset}));
  ASSERT_EQ(StartOutcome::Opened, f.start("g.%i.rec"));
  ASSERT_EQ(ChunkOutcome::Chunk, nextChunk(f.stream));
  EXPECT_FALSE(hasMoreData(f.stream));
  EXPECT_EQ(1, f.memory.opens);
}

TEST(SegmentedStream, StrayBytesAtTheEnd) {
  for (int stray = 1; stray <= 3; ++stray) {
    for (bool withMarker : {false, true}) {
      Bytes stream = headerOnly();
      appendChunk(stream, recordsOfFrame(0.1f, 2));
      // Little-endian: the stray bytes announce a chunk of 5 bytes.
      const uint8_t strayBytes[3] = {0x05, 0x00, 0x00};
      for (int i = 0; i < stray; ++i) stream.push_back(strayBytes[i]);
      StreamFixture f;
      std::string name = withMarker ? "t.%i.rec" : "t.rec";
      addMemoryFile(f.memory, withMarker ? "t.0.rec" : "t.rec", stream);
      ASSERT_EQ(StartOutcome::Opened, f.start(name));
      ASSERT_EQ(ChunkOutcome::Chunk, nextChunk(f.stream));
      ASSERT_TRUE(hasMoreData(f.stream));
      ChunkOutcome outcome = nextChunk(f.stream);
      EXPECT_EQ(ChunkOutcome::EndOfRecording, outcome) << stray << " " << withMarker;
      // With "%i" the announced chunk runs short and the next segment is tried.
      EXPECT_EQ(withMarker ? "t.1.rec\nBroken Stream\n" : "", f.printed.text)
          << stray << " stray bytes, marker " << withMarker;
    }
  }
}

TEST(SegmentedStream, DamagedChunkIsSkippedWithItsPlace) {
  Bytes stream = headerOnly();
  appendChunk(stream, recordsOfFrame(0.1f, 2));
  size_t damagedOffset = stream.size();
  Bytes bad = compressRecords(recordsOfFrame(0.2f, 5));
  bad[bad.size() / 2] ^= 0xFF;
  bad[2] ^= 0x55;
  appendRawChunk(stream, static_cast<int32_t>(bad.size()), bad);
  appendChunk(stream, recordsOfFrame(0.3f, 2));
  StreamFixture f;
  addMemoryFile(f.memory, "d.rec", stream);
  ASSERT_EQ(StartOutcome::Opened, f.start("d.rec"));
  ASSERT_EQ(ChunkOutcome::Chunk, nextChunk(f.stream));
  ASSERT_EQ(ChunkOutcome::Chunk, nextChunk(f.stream));
  EXPECT_EQ(0u, f.stream.recordLength);
  EXPECT_EQ("Damaged chunk at byte " + std::to_string(damagedOffset) + " of d.rec, skipped\n",
            f.printed.text);
  EXPECT_TRUE(f.stream.damaged);
  ASSERT_EQ(ChunkOutcome::Chunk, nextChunk(f.stream));
  EXPECT_EQ(recordsOfFrame(0.3f, 2).size(), f.stream.recordLength);
}

TEST(SegmentedStream, TooManyRecordsAreADamagedChunk) {
  Bytes records(kMaxRecordLength + 1, 0);  // zeros compress to well under 32 KB
  Bytes stream = headerOnly();
  appendChunk(stream, records, 9);
  ASSERT_LE(stream.size() - kHeaderSize - 4, 32768u);
  StreamFixture f;
  addMemoryFile(f.memory, "big.rec", stream);
  ASSERT_EQ(StartOutcome::Opened, f.start("big.rec"));
  ASSERT_EQ(ChunkOutcome::Chunk, nextChunk(f.stream));
  EXPECT_EQ(0u, f.stream.recordLength);
  EXPECT_TRUE(f.stream.damaged);
  EXPECT_EQ("Damaged chunk at byte 264 of big.rec, skipped\n", f.printed.text);
}

TEST(SegmentedStream, DamagedChunkInLaterSegmentNamesWhereItsLengthWordLies) {
  Bytes stream = headerOnly();
  appendChunk(stream, incompressibleRecords(4000, 3));
  appendChunk(stream, recordsOfFrame(0.1f, 3));
  size_t third = stream.size();
  Bytes bad = compressRecords(incompressibleRecords(4000, 5));
  bad[10] ^= 0xFF;
  bad[11] ^= 0xFF;
  appendRawChunk(stream, static_cast<int32_t>(bad.size()), bad);
  std::vector<ChunkSpan> spans = chunkSpans(stream);
  size_t cut = spans[0].dataOffset + 100;
  StreamFixture f;
  addSegmentsToMemory(f.memory, "m.%i.rec", splitAt(stream, {cut}));
  ASSERT_EQ(StartOutcome::Opened, f.start("m.%i.rec"));
  ASSERT_EQ(ChunkOutcome::Chunk, nextChunk(f.stream));
  ASSERT_EQ(ChunkOutcome::Chunk, nextChunk(f.stream));
  ASSERT_EQ(ChunkOutcome::Chunk, nextChunk(f.stream));
  EXPECT_EQ("Damaged chunk at byte " + std::to_string(third - cut) + " of m.1.rec, skipped\n",
            f.printed.text);
}

TEST(SegmentedStream, CutShortAtTheEndStaysSilentEvenWhenUndecodable) {
  Bytes stream = headerOnly();
  appendChunk(stream, recordsOfFrame(0.1f, 40));
  stream.resize(stream.size() - 9);
  StreamFixture f;
  addMemoryFile(f.memory, "cut.rec", stream);
  ASSERT_EQ(StartOutcome::Opened, f.start("cut.rec"));
  EXPECT_EQ(ChunkOutcome::EndOfRecording, nextChunk(f.stream));
  EXPECT_EQ("", f.printed.text);
  EXPECT_FALSE(f.stream.damaged);
}

// File access that claims lengths the memory does not hold, to exercise the
// totals beyond 2 GiB without writing gigabytes.
struct ClaimedLengths {
  MemoryFiles memory{};
  FileAccess inner{};
  std::vector<int64_t> claimed;  // by open order
  std::vector<int> openOrder;
};

TEST(SegmentedStream, TotalsBeyondTwoGibibytesStay64Bit) {
  Bytes stream = headerOnly();
  appendChunk(stream, recordsOfFrame(0.1f, 30));
  appendChunk(stream, recordsOfFrame(0.2f, 30));
  std::vector<ChunkSpan> spans = chunkSpans(stream);
  std::vector<Bytes> segments = splitAt(stream, {spans[1].dataOffset + 3});
  static ClaimedLengths claims;
  claims = ClaimedLengths{};
  addSegmentsToMemory(claims.memory, "h.%i.rec", segments);
  claims.inner = memoryFileAccess(claims.memory);
  FileAccess files = claims.inner;
  files.context = &claims;
  files.open = [](void* c, const char* n) {
    auto& self = *static_cast<ClaimedLengths*>(c);
    return self.inner.open(self.inner.context, n);
  };
  files.read = [](void* c, FileHandle h, uint8_t* d, int64_t n) {
    auto& self = *static_cast<ClaimedLengths*>(c);
    return self.inner.read(self.inner.context, h, d, n);
  };
  files.seek = [](void* c, FileHandle h, int64_t o) {
    auto& self = *static_cast<ClaimedLengths*>(c);
    return self.inner.seek(self.inner.context, h, o);
  };
  files.close = [](void* c, FileHandle h) {
    auto& self = *static_cast<ClaimedLengths*>(c);
    self.inner.close(self.inner.context, h);
  };
  // Segment 0 claims 3 GiB, segment 1 claims 5 GiB: 32-bit totals would wrap.
  files.length = [](void* c, FileHandle h) {
    auto& self = *static_cast<ClaimedLengths*>(c);
    int64_t real = self.inner.length(self.inner.context, h);
    return real == static_cast<int64_t>(self.memory.files[0].bytes.size()) ? (int64_t{3} << 30)
                                                                            : (int64_t{5} << 30);
  };
  test::CapturedConsole printed;
  Console console = test::capturingConsole(printed);
  SegmentedStream s{};
  uint8_t header[kHeaderSize];
  ASSERT_EQ(StartOutcome::Opened, startStream(s, files, console, "h.%i.rec", header));
  createStreamBuffers(s);
  EXPECT_EQ((int64_t{3} << 30) - kHeaderSize, s.bytesAvailable);
  ASSERT_TRUE(hasMoreData(s));
  ASSERT_EQ(ChunkOutcome::Chunk, nextChunk(s));
  ASSERT_EQ(ChunkOutcome::Chunk, nextChunk(s));
  EXPECT_EQ(1, s.segmentNumber);
  EXPECT_TRUE(s.multiSegment);
  EXPECT_EQ((int64_t{8} << 30) - kHeaderSize, s.bytesAvailable);
  EXPECT_TRUE(hasMoreData(s));
  EXPECT_EQ(recordsOfFrame(0.2f, 30).size(), s.recordLength);
  EXPECT_EQ("", printed.text);
  closeStream(s);
}

}  // namespace
}  // namespace drec
