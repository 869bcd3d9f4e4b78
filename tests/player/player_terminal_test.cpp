// The real drec-player with no display, its standard input a terminal (a
// pseudo-terminal): the terminal stands in for the window's keyboard. Escape
// typed during playback ends it with "Done.", other keys do not, and a key
// ends the final wait.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "tests/support/player_folder.hpp"
#include "tests/support/run_program.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

using test::Keyboard;
using test::PlayerFolder;

// Thirty seconds of empty frames, ten a second.
Bytes longRecording() {
  RecordingWriter writer;
  beginRecording(writer, 64, 48, TextureTable{});
  for (int i = 0; i <= 300; ++i) writeFrameMark(writer, static_cast<float>(i) * 0.1f);
  return finishRecording(writer);
}

// After "Done." the player waits for a key on its terminal; `key` ends it
// with status 0.
void expectWaitsForKeyThenEnds(PlayerFolder& player, const char* key) {
  usleep(500000);
  EXPECT_TRUE(test::stillRunning(player.program.pid)) << "ended without waiting for a key";
  test::typeIntoTerminal(player.program, key);
  test::ProgramResult result = test::finishProgram(player.program, 10.0);
  EXPECT_FALSE(result.timedOut) << "the key did not end the final wait";
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_LT(result.seconds, 15.0) << "played the whole recording";
}

TEST(PlayerTerminal, EscapeEndsPlaybackAndAKeyEndsTheProgram) {
  PlayerFolder player;
  ASSERT_TRUE(player.start(longRecording(), Keyboard::Terminal));
  EXPECT_FALSE(test::waitForOutput(player.program, "Done.", 0.7)) << "ended before any key";
  // A letter and an arrow key's sequence (which starts with the Escape byte)
  // are not Escape: playback goes on.
  test::typeIntoTerminal(player.program, "a");
  test::typeIntoTerminal(player.program, "\x1b[A");
  EXPECT_FALSE(test::waitForOutput(player.program, "Done.", 1.0)) << "a key other than Escape ended playback";
  test::typeIntoTerminal(player.program, "\x1b");
  ASSERT_TRUE(test::waitForOutput(player.program, "Done.", 5.0)) << "Escape did not end playback: "
                                                                 << player.program.output;
  expectWaitsForKeyThenEnds(player, "q");
}

TEST(PlayerTerminal, HeaderOnlyRecordingWaitsForAKey) {
  PlayerFolder player;
  ASSERT_TRUE(player.start(headerBytes(64, 48, TextureTable{}), Keyboard::Terminal));
  ASSERT_TRUE(test::waitForOutput(player.program, "Done.", 10.0)) << player.program.output;
  expectWaitsForKeyThenEnds(player, "x");
}

}  // namespace
}  // namespace drec
