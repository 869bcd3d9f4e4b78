// Damaged recordings and textures through the real drec-player, end to end:
// copied into a temporary folder, run without a display and with standard
// input not a terminal (so the final wait ends at once). Each case must end
// in time, print what the same files print through the in-process player
// (fuzz/harness.hpp, the entry point the sweeps use), byte for byte, name
// the damage it met, and exit with the status the in-process run returns.
// Under the sanitizer build these runs are the sanitized player's.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "fuzz/harness.hpp"
#include "recording/format.hpp"
#include "tests/support/player_folder.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/test_paths.hpp"
#include "tools/writer/bmp_writer.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

using fuzz::Bytes;

using test::defaultSegment;
using test::kDefaultTemplate;

struct Case {
  std::string name;
  std::map<std::string, Bytes> files;
  std::string mustContain;  // the damage named in the output
};

struct Sample {
  fuzz::SampleRecording sample = fuzz::sampleRecording(30, 6, 200, 0.01);
  Bytes stream = fuzz::assembleRecording(sample);
  std::vector<ChunkSpan> spans = chunkSpans(stream);
  std::vector<size_t> cuts = planSegmentCuts(stream, 3);
};

std::map<std::string, Bytes> segmentFiles(const Bytes& stream, const std::vector<size_t>& cuts,
                                          int removed = -1) {
  std::map<std::string, Bytes> files;
  std::vector<Bytes> segments = splitAt(stream, cuts);
  for (size_t i = 0; i < segments.size(); ++i) {
    if (static_cast<int>(i) != removed && !segments[i].empty()) files[defaultSegment(i)] = segments[i];
  }
  return files;
}

Bytes withStamps(const fuzz::SampleRecording& sample, float stamp) {
  fuzz::SampleRecording damaged = sample;
  for (size_t chunk : {size_t{2}, size_t{3}}) {
    Bytes& records = damaged.chunkRecords[chunk];
    for (size_t at = 0; at < records.size();) {
      if (records[at] == kRecordFrameMark) {
        Bytes mark;
        appendFrameMark(mark, stamp);
        std::copy(mark.begin(), mark.end(), records.begin() + static_cast<std::ptrdiff_t>(at));
      }
      at += records[at] == kRecordTriangle ? kTriangleSize : kFrameMarkSize;
    }
  }
  return fuzz::assembleRecording(damaged);
}

Bytes withType(const fuzz::SampleRecording& sample, uint8_t type) {
  fuzz::SampleRecording damaged = sample;
  damaged.chunkRecords[2][0] = type;
  return fuzz::assembleRecording(damaged);
}

Bytes withLength(const Sample& s, size_t chunk, int32_t length) {
  Bytes damaged = s.stream;
  const uint32_t word = static_cast<uint32_t>(length);
  for (size_t i = 0; i < 4; ++i)
    damaged[s.spans[chunk].lengthWordOffset + i] = static_cast<uint8_t>(word >> (8 * i));
  return damaged;
}

Bytes cutAt(const Bytes& stream, size_t end) {
  return Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(end));
}

