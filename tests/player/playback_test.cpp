// The whole main flow in process: in-memory files, the fake clock and keys,
// and a GL table that records calls instead of drawing.
#include "player/playback.hpp"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/captured_console.hpp"
#include "tests/support/fake_services.hpp"
#include "tests/support/gl_recorder.hpp"
#include "tools/writer/memory_files.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

struct InProcessPlayer {
  MemoryFiles memory{};
  test::CapturedConsole printed;
  test::FakeServices fake;
  test::GlRecorder recorder;

  int play(const char* name) {
    return runPlayer(name, memoryFileAccess(memory), test::capturingConsole(printed),
                     test::recordingGlApi(), test::fakePlaybackServices(fake));
  }
};

const TriangleVertex kVertices[3] = {{0, 0, 10, 10, 30000, 0xF0F0},
                                     {255, 0, 200, 10, 30000, 0xF0F0},
                                     {0, 255, 10, 200, 30000, 0xF0F0}};

// `frames` frames of `triangles` triangles, one chunk per frame, at `fps`.
Bytes steadyRecording(int frames, int triangles, double fps, double gapAfterFrame = -1,
                      double gapSeconds = 0) {
  Bytes stream = headerBytes(64, 48, TextureTable{});
  double time = 0;
  for (int frame = 0; frame < frames; ++frame) {
    Bytes records;
    for (int i = 0; i < triangles; ++i) appendTriangle(records, triangleState(0, 1), kVertices);
    appendFrameMark(records, static_cast<float>(time));
    appendChunk(stream, records);
    time += 1.0 / fps;
    if (frame == gapAfterFrame) time += gapSeconds;
  }
  return stream;
}

TEST(Playback, DrawsEveryTriangleOnTimeAndWaitsForAKey) {
  InProcessPlayer player;
  addMemoryFile(player.memory, "r.rec", steadyRecording(30, 3, 60));
  test::queueKeyAtPresent(player.fake, 60, characterKey(' '));
  EXPECT_EQ(kExitPlayed, player.play("r.rec"));
  EXPECT_EQ("Done.", player.printed.text);
  EXPECT_EQ(1, player.fake.displaysOpened);
  EXPECT_EQ(90, player.recorder.count(test::GlFunction::Begin));
  // One present at start, one per frame, then the final wait presents until the key.
  ASSERT_GE(player.fake.presentTimes.size(), 31u);
  EXPECT_EQ(60u, player.fake.presentTimes.size());
  // A frame is presented at its mark, and the wait then runs to that mark's
  // due time: frame n shows at the due time of frame n-1, 1/60 s apart.
  EXPECT_NEAR(0.0, player.fake.presentTimes[2] - player.fake.presentTimes[1], 1e-9);
  EXPECT_NEAR(28.0 / 60.0, player.fake.presentTimes[30] - player.fake.presentTimes[2], 0.002);
  EXPECT_EQ(0, test::keysWaiting(player.fake));
}

TEST(Playback, AThreeSecondGapPlaysInAQuarterSecond) {
  InProcessPlayer player;
  player.fake.keyCanArrive = false;
  addMemoryFile(player.memory, "gap.rec", steadyRecording(20, 1, 60, 9, 3.0));
  EXPECT_EQ(kExitPlayed, player.play("gap.rec"));
  const std::vector<double>& presents = player.fake.presentTimes;
  ASSERT_GE(presents.size(), 21u);
  // Presents 1..20 are the frames (plus one extra present in the pause branch).
  double total = presents.back() - presents[1];
  EXPECT_LT(total, 19.0 / 60.0 + 0.6);
  EXPECT_GT(total, 19.0 / 60.0 + 0.2);
  for (int64_t sleep : player.fake.sleeps) EXPECT_LE(sleep, 250);
}

TEST(Playback, EscapeHeldEndsPlaybackWithDone) {
  InProcessPlayer player;
  addMemoryFile(player.memory, "r.rec", steadyRecording(600, 1, 60));
  test::setKeyHeldAtPresent(player.fake, 10, kScanCodeEscape, true);
  test::queueKeyAtPresent(player.fake, 12, characterKey('x'));
  EXPECT_EQ(kExitPlayed, player.play("r.rec"));
  EXPECT_EQ("Done.", player.printed.text);
  EXPECT_LT(player.recorder.count(test::GlFunction::Begin), 12);
}

TEST(Playback, CloseRequestEndsPlaybackAndTheWaitNeedsAnotherKey) {
  InProcessPlayer player;
  addMemoryFile(player.memory, "r.rec", steadyRecording(600, 1, 60));
  test::queueKeyAtPresent(player.fake, 5, closeRequestKey());
  test::queueKeyAtPresent(player.fake, 40, closeRequestKey());  // ends the final wait
  EXPECT_EQ(kExitPlayed, player.play("r.rec"));
  EXPECT_EQ("Done.", player.printed.text);
  EXPECT_EQ(40u, player.fake.presentTimes.size());
  for (int64_t sleep : player.fake.sleeps) EXPECT_LE(sleep, 250);
}

TEST(Playback, StartUpFailuresWaitOnTheConsoleAndOpenNoWindow) {
  InProcessPlayer player;
  Bytes notRecording = headerBytes(64, 48, TextureTable{}, 0x12345678);
  addMemoryFile(player.memory, "bad.rec", notRecording);
  EXPECT_EQ(kExitFailed, player.play("bad.rec"));
  EXPECT_EQ("File not a Dirtwake recording.\r\n", player.printed.text);
  EXPECT_EQ(1, player.fake.consoleWaits);
  EXPECT_EQ(0, player.fake.displaysOpened);
  EXPECT_EQ(0, player.memory.openCount);
  EXPECT_EQ(0u, player.fake.presentTimes.size());
}

TEST(Playback, NoKeyCanArriveSoTheFinalWaitEndsAtOnce) {
  InProcessPlayer player;
  player.fake.keyCanArrive = false;
  addMemoryFile(player.memory, "r.rec", steadyRecording(3, 1, 60));
  EXPECT_EQ(kExitPlayed, player.play("r.rec"));
  EXPECT_EQ(4u, player.fake.presentTimes.size());
  EXPECT_EQ(0, player.memory.openCount);  // every file closed at the end
}

TEST(Playback, OverflowSleepsOneSecondAndSkipsTheEndSequence) {
  InProcessPlayer player;
  Bytes stream = steadyRecording(2, 1, 60);
  appendRawChunk(stream, 40000, Bytes(8, 0));
  addMemoryFile(player.memory, "o.rec", stream);
  EXPECT_EQ(kExitFailed, player.play("o.rec"));
  EXPECT_EQ("Overflow on input buffer\n", player.printed.text);
  ASSERT_FALSE(player.fake.sleeps.empty());
  EXPECT_EQ(1000, player.fake.sleeps.back());
}

}  // namespace
}  // namespace drec
