// Damaged recordings swept through the whole player in process, through the
// same entry point as the player fuzz target (fuzz/harness.hpp): a clock that
// moves only when the player sleeps, files in memory, GL calls noted.
//
// Every case must end (end of recording, a start-up failure, or "Overflow on
// input buffer"), keep every triangle of the chunks before the damage, never
// sleep over 250 ms (apart from the second after an overflow), and draw only
// triangles that were really recorded, in their recorded order.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "fuzz/harness.hpp"
#include "recording/format.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

using fuzz::Bytes;

// Far above what any case here needs; reaching it means the run hung.
constexpr uint64_t kServiceCallLimit = 5'000'000;
constexpr int kSegmentCount = 4;

struct Sweep {
  fuzz::SampleRecording sample;
  Bytes stream;
  std::vector<ChunkSpan> spans;
  std::vector<size_t> cuts;  // segment boundaries in the stream

  Sweep() : sample(fuzz::sampleRecording(150, 8, 220, 0.02)) {
    stream = fuzz::assembleRecording(sample);
    spans = chunkSpans(stream);
    cuts = planSegmentCuts(stream, kSegmentCount);
  }

  size_t chunkEnd(size_t chunk) const {
    return spans[chunk].dataOffset + static_cast<size_t>(spans[chunk].length);
  }
  // Chunks that end at or before `offset`.
  size_t chunksBefore(size_t offset) const {
    size_t count = 0;
    while (count < spans.size() && chunkEnd(count) <= offset) ++count;
    return count;
  }
  // The chunk whose length word or data holds stream byte `offset`.
  size_t chunkAt(size_t offset) const {
    for (size_t i = 0; i < spans.size(); ++i)
      if (offset < chunkEnd(i)) return i;
    return spans.size();
  }
};

const Sweep& sweep() {
  static const Sweep made;
  return made;
}

std::vector<Bytes> segmentsOf(const Bytes& stream) {
  return splitAt(stream, sweep().cuts);
}

fuzz::PlayerRun play(const std::vector<Bytes>& segments, const std::vector<bool>& present = {}) {
  MemoryFiles files{};
  for (size_t i = 0; i < segments.size(); ++i) {
    if (!present.empty() && !present[i]) continue;
    addMemoryFile(files, "r." + std::to_string(i) + ".rec", segments[i]);
  }
  return fuzz::playInMemory(files, fuzz::kSegmentTemplate, kServiceCallLimit);
}

bool startupFailed(const fuzz::PlayerRun& run) {
  return run.printed.size() >= 2 && run.printed.compare(run.printed.size() - 2, 2, "\r\n") == 0;
}

// What a damaged run must show. `intact` chunks come before the damage and
// must all be drawn, in order, first; `exact` says that nothing after them
// may be drawn. Every triangle drawn must be one of the recording's, each
// at most once and in recorded order.
::testing::AssertionResult behaved(const fuzz::PlayerRun& run, size_t intact, bool exact) {
  const std::string problem = fuzz::checkRun(run);
  if (!problem.empty()) return ::testing::AssertionFailure() << problem << "; printed: " << run.printed;
  if (startupFailed(run)) {
    if (!run.drawn.empty()) return ::testing::AssertionFailure() << "drew after a start-up failure";
    return ::testing::AssertionSuccess();
  }
  const fuzz::SampleRecording& sample = sweep().sample;
  const std::vector<const uint8_t*> all = fuzz::triangleRecords(sample, 0, sample.chunkRecords.size());
  const size_t kept = fuzz::triangleRecords(sample, 0, intact).size();
  const TriangleRenderer renderer = fuzz::offsetRenderer(run.width, run.height);
  size_t next = 0;  // the recorded triangle the next drawn one may be, at the earliest
  for (size_t i = 0; i < run.drawn.size(); ++i) {
    const fuzz::TriangleKey drawn = fuzz::keyOf(run.drawn[i]);
    while (next < all.size() && fuzz::keyOf(fuzz::expectedDrawing(all[next], renderer)) != drawn) {
      if (next < kept)
        return ::testing::AssertionFailure() << "triangle " << next << " before the damage was not drawn";
      ++next;
    }
    if (next == all.size())
      return ::testing::AssertionFailure() << "drawn triangle " << i << " is not a recorded one in order";
    ++next;
  }
  if (run.drawn.size() < kept)
    return ::testing::AssertionFailure() << "drew " << run.drawn.size() << " of the " << kept
                                         << " triangles before the damage";
  if (exact && run.drawn.size() != kept)
    return ::testing::AssertionFailure() << "drew " << run.drawn.size() << " triangles, expected exactly " << kept;
  return ::testing::AssertionSuccess();
}

TEST(DamageSweep, TheSampleIsMultiSegmentAndPlaysWhole) {
  const Sweep& s = sweep();
  ASSERT_EQ(static_cast<size_t>(kSegmentCount - 1), s.cuts.size());
  ASSERT_EQ(s.sample.chunkRecords.size(), s.spans.size());
  ASSERT_GT(s.stream.size(), 4u * 4096u);
  const fuzz::PlayerRun run = play(segmentsOf(s.stream));
  EXPECT_EQ("Done.", run.printed);
  EXPECT_EQ(1200u, run.drawn.size());
  EXPECT_TRUE(behaved(run, s.spans.size(), true));
}

