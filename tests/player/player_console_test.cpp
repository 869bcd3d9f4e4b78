// The real drec-player, copied into a temporary folder (it makes its own
// folder current), run without a window and with standard input not a
// terminal, on recordings written by the tests: its standard output byte for
// byte and its exit status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/player_folder.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/test_paths.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

using test::kDefaultSegment0;
using test::PlayerFolder;

const TriangleVertex kVertices[3] = {{0, 0, 10, 10, 30000, 0xF0F0},
                                     {255, 0, 200, 10, 30000, 0xF0F0},
                                     {0, 255, 10, 200, 30000, 0xF0F0}};

Bytes frame(float time, int triangles = 2) {
  Bytes records;
  for (int i = 0; i < triangles; ++i) appendTriangle(records, triangleState(0, 1), kVertices);
  appendFrameMark(records, time);
  return records;
}

Bytes header(int16_t width = 64, int16_t height = 48) { return headerBytes(width, height, TextureTable{}); }

struct FailureCase {
  const char* name;
  Bytes file;
  const char* expected;
};

TEST(PlayerConsole, StartUpFailures) {
  Bytes wrongMagic = header();
  wrongMagic[0] = 'X';
  Bytes lowerMagic = header();
  lowerMagic[1] = 'r';
  const FailureCase cases[] = {
      {"not a recording", wrongMagic, "File not a Dirtwake recording.\r\n"},
      {"magic case-sensitive", lowerMagic, "File not a Dirtwake recording.\r\n"},
      {"empty file", Bytes{}, "File not a Dirtwake recording.\r\n"},
      {"width 0", header(0, 48), "Unusable screen size 0 x 48\r\n"},
      {"negative height", header(64, -5), "Unusable screen size 64 x -5\r\n"},
  };
  for (const FailureCase& row : cases) {
    PlayerFolder player;
    ASSERT_TRUE(player.write(kDefaultSegment0, row.file));
    test::ProgramResult result = player.play();
    EXPECT_EQ(row.expected, result.output) << row.name;
    EXPECT_EQ(1, result.exitStatus) << row.name;
  }
}

TEST(PlayerConsole, MissingRecording) {
  PlayerFolder player;
  test::ProgramResult result = player.play();
  EXPECT_EQ("Failed to open video file\r\n", result.output);
  EXPECT_EQ(1, result.exitStatus);
  result = player.play({"no-such.rec"});
  EXPECT_EQ("Failed to open video file\r\n", result.output);
}

TEST(PlayerConsole, HeaderOnlyAndShortHeaderPlayToDone) {
  for (size_t size : {size_t{264}, size_t{8}}) {
    PlayerFolder player;
    Bytes file = header();
    file.resize(size);
    ASSERT_TRUE(player.write(kDefaultSegment0, file));
    test::ProgramResult result = player.play();
    EXPECT_EQ("Done.", result.output) << size;
    EXPECT_EQ(0, result.exitStatus) << size;
  }
  // The magic alone: the missing size reads as 0 x 0, which no window can have.
  PlayerFolder player;
  Bytes file = header();
  file.resize(4);
  ASSERT_TRUE(player.write(kDefaultSegment0, file));
  test::ProgramResult result = player.play();
  EXPECT_EQ("Unusable screen size 0 x 0\r\n", result.output);
  EXPECT_EQ(1, result.exitStatus);
}

struct PlayCase {
  const char* name;
  Bytes stream;
  const char* expected;
  int status;
  const char* fileName = nullptr;  // played by this name instead of the default
};

std::vector<PlayCase> playCases() {
  std::vector<PlayCase> cases;
  {
    Bytes s = header();
    appendChunk(s, frame(0));
    appendChunk(s, frame(0));
    cases.push_back({"clean", s, "Done.", 0});
  }
  {
    Bytes s = header();
    Bytes records = frame(0);
    records.push_back(kRecordPointA);
    records.insert(records.end(), 40, 0x55);
    appendChunk(s, records);
    Bytes points = frame(0);
    points.push_back(kRecordPointB);
    appendChunk(s, points);
    appendChunk(s, frame(0));
    cases.push_back({"points mid-chunk", s, "Points Not implemented!\nPoints Not implemented!\nDone.", 0});
  }
  {
    Bytes s = header();
    Bytes records = frame(0);
    records.push_back(0x05);
    records.push_back(0x0A);
    appendChunk(s, records);
    Bytes lone = frame(0);
    lone.push_back(0x00);  // the last byte: its 16-bit value has no second byte
    appendChunk(s, lone);
    appendChunk(s, frame(0));
    cases.push_back({"invalid types", s, "Unknown record type 2565\nUnknown record type 0\nDone.", 1});
  }
  {
    Bytes s = header();
    Bytes records = frame(0);
    appendTriangle(records, 0, kVertices);
    records.resize(records.size() - 3);  // the last triangle runs past the chunk
    appendChunk(s, records);
    appendChunk(s, frame(0));
    cases.push_back({"record past the end", s, "Record runs past the end of its chunk\nDone.", 1});
  }
  {
    Bytes s = header();
    appendChunk(s, frame(0));
    appendRawChunk(s, -7, Bytes(8, 1));
    cases.push_back({"negative length", s, "bad luck end of file\nDone.", 1});
  }
  {
    Bytes s = header();
    appendChunk(s, frame(0));
    Bytes bad = compressRecords(frame(0, 20));
    bad[6] ^= 0xFF;
    bad[7] ^= 0xFF;
    appendRawChunk(s, static_cast<int32_t>(bad.size()), bad);
    appendChunk(s, frame(0));
    std::string line = "Damaged chunk at byte " + std::to_string(264 + 4 + compressRecords(frame(0)).size()) +
                       " of Video/Stream/Recording_12_01_2013_13_41_13.0.rec, skipped\nDone.";
    static std::string kept;
    kept = line;
    cases.push_back({"damaged chunk", s, kept.c_str(), 1});
  }
  {
    Bytes s = header();
    appendChunk(s, frame(0));
    appendChunk(s, frame(0, 30));
    s.resize(s.size() - 5);
    // A recorder that stopped mid-chunk: a single file, so nothing continues it.
    cases.push_back({"last chunk cut short", s, "Done.", 0, "single.rec"});
    cases.push_back({"cut short under a template", s,
                     "Video/Stream/Recording_12_01_2013_13_41_13.1.rec\nBroken Stream\nDone.", 1});
  }
  return cases;
}