std::vector<Case> cases() {
  const Sample s;
  const float infinity = std::numeric_limits<float>::infinity();
  std::vector<Case> rows;
  rows.push_back({"cut inside the magic", segmentFiles(cutAt(s.stream, 3), {}), "File not a Dirtwake recording.\r\n"});
  rows.push_back({"cut inside the header", segmentFiles(cutAt(s.stream, 100), {}), "Done."});
  rows.push_back({"cut inside a length word",
                  segmentFiles(cutAt(s.stream, s.spans[3].lengthWordOffset + 2), {}), "Broken Stream\n"});
  rows.push_back({"cut inside the last segment's chunk",
                  segmentFiles(cutAt(s.stream, s.stream.size() - 30), s.cuts), "Done."});
  rows.push_back({"segment 0 missing", segmentFiles(s.stream, s.cuts, 0), "Failed to open video file\r\n"});
  rows.push_back({"segment 1 missing", segmentFiles(s.stream, s.cuts, 1), defaultSegment(1) + "\nBroken Stream\n"});
  rows.push_back({"last segment missing", segmentFiles(s.stream, s.cuts, 2), defaultSegment(2) + "\nBroken Stream\n"});
  {
    Bytes flipped = s.stream;
    flipped[s.spans[1].dataOffset + 9] ^= 0x10;
    rows.push_back({"bit flip in compressed data", segmentFiles(flipped, s.cuts), "Damaged chunk at byte "});
    flipped = s.stream;
    flipped[7] ^= 0x80;
    rows.push_back({"height's sign bit flipped", segmentFiles(flipped, s.cuts), "Unusable screen size 320 x "});
  }
  rows.push_back({"type byte 0", segmentFiles(withType(s.sample, 0), s.cuts), "Unknown record type "});
  rows.push_back({"type byte 3", segmentFiles(withType(s.sample, 3), s.cuts), "Points Not implemented!\n"});
  rows.push_back({"type byte 255", segmentFiles(withType(s.sample, 255), s.cuts), "Unknown record type "});
  rows.push_back({"type byte 1", segmentFiles(withType(s.sample, 1), s.cuts), "Done."});
  rows.push_back({"length word -1", segmentFiles(withLength(s, 2, -1), s.cuts), "bad luck end of file\nDone."});
  rows.push_back({"length word INT32_MIN",
                  segmentFiles(withLength(s, 2, std::numeric_limits<int32_t>::min()), s.cuts),
                  "bad luck end of file\nDone."});
  rows.push_back({"length word 0", segmentFiles(withLength(s, 2, 0), s.cuts), "Overflow on input buffer\n"});
  rows.push_back({"length word 32768", segmentFiles(withLength(s, 2, 32768), s.cuts), "Done."});
  rows.push_back({"time stamps NaN", segmentFiles(withStamps(s.sample, std::nanf("")), s.cuts), "Done."});
  rows.push_back({"time stamps +infinity", segmentFiles(withStamps(s.sample, infinity), s.cuts), "Done."});
  rows.push_back({"time stamps -infinity", segmentFiles(withStamps(s.sample, -infinity), s.cuts), "Done."});
  rows.push_back({"time stamps huge", segmentFiles(withStamps(s.sample, 3.0e38f), s.cuts), "Done."});
  rows.push_back({"time stamps backwards", segmentFiles(withStamps(s.sample, -30.0f), s.cuts), "Done."});
  {
    // Records that need more than the 262,144-byte record buffer.
    Bytes records(kMaxRecordLength + 8, 0);
    for (size_t i = 0; i + kFrameMarkSize <= records.size(); i += kFrameMarkSize) records[i] = kRecordFrameMark;
    Bytes stream = headerBytes(64, 48, TextureTable{});
    appendChunk(stream, records, 9);
    appendChunk(stream, s.sample.chunkRecords[0]);
    rows.push_back({"records overflow the record buffer", segmentFiles(stream, {}), "Damaged chunk at byte 264 of "});
  }
  {
    // Texture files of every damaged kind, and one missing.
    TextureTable keys{};
    std::map<std::string, Bytes> files;
    BmpWriteSpec huge;
    huge.width = 16384;
    huge.height = 16384;
    huge.omitPixels = true;
    BmpWriteSpec minimum = huge;
    minimum.overrideHeight = true;
    minimum.heightField = std::numeric_limits<int32_t>::min();
    BmpWriteSpec palette;
    palette.width = 8;
    palette.height = 8;
    palette.depth = 8;
    palette.palette = std::vector<BmpColor>(256, BmpColor{9, 9, 9});
    palette.keepBytes = 54 + 100;
    BmpWriteSpec masks;
    masks.width = 4;
    masks.height = 4;
    masks.depth = 32;
    masks.compression = 3;
    masks.masks[0] = 0xFFFFFFFF;  // wider than 8 bits, and overlapping the others
    masks.masks[1] = 0;
    masks.masks[2] = 0x00FFFF00;
    const BmpWriteSpec* specs[] = {&huge, &minimum, &palette, &masks};
    for (int slot = 1; slot <= 4; ++slot) {
      keys[static_cast<size_t>(slot)] = 0x1000u + static_cast<TextureKey>(slot);
      char hex[17];
      textureKeyHex(keys[static_cast<size_t>(slot)], hex);
      files[std::string("Video/TexDump/") + hex + ".bmp"] =
          writeBmp(*specs[slot - 1], std::vector<uint32_t>(16, 0x12345678u));
    }
    keys[5] = 0x2000;  // no file
    Bytes stream = headerBytes(320, 200, keys);
    for (size_t chunk = 1; chunk < s.spans.size(); ++chunk) appendChunk(stream, s.sample.chunkRecords[chunk]);
    files[defaultSegment(0)] = stream;
    rows.push_back({"damaged and missing textures", files,
                    "Texture #5 (0000000000002000.bmp)\nFailed to open 'Video/TexDump/0000000000002000.bmp'\n"});
  }
  return rows;
}

TEST(PlayerDamage, EndsAndPrintsWhatTheInProcessPlayerPrints) {
  const std::vector<Case> rows = cases();
  ASSERT_GE(rows.size(), 20u);
  for (const Case& row : rows) {
    MemoryFiles memory{};
    for (const auto& [name, bytes] : row.files) addMemoryFile(memory, name, bytes);
    const fuzz::PlayerRun expected = fuzz::playInMemory(memory, kDefaultTemplate, 5'000'000);
    ASSERT_EQ("", fuzz::checkRun(expected)) << row.name;
    EXPECT_NE(std::string::npos, expected.printed.find(row.mustContain))
        << row.name << ": " << expected.printed;

    test::PlayerFolder player;
    ASSERT_FALSE(player.player.empty());
    for (const auto& [name, bytes] : row.files) ASSERT_TRUE(player.write(name, bytes));
    const test::ProgramResult result = player.play({}, "", 30);
    EXPECT_FALSE(result.timedOut) << row.name;
    EXPECT_EQ(0, result.signal) << row.name;
    EXPECT_EQ(expected.printed, result.output) << row.name;
    EXPECT_EQ(expected.status, result.exitStatus) << row.name;
  }
}

}  // namespace
}  // namespace drec