// Cut at every byte of the header and of the first three chunks, then every
// 4 KiB: exactly the chunks that end before the cut are drawn.
TEST(DamageSweep, CutAtEveryByteThenEvery4KiB) {
  const Sweep& s = sweep();
  std::vector<size_t> ends;
  for (size_t end = 0; end <= s.chunkEnd(2); ++end) ends.push_back(end);
  for (size_t end = 4096; end < s.stream.size(); end += 4096) ends.push_back(end);
  for (size_t end : ends) {
    // The segments before the cut, the one it falls in cut short, no others.
    const Bytes cut(s.stream.begin(), s.stream.begin() + static_cast<std::ptrdiff_t>(end));
    std::vector<size_t> cuts;
    for (size_t boundary : s.cuts)
      if (boundary < end) cuts.push_back(boundary);
    const fuzz::PlayerRun run = play(splitAt(cut, cuts));
    ASSERT_TRUE(behaved(run, s.chunksBefore(end), true)) << "cut at byte " << end;
    if (end >= 8 && end < 264) {
      EXPECT_EQ("Done.", run.printed) << "cut at byte " << end;
    }
  }
}

TEST(DamageSweep, EachSegmentRemovedInTurn) {
  const Sweep& s = sweep();
  const std::vector<Bytes> segments = segmentsOf(s.stream);
  for (size_t removed = 0; removed < segments.size(); ++removed) {
    std::vector<bool> present(segments.size(), true);
    present[removed] = false;
    const fuzz::PlayerRun run = play(segments, present);
    if (removed == 0) {
      EXPECT_EQ("Failed to open video file\r\n", run.printed);
      EXPECT_TRUE(behaved(run, 0, true));
      continue;
    }
    const std::string name = "r." + std::to_string(removed) + ".rec";
    EXPECT_EQ(name + "\nBroken Stream\nDone.", run.printed.substr(run.printed.size() - name.size() - 20))
        << "segment " << removed << " removed";
    EXPECT_TRUE(behaved(run, s.chunksBefore(s.cuts[removed - 1]), true)) << "segment " << removed << " removed";
  }
}

TEST(DamageSweep, EverySingleBitFlipInTheHeaderAndFirstTwoChunks) {
  const Sweep& s = sweep();
  int startupFailures = 0;
  int damagedChunks = 0;
  for (size_t offset = 0; offset < s.chunkEnd(1); ++offset) {
    for (int bit = 0; bit < 8; ++bit) {
      Bytes flipped = s.stream;
      flipped[offset] = static_cast<uint8_t>(flipped[offset] ^ (1u << bit));
      const fuzz::PlayerRun run = play(segmentsOf(flipped));
      // A flip in the header leaves every chunk intact (or fails start-up).
      const size_t intact = offset < kHeaderSize ? s.spans.size() : s.chunkAt(offset);
      ASSERT_TRUE(behaved(run, intact, offset < kHeaderSize))
          << "bit " << bit << " of byte " << offset << "; printed: " << run.printed;
      startupFailures += startupFailed(run) ? 1 : 0;
      damagedChunks += run.printed.find("Damaged chunk") != std::string::npos ? 1 : 0;
    }
  }
  // The magic's 32 bits and the sign bits of the width and height.
  EXPECT_EQ(34, startupFailures);
  EXPECT_GT(damagedChunks, 0);
}

// Every type byte at a record's position: the first record of chunk 1, and
// the last record of chunk 2 (a longer record there runs past the chunk).
TEST(DamageSweep, EveryTypeByteAtARecordPosition) {
  const Sweep& s = sweep();
  struct Position {
    size_t chunk;
    bool last;
  };
  for (const Position position : {Position{1, false}, Position{2, true}}) {
    const Bytes& original = s.sample.chunkRecords[position.chunk];
    size_t offset = 0;
    if (position.last) {
      for (size_t at = 0; at < original.size();) {
        offset = at;
        at += original[at] == kRecordTriangle ? kTriangleSize : kFrameMarkSize;
      }
    }
    for (int type = 0; type < 256; ++type) {
      fuzz::SampleRecording damaged = s.sample;
      damaged.chunkRecords[position.chunk][offset] = static_cast<uint8_t>(type);
      const std::vector<Bytes> segments = segmentsOf(fuzz::assembleRecording(damaged));
      const fuzz::PlayerRun run = play(segments);
      // The triangles of the damaged chunk may be read from other offsets:
      // they must still be runs of bytes that the chunks really hold.
      const std::string problem = fuzz::checkRun(run);
      ASSERT_EQ("", problem) << "type " << type << " in chunk " << position.chunk;
      const fuzz::TriangleSet recorded = fuzz::reachableTriangles(segments, run.width, run.height);
      ASSERT_EQ(-1, fuzz::firstUnrecorded(run, recorded)) << "type " << type;
      const size_t kept = fuzz::triangleRecords(s.sample, 0, position.chunk).size();
      ASSERT_GE(run.drawn.size(), kept) << "type " << type;
      const TriangleRenderer renderer = fuzz::offsetRenderer(run.width, run.height);
      const std::vector<const uint8_t*> before = fuzz::triangleRecords(s.sample, 0, position.chunk);
      for (size_t i = 0; i < kept; ++i)
        ASSERT_EQ(fuzz::keyOf(fuzz::expectedDrawing(before[i], renderer)), fuzz::keyOf(run.drawn[i]))
            << "type " << type << ", triangle " << i;
      // The walk picks up again with the next chunk: the last frame is drawn.
      const std::vector<const uint8_t*> lastChunk =
          fuzz::triangleRecords(s.sample, s.spans.size() - 1, s.spans.size());
      ASSERT_FALSE(run.drawn.empty());
      EXPECT_EQ(fuzz::keyOf(fuzz::expectedDrawing(lastChunk.back(), renderer)), fuzz::keyOf(run.drawn.back()))
          << "type " << type;
      if (type == 3 || type == 4) {
        EXPECT_NE(std::string::npos, run.printed.find("Points Not implemented!\n")) << "type " << type;
      } else if (type > 4 || type == 0) {
        EXPECT_NE(std::string::npos, run.printed.find("Unknown record type ")) << "type " << type;
      }
    }
  }
}