TEST(PlayerConsole, PlaysAndReportsDamage) {
  for (const PlayCase& row : playCases()) {
    PlayerFolder player;
    ASSERT_TRUE(player.write(row.fileName ? row.fileName : kDefaultSegment0, row.stream));
    test::ProgramResult result =
        row.fileName ? player.play({row.fileName}) : player.play();
    EXPECT_EQ(row.expected, result.output) << row.name;
    EXPECT_EQ(row.status, result.exitStatus) << row.name;
    EXPECT_FALSE(result.timedOut) << row.name;
  }
}

TEST(PlayerConsole, OverflowEndsTheProgramAfterOneSecond) {
  PlayerFolder player;
  Bytes s = header();
  appendChunk(s, frame(0));
  appendRawChunk(s, 32769, Bytes(16, 0));
  ASSERT_TRUE(player.write(kDefaultSegment0, s));
  test::ProgramResult result = player.play();
  EXPECT_EQ("Overflow on input buffer\n", result.output);
  EXPECT_EQ(1, result.exitStatus);
  EXPECT_GE(result.seconds, 0.95);
}

TEST(PlayerConsole, MultiSegmentRecordingAndBrokenStream) {
  Bytes s = header();
  for (int i = 0; i < 12; ++i) appendChunk(s, frame(0, 40 + i));
  std::vector<size_t> cuts = planSegmentCuts(s, 3);
  ASSERT_EQ(2u, cuts.size());
  std::vector<Bytes> segments = splitAt(s, cuts);
  {
    PlayerFolder player;
    for (size_t i = 0; i < segments.size(); ++i)
      ASSERT_TRUE(player.write(test::defaultSegment(i), segments[i]));
    test::ProgramResult result = player.play();
    EXPECT_EQ("Done.", result.output);
    EXPECT_EQ(0, result.exitStatus);
  }
  {
    PlayerFolder player;
    ASSERT_TRUE(player.write(kDefaultSegment0, segments[0]));
    ASSERT_TRUE(player.write(test::defaultSegment(2), segments[2]));
    test::ProgramResult result = player.play();
    EXPECT_EQ("Video/Stream/Recording_12_01_2013_13_41_13.1.rec\nBroken Stream\nDone.", result.output);
    EXPECT_EQ(1, result.exitStatus);
  }
}

TEST(PlayerConsole, ArgumentsJoinedAndResolvedInTheProgramFolder) {
  PlayerFolder player;
  Bytes s = header();
  appendChunk(s, frame(0));
  ASSERT_TRUE(player.write("my recording.rec", s));
  test::TempDirectory elsewhere;
  // Started from another folder: the name is looked up beside the program.
  test::ProgramResult result = player.play({"my", "recording.rec"}, elsewhere.path);
  EXPECT_EQ("Done.", result.output);
  EXPECT_EQ(0, result.exitStatus);
  // Three arguments join with single spaces: "my  recording.rec" does not exist.
  result = player.play({"my", "", "recording.rec"}, elsewhere.path);
  EXPECT_EQ("Failed to open video file\r\n", result.output);
}

TEST(PlayerConsole, TextureLinesInSlotOrder) {
  PlayerFolder player;
  TextureTable keys{};
  keys[1] = 1;
  keys[3] = 0xABCDEF0123456789ull;
  keys[32] = 0xFFFFFFFFFFFFFFFFull;
  Bytes s = headerBytes(64, 48, keys);
  appendChunk(s, frame(0));
  ASSERT_TRUE(player.write(kDefaultSegment0, s));
  test::ProgramResult result = player.play();
  EXPECT_EQ(
      "Texture #1 (0000000000000001.bmp)\n"
      "Failed to open 'Video/TexDump/0000000000000001.bmp'\n"
      "Texture #3 (ABCDEF0123456789.bmp)\n"
      "Failed to open 'Video/TexDump/ABCDEF0123456789.bmp'\n"
      "Texture #32 (FFFFFFFFFFFFFFFF.bmp)\n"
      "Failed to open 'Video/TexDump/FFFFFFFFFFFFFFFF.bmp'\n"
      "Done.",
      result.output);
  EXPECT_EQ(0, result.exitStatus);
}

}  // namespace
}  // namespace drec
