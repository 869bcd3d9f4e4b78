// The real drec-player in a window on the test's X server, playing
// recordings the tests write: Escape held and the window's close request end
// playback at once, the window then stays open until a key, and a long pause
// in a recording plays as about a quarter of a second.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/monotonic_clock.hpp"
#include "tests/support/player_folder.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/window_support.hpp"
#include "tests/support/x11_tools.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

using test::nowSeconds;

constexpr int16_t kWidth = 320;
constexpr int16_t kHeight = 240;
constexpr double kFramesPerSecond = 60.0;
constexpr unsigned kRed = 0xFF0000;
// Start-up on a loaded machine may be slow; the assertions on playback are not.
constexpr double kStartUpSeconds = 30.0;
constexpr double kQuitWithinSeconds = 1.0;
constexpr double kEscapeHoldSeconds = 0.3;  // longer than one present

// One frame: an opaque red quad over the whole recorded screen and a white
// triangle that moves, so that every frame is a few triangles of real work.
void writeFrame(RecordingWriter& writer, int index, double timeStamp) {
  const PackedColor16 red = packColor(1, 15, 0, 0);
  const PackedColor16 white = packColor(1, 0, 0, 0);
  const uint16_t depth = 16384;  // w = 4: inside the clip volume
  const TriangleVertex upper[3] = {
      {0, 0, 0, 0, depth, red}, {255, 0, 255, 0, depth, red}, {0, 255, 0, 255, depth, red}};
  const TriangleVertex lower[3] = {
      {255, 0, 255, 0, depth, red}, {255, 255, 255, 255, depth, red}, {0, 255, 0, 255, depth, red}};
  const uint8_t x = static_cast<uint8_t>(10 + index % 200);
  const TriangleVertex moving[3] = {{0, 0, x, 10, depth, white},
                                    {0, 0, static_cast<uint8_t>(x + 20), 10, depth, white},
                                    {0, 0, x, 40, depth, white}};
  writeTriangle(writer, triangleState(0, 0), upper);
  writeTriangle(writer, triangleState(0, 0), lower);
  writeTriangle(writer, triangleState(0, 0), moving);
  writeFrameMark(writer, static_cast<float>(timeStamp));
}

// Frames at 60 per second from `from` (exclusive) for `count` frames.
void writeFrames(RecordingWriter& writer, double from, int count) {
  for (int i = 1; i <= count; ++i) writeFrame(writer, i, from + i / kFramesPerSecond);
}

// The player started in a window with a recording, and that window.
struct WindowedPlayer : test::PlayerFolder {
  test::XWindowId window = 0;

  // Starts the player on `recording`, gives its window the focus and waits
  // until the window shows the red of the first frame.
  ::testing::AssertionResult startUntilFirstFrame(const Bytes& recording) {
    if (!start(recording, test::Keyboard::Window)) return ::testing::AssertionFailure() << "no player";
    window = test::waitForWindowByPid(program.pid, kStartUpSeconds);
    if (window == 0) return ::testing::AssertionFailure() << "no player window";
    test::focusWindow(window);
    const double deadline = nowSeconds() + kStartUpSeconds;
    while (nowSeconds() < deadline) {
      unsigned rgb = 0;
      if (test::windowPixel(window, kWidth / 2, kHeight / 2, rgb) && rgb == kRed)
        return ::testing::AssertionSuccess();
      usleep(2000);
    }
    return ::testing::AssertionFailure() << "the first frame never showed";
  }

  // Collects output until "Done." or `deadline`: the time it was seen, or a
  // negative value.
  double waitForDone(double deadline) {
    const double left = deadline - nowSeconds();
    if (!test::waitForOutput(program, "Done.", left > 0 ? left : 0)) return -1;
    return nowSeconds();
  }
};

