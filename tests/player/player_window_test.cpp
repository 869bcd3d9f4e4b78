// The real drec-player with a window: a header-only recording opens a window
// of the recorded size showing black, prints "Done." and ends on a key sent
// to the window or on its close request. Keys are pressed and released in
// separate xdotool calls, so that none stays held if the player ends between
// them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "tests/support/player_folder.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/window_support.hpp"
#include "tests/support/x11_tools.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

using test::Keyboard;
using test::PlayerFolder;

// A recording of its header alone: the screen size, and no frame.
Bytes headerOnly(int width, int height) {
  return headerBytes(static_cast<int16_t>(width), static_cast<int16_t>(height), TextureTable{});
}

bool pressAndRelease(const std::string& key) {
  return test::xdotool({"keydown", key}) && test::xdotool({"keyup", key});
}

TEST(PlayerWindow, HeaderOnlyRecordingShowsBlackAndEndsOnAKey) {
  DREC_REQUIRE_DISPLAY();
  const int sizes[][2] = {{320, 200}, {640, 480}};
  for (const auto& [width, height] : sizes) {
    SCOPED_TRACE(test::sizeText(width, height));
    PlayerFolder player;
    ASSERT_TRUE(player.start(headerOnly(width, height), Keyboard::Window));
    ASSERT_TRUE(test::waitForOutput(player.program, "Done.", 20.0)) << player.program.output;
    test::XWindowId window = test::waitForWindowByPid(player.program.pid, 10.0);
    ASSERT_NE(window, 0u) << "no window of the player's";
    EXPECT_EQ(test::windowTitle(window), "drec-player");
    test::ClientArea area{};
    ASSERT_TRUE(test::clientArea(window, area));
    EXPECT_EQ(area.width, width);
    EXPECT_EQ(area.height, height);
    EXPECT_TRUE(test::filledWith(window, width, height, 0x000000));
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
  PlayerFolder player;
  ASSERT_TRUE(player.start(headerOnly(400, 300), Keyboard::Window));
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
  PlayerFolder player("drec.player.bin");
  ASSERT_TRUE(player.start(headerOnly(200, 150), Keyboard::Window));
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
  PlayerFolder player;
  ASSERT_TRUE(player.start(finishRecording(writer), Keyboard::Window));
  ASSERT_NE(test::waitForWindowByPid(player.program.pid, 10.0), 0u);
  usleep(300000);
  ASSERT_EQ(kill(player.program.pid, SIGINT), 0);
  test::ProgramResult result = test::finishProgram(player.program, 10.0);
  EXPECT_FALSE(result.timedOut) << "Ctrl+C was swallowed";
  EXPECT_EQ(result.signal, SIGINT) << "output: " << result.output;
}

}  // namespace
}  // namespace drec
