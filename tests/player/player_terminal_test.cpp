// The real drec-player with no display, its standard input a terminal (a
// pseudo-terminal): the terminal stands in for the window's keyboard. Escape
// typed during playback ends it with "Done.", other keys do not, and a key
// ends the final wait.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "tests/support/run_program.hpp"
#include "tests/support/test_paths.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

constexpr const char kDefaultSegment0[] = "Video/Stream/Recording_12_01_2013_13_41_13.0.rec";

struct TerminalPlayer {
  test::TempDirectory folder;
  std::string player;
  test::RunningProgram program;

  explicit TerminalPlayer(const Bytes& recording) {
    player = test::copyPlayer(folder.path);
    EXPECT_FALSE(player.empty());
    EXPECT_TRUE(writeBytesToFile(folder.path + "/" + kDefaultSegment0, recording));
  }
  ~TerminalPlayer() {
    if (program.pid > 0) test::finishProgram(program, 0.0);  // kills a player left running
  }
  bool start() {
    test::ProgramRun run;
    run.arguments = {player};
    run.input = test::StandardInput::Terminal;  // and no DISPLAY: no window can open
    return test::startProgram(run, program);
  }
  // Collects output for a while; true if `text` showed up.
  bool outputWithin(const std::string& text, double seconds) {
    return test::waitForOutput(program, text, seconds);
  }
};


// Thirty seconds of empty frames, ten a second.
Bytes longRecording() {
  RecordingWriter writer;
  beginRecording(writer, 64, 48, TextureTable{});
  for (int i = 0; i <= 300; ++i) writeFrameMark(writer, static_cast<float>(i) * 0.1f);
  return finishRecording(writer);
}

TEST(PlayerTerminal, EscapeEndsPlaybackAndAKeyEndsTheProgram) {
  TerminalPlayer player(longRecording());
  ASSERT_TRUE(player.start());
  EXPECT_FALSE(player.outputWithin("Done.", 0.7)) << "ended before any key";
  // A letter and an arrow key's sequence (which starts with the Escape byte)
  // are not Escape: playback goes on.
  test::typeIntoTerminal(player.program, "a");
  test::typeIntoTerminal(player.program, "\x1b[A");
  EXPECT_FALSE(player.outputWithin("Done.", 1.0)) << "a key other than Escape ended playback";
  test::typeIntoTerminal(player.program, "\x1b");
  ASSERT_TRUE(player.outputWithin("Done.", 5.0)) << "Escape did not end playback: "
                                                 << player.program.output;
  usleep(300000);
  EXPECT_TRUE(test::stillRunning(player.program.pid)) << "ended without waiting for a key";
  test::typeIntoTerminal(player.program, "q");
  test::ProgramResult result = test::finishProgram(player.program, 10.0);
  EXPECT_FALSE(result.timedOut) << "the key did not end the final wait";
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_LT(result.seconds, 15.0) << "played the whole recording";
}

TEST(PlayerTerminal, HeaderOnlyRecordingWaitsForAKey) {
  TerminalPlayer player(headerBytes(64, 48, TextureTable{}));
  ASSERT_TRUE(player.start());
  ASSERT_TRUE(player.outputWithin("Done.", 10.0)) << player.program.output;
  usleep(500000);
  EXPECT_TRUE(test::stillRunning(player.program.pid)) << "ended without waiting for a key";
  test::typeIntoTerminal(player.program, "x");
  test::ProgramResult result = test::finishProgram(player.program, 10.0);
  EXPECT_FALSE(result.timedOut) << "the key did not end the final wait";
  EXPECT_EQ(result.exitStatus, 0);
}

}  // namespace
}  // namespace drec
