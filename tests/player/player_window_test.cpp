// The real drec-player with a window: a header-only recording opens a window
// of the recorded size showing black, prints "Done." and ends on a key sent
// to the window or on its close request. Keys are pressed and released in
// separate xdotool calls, so that none stays held if the player ends between
// them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>

#include <fstream>

#include <string>
#include <vector>

#include "tests/support/run_program.hpp"
#include "tests/support/test_paths.hpp"
#include "tests/support/window_support.hpp"
#include "tests/support/x11_tools.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

constexpr const char kDefaultSegment0[] = "Video/Stream/Recording_12_01_2013_13_41_13.0.rec";

// The player copied into a fresh folder (it makes its own folder current),
// with a header-only recording of the given size under the default name.
struct WindowedPlayer {
  test::TempDirectory folder;
  std::string player;
  test::RunningProgram program;

  WindowedPlayer(int width, int height, const std::string& name = "drec-player")
      : WindowedPlayer(headerBytes(static_cast<int16_t>(width), static_cast<int16_t>(height),
                                   TextureTable{}),
                       name) {}
  WindowedPlayer(const Bytes& recording, const std::string& name) {
    player = test::copyPlayer(folder.path, name);
    EXPECT_FALSE(player.empty());
    EXPECT_TRUE(writeBytesToFile(folder.path + "/" + kDefaultSegment0, recording));
  }
  ~WindowedPlayer() {
    if (program.pid > 0) test::finishProgram(program, 0.0);  // kills a player left running
  }
  bool start() {
    test::ProgramRun run;
    run.arguments = {player};
    run.keepDisplay = true;
    return test::startProgram(run, program);
  }
};


bool pressAndRelease(const std::string& key) {
  return test::runTool({"xdotool", "keydown", key}) && test::runTool({"xdotool", "keyup", key});
}

TEST(PlayerWindow, HeaderOnlyRecordingShowsBlackAndEndsOnAKey) {
  DREC_REQUIRE_DISPLAY();
  const int sizes[][2] = {{320, 200}, {640, 480}};
  for (const auto& size : sizes) {
    const int width = size[0];
    const int height = size[1];
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    WindowedPlayer player(width, height);
    ASSERT_TRUE(player.start());
    ASSERT_TRUE(test::waitForOutput(player.program, "Done.", 20.0)) << player.program.output;
    test::XWindowId window = test::waitForWindowByPid(player.program.pid, 10.0);
    ASSERT_NE(window, 0u) << "no window of the player's";
    EXPECT_EQ(test::windowTitle(window), "drec-player");
    test::ClientArea area{};
    ASSERT_TRUE(test::clientArea(window, area));
    EXPECT_EQ(area.width, width);
    EXPECT_EQ(area.height, height);
    const int points[][2] = {{0, 0}, {width - 1, height - 1}, {width / 2, height / 2}};
    for (const auto& point : points) {
      unsigned rgb = 0x123456;
      ASSERT_TRUE(test::windowPixel(window, point[0], point[1], rgb));
      EXPECT_EQ(rgb, 0u) << "pixel " << point[0] << ", " << point[1];
    }
    usleep(300000);
    EXPECT_TRUE(test::stillRunning(player.program.pid)) << "ended without a key";
    ASSERT_TRUE(test::focusWindow(window));
    ASSERT_TRUE(pressAndRelease("space"));
    test::ProgramResult result = test::finishProgram(player.program, 10.0);
    EXPECT_FALSE(result.timedOut) << "the key did not end the final wait";
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "Done.");
    EXPECT_FALSE(test::windowWithTitleExists("drec-player"));
  }
}

TEST(PlayerWindow, CloseRequestDuringTheFinalWaitEndsIt) {
  DREC_REQUIRE_DISPLAY();
  WindowedPlayer player(400, 300);
  ASSERT_TRUE(player.start());
  ASSERT_TRUE(test::waitForOutput(player.program, "Done.", 20.0)) << player.program.output;
  test::XWindowId window = test::waitForWindowByPid(player.program.pid, 10.0);
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(test::sendCloseRequest(window));
  test::ProgramResult result = test::finishProgram(player.program, 10.0);
  EXPECT_FALSE(result.timedOut) << "the close request did not end the final wait";
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.signal, 0) << "ended by a signal, not by the program";
  EXPECT_EQ(result.output, "Done.");
}

TEST(PlayerWindow, TitleIsTheFileNameUpToItsLastDot) {
  DREC_REQUIRE_DISPLAY();
  WindowedPlayer player(200, 150, "drec.player.bin");
  ASSERT_TRUE(player.start());
  ASSERT_TRUE(test::waitForOutput(player.program, "Done.", 20.0)) << player.program.output;
  test::XWindowId window = test::waitForWindowByPid(player.program.pid, 10.0);
  ASSERT_NE(window, 0u);
  EXPECT_EQ(test::windowTitle(window), "drec.player");
  ASSERT_TRUE(test::sendCloseRequest(window));
  test::ProgramResult result = test::finishProgram(player.program, 10.0);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 0);
}

TEST(PlayerWindow, InterruptSignalEndsThePlayerTheUsualWay) {
  DREC_REQUIRE_DISPLAY();
  // Thirty seconds of empty frames: the signal arrives during playback.
  RecordingWriter writer;
  beginRecording(writer, 160, 120, TextureTable{});
  for (int i = 0; i <= 300; ++i) writeFrameMark(writer, static_cast<float>(i) * 0.1f);
  WindowedPlayer player(finishRecording(writer), "drec-player");
  ASSERT_TRUE(player.start());
  ASSERT_NE(test::waitForWindowByPid(player.program.pid, 10.0), 0u);
  usleep(300000);
  ASSERT_EQ(kill(player.program.pid, SIGINT), 0);
  test::ProgramResult result = test::finishProgram(player.program, 10.0);
  EXPECT_FALSE(result.timedOut) << "Ctrl+C was swallowed";
  EXPECT_EQ(result.signal, SIGINT) << "output: " << result.output;
}

}  // namespace
}  // namespace drec