TEST(DamageSweep, LengthWords) {
  const Sweep& s = sweep();
  struct Case {
    int32_t length;
    const char* ending;  // how the output ends
    bool exact;          // nothing of the damaged chunk or after it is drawn
  };
  const Case cases[] = {
      {-1, "bad luck end of file\nDone.", true},
      {0, "", false},  // the next length word is made of the zlib header and what follows
      {32768, "", false},
      {32769, "Overflow on input buffer\n", true},
      {std::numeric_limits<int32_t>::min(), "bad luck end of file\nDone.", true},
  };
  for (size_t chunk : {size_t{0}, size_t{5}}) {
    for (const Case& row : cases) {
      Bytes damaged = s.stream;
      const uint32_t word = static_cast<uint32_t>(row.length);
      for (int i = 0; i < 4; ++i)
        damaged[s.spans[chunk].lengthWordOffset + static_cast<size_t>(i)] = static_cast<uint8_t>(word >> (8 * i));
      const fuzz::PlayerRun run = play(segmentsOf(damaged));
      const std::string ending = row.ending;
      EXPECT_TRUE(run.printed.size() >= ending.size() &&
                  run.printed.compare(run.printed.size() - ending.size(), ending.size(), ending) == 0)
          << "length " << row.length << " at chunk " << chunk << "; printed: " << run.printed;
      EXPECT_TRUE(behaved(run, chunk, row.exact)) << "length " << row.length << " at chunk " << chunk;
    }
  }
}

TEST(DamageSweep, TimeStamps) {
  const Sweep& s = sweep();
  const float infinity = std::numeric_limits<float>::infinity();
  struct Case {
    const char* name;
    float stamp;
  };
  const Case cases[] = {{"NaN", std::numeric_limits<float>::quiet_NaN()},
                        {"+infinity", infinity},
                        {"-infinity", -infinity},
                        {"huge", 3.0e38f},
                        {"huge negative", -3.0e38f},
                        {"backwards", -10.0f},
                        {"a minute ahead", 60.0f}};
  // The frame marks of chunks 3 and 4 all get the damaged stamp.
  for (const Case& row : cases) {
    fuzz::SampleRecording damaged = s.sample;
    for (size_t chunk : {size_t{3}, size_t{4}}) {
      Bytes& records = damaged.chunkRecords[chunk];
      for (size_t at = 0; at < records.size();) {
        if (records[at] == kRecordFrameMark) {
          Bytes mark;
          appendFrameMark(mark, row.stamp);
          std::copy(mark.begin(), mark.end(), records.begin() + static_cast<std::ptrdiff_t>(at));
        }
        at += records[at] == kRecordTriangle ? kTriangleSize : kFrameMarkSize;
      }
    }
    const fuzz::PlayerRun run = play(segmentsOf(fuzz::assembleRecording(damaged)));
    EXPECT_EQ("Done.", run.printed) << row.name;
    EXPECT_TRUE(behaved(run, 3, false)) << row.name;
    // Playback recovers: the last frame is drawn on time.
    const TriangleRenderer renderer = fuzz::offsetRenderer(run.width, run.height);
    const std::vector<const uint8_t*> lastChunk =
        fuzz::triangleRecords(s.sample, s.spans.size() - 1, s.spans.size());
    ASSERT_FALSE(run.drawn.empty()) << row.name;
    EXPECT_EQ(fuzz::keyOf(fuzz::expectedDrawing(lastChunk.back(), renderer)), fuzz::keyOf(run.drawn.back()))
        << row.name;
    // Frames are dropped only until playback has caught up again: at 50
    // frames a second, a quarter second late costs about 13 frames.
    EXPECT_GT(run.drawn.size(), 1200u - 20u * 8u) << row.name;
  }
}

}  // namespace
}  // namespace drec