// After "Done." the window stays open and the program waits; a key ends it
// with exit status 0 and nothing more printed.
void expectWaitsForKeyThenEnds(WindowedPlayer& player) {
  usleep(300000);
  test::ClientArea area{};
  EXPECT_TRUE(test::clientArea(player.window, area)) << "the window closed before a key";
  EXPECT_EQ(test::windowTitle(player.window), "drec-player");
  test::focusWindow(player.window);
  usleep(50000);
  EXPECT_TRUE(test::xdotool({"key", "space"}));
  test::ProgramResult result = test::finishProgram(player.program, 10.0);
  EXPECT_FALSE(result.timedOut) << "a key did not end the final wait";
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output, "Done.");
}

// Ten seconds of frames: long enough that playback is still running when
// the test asks it to stop, however slow the start-up was.
Bytes tenSeconds() {
  RecordingWriter writer;
  beginRecording(writer, kWidth, kHeight, TextureTable{});
  writeFrames(writer, 0.0, 600);
  return finishRecording(writer);
}

TEST(PlayerPacingWindow, EscapeHeldEndsPlaybackWithinOneSecond) {
  DREC_REQUIRE_DISPLAY();
  WindowedPlayer player;
  ASSERT_TRUE(player.startUntilFirstFrame(tenSeconds()));
  // Still playing half a second in.
  ASSERT_FALSE(test::waitForOutput(player.program, "Done.", 0.5)) << "ended before Escape";

  const double pressed = nowSeconds();
  ASSERT_TRUE(test::xdotool({"keydown", "Escape"}));
  double done = player.waitForDone(pressed + kEscapeHoldSeconds);
  while (nowSeconds() < pressed + kEscapeHoldSeconds) usleep(10000);
  ASSERT_TRUE(test::xdotool({"keyup", "Escape"}));
  if (done < 0) done = player.waitForDone(pressed + 10.0);
  ASSERT_GE(done, 0) << "no \"Done.\" after Escape; output: " << player.program.output;
  EXPECT_LT(done - pressed, kQuitWithinSeconds);
  expectWaitsForKeyThenEnds(player);
}

TEST(PlayerPacingWindow, CloseRequestEndsPlaybackWithinOneSecond) {
  DREC_REQUIRE_DISPLAY();
  WindowedPlayer player;
  ASSERT_TRUE(player.startUntilFirstFrame(tenSeconds()));
  ASSERT_FALSE(test::waitForOutput(player.program, "Done.", 0.5)) << "ended before the request";

  const double requested = nowSeconds();
  ASSERT_TRUE(test::sendCloseRequest(player.window));
  const double done = player.waitForDone(requested + 10.0);
  ASSERT_GE(done, 0) << "no \"Done.\" after the close request; output: " << player.program.output;
  EXPECT_LT(done - requested, kQuitWithinSeconds);
  expectWaitsForKeyThenEnds(player);
}

TEST(PlayerPacingWindow, ThreeSecondGapPlaysInUnderSixTenthsOfASecond) {
  DREC_REQUIRE_DISPLAY();
  // One second of frames, nothing for three seconds, one more second.
  constexpr double kGapSeconds = 3.0;
  RecordingWriter writer;
  beginRecording(writer, kWidth, kHeight, TextureTable{});
  writeFrames(writer, 0.0, 60);
  writeFrames(writer, 1.0 + kGapSeconds, 60);
  const Bytes recording = finishRecording(writer);
  const double firstStamp = 1.0 / kFramesPerSecond;
  const double lastStamp = 2.0 + kGapSeconds;
  const double pacedSeconds = lastStamp - firstStamp - kGapSeconds;

  WindowedPlayer player;
  ASSERT_TRUE(player.startUntilFirstFrame(recording));
  const double firstShown = nowSeconds();
  const double done = player.waitForDone(firstShown + 20.0);
  ASSERT_GE(done, 0) << "no \"Done.\"; output: " << player.program.output;
  const double played = done - firstShown;
  // The frames around the gap keep their pace; the gap itself is cut short.
  EXPECT_GT(played, pacedSeconds - 0.05) << "played faster than recorded";
  EXPECT_LT(played - pacedSeconds, 0.6) << "the gap took " << played - pacedSeconds << " s";
  expectWaitsForKeyThenEnds(player);
}

}  // namespace
}  // namespace drec
