// drec play: the play clock and the timing report in-process; and the real
// program under the test's X server: playing to the end by itself with
// every frame in its report, speed, keys (screenshot, step, pause, quit),
// the close button, and no display.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "tests/support/drec_tool.hpp"
#include "tests/support/probe_scene.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/test_paths.hpp"
#include "tests/support/window_support.hpp"
#include "tests/support/x11_tools.hpp"
#include "tests/support/xwd_image.hpp"
#include "tools/drec/play_timing.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

using namespace test;

TEST(PlayClock, RunsAtTheSpeedAndStandsStillWhilePaused) {
  PlayClock clock;
  startPlayClock(clock, 100.0, 2.0);
  EXPECT_DOUBLE_EQ(1.0, playTime(clock, 100.5));
  EXPECT_DOUBLE_EQ(101.0, wallTimeOf(clock, 2.0));
  setPlayPaused(clock, 101.0, true);  // at play time 2
  EXPECT_DOUBLE_EQ(2.0, playTime(clock, 150.0));
  EXPECT_TRUE(std::isinf(wallTimeOf(clock, 3.0)));
  setPlayPaused(clock, 150.0, false);
  EXPECT_DOUBLE_EQ(3.0, playTime(clock, 150.5)) << "the paused time moves nothing";
  setPlaySpeed(clock, 150.5, 0.5);
  EXPECT_DOUBLE_EQ(3.5, playTime(clock, 151.5));
  const struct {
    double speed;
    bool faster;
    double next;
  } steps[] = {{1, true, 2}, {16, true, 16}, {1, false, 0.5}, {1.0 / 16, false, 1.0 / 16}};
  for (const auto& step : steps) EXPECT_EQ(step.next, nextSpeed(step.speed, step.faster));
  EXPECT_EQ("1/4", speedText(0.25));
  EXPECT_EQ("2", speedText(2));
}

TEST(PlayTimingReport, LatenessAndIntervalsCountOnlyPresentsInARow) {
  TimingReport report;
  startTimingReport(report, 4);
  // due, present: frame 1 is 2 ms late, frame 2 dropped, frame 3 after a pause.
  addFrameTiming(report, {0, 0.0f, 0.000, 0.001, false, false});
  addFrameTiming(report, {1, 0.016f, 0.016, 0.018, false, false});
  addFrameTiming(report, {2, 0.032f, 0.032, 0, true, false});
  addFrameTiming(report, {3, 0.048f, 0.048, 0.048, false, true});
  addFrameTiming(report, {4, 0.064f, 0.064, 0.065, false, false});  // past the reserved rows
  EXPECT_EQ(4, report.presented);
  EXPECT_EQ(1, report.dropped);
  ASSERT_EQ(4u, report.frames.size());
  const MillisecondSpread lateness = presentLateness(report);
  EXPECT_EQ(2, lateness.count);
  EXPECT_NEAR(2.0, lateness.max, 1e-9);
  const MillisecondSpread intervals = intervalError(report);
  EXPECT_EQ(1, intervals.count) << "only frames 0 to 1 are presents in a row";
  EXPECT_NEAR(1.0, intervals.max, 1e-9);
  const std::vector<std::string> rows = lines(timingReportCsv(report));
  ASSERT_EQ(5u, rows.size());
  EXPECT_EQ("frame,recorded_time,due,present,dropped", rows[0]);
  EXPECT_EQ("1,0.0160000008,0.016000,0.018000,0", rows[2]);
  EXPECT_EQ("2,0.0320000015,0.032000,,1", rows[3]);
}

// 120 frames a sixtieth of a second apart, each adding a quad of its own
// place and colour, so that every frame's picture differs.
constexpr int kFrames = 120;
constexpr double kFrameSeconds = 1.0 / 60.0;

Bytes twoSecondRecording() {
  RecordingWriter writer;
  beginRecording(writer, 320, 240, TextureTable{}, 4000);
  const PackedColor16 colors[] = {kRed, kYellow, kLime, kViolet, kBlue, kOpaqueWhite};
  for (int frame = 0; frame < kFrames; ++frame) {
    const uint8_t left = static_cast<uint8_t>((frame % 12) * 20);
    const uint8_t top = static_cast<uint8_t>((frame / 12) * 24);
    writeQuad(writer, Quad{0, 0, left, top, static_cast<uint8_t>(left + 18),
                           static_cast<uint8_t>(top + 22), colors[frame % 6]});
    writeFrameMark(writer, static_cast<float>(frame * kFrameSeconds));
  }
  return finishRecording(writer);
}

struct PlayFolder {
  TempDirectory folder;
  PlayFolder() { EXPECT_TRUE(writeBytesToFile(folder.path + "/two.rec", twoSecondRecording())); }
  std::string file(const std::string& name) const { return folder.path + "/" + name; }
};

ProgramRun playRun(const PlayFolder& play, const std::vector<std::string>& options) {
  ProgramRun run;
  run.arguments = {buildDirectory() + "/tools/drec", "play", "two.rec"};
  run.arguments.insert(run.arguments.end(), options.begin(), options.end());
  run.workingDirectory = play.folder.path;
  run.keepDisplay = true;
  run.environment = {"SDL_VIDEODRIVER=x11"};
  run.timeoutSeconds = 30;
  return run;
}

bool pressKey(const std::string& key) { return xdotool({"key", "--clearmodifiers", key}); }

bool waitForFile(const std::string& path, double seconds) {
  for (double waited = 0; waited < seconds; waited += 0.05) {
    if (!readFile(path).empty()) return true;
    usleep(50000);
  }
  return false;
}

TEST(DrecPlay, PlaysToTheEndByItselfWithEveryFrameReported) {
  DREC_REQUIRE_DISPLAY();
  PlayFolder play;
  for (const char* speed : {"1", "2"}) {
    SCOPED_TRACE(std::string("--speed ") + speed);
    const ProgramResult result =
        runProgram(playRun(play, {"--speed", speed, "--report-csv", "rows.csv", "--report"}));
    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(0, result.exitStatus) << result.output;
    const std::vector<uint8_t> csv = readFile(play.file("rows.csv"));
    const std::vector<std::string> rows = lines(std::string(csv.begin(), csv.end()));
    ASSERT_EQ(static_cast<size_t>(kFrames) + 1, rows.size());
    int dropped = 0;
    double lastDue = 0;
    for (int frame = 0; frame < kFrames; ++frame) {
      const std::string& row = rows[static_cast<size_t>(frame) + 1];
      std::vector<std::string> fields(1);
      for (char c : row) {
        if (c == ',') fields.emplace_back();
        else fields.back() += c;
      }
      ASSERT_EQ(5u, fields.size()) << row;
      EXPECT_EQ(std::to_string(frame), fields[0]);
      EXPECT_NEAR(frame * kFrameSeconds, std::atof(fields[1].c_str()), 1e-6) << row;
      EXPECT_EQ(fields[4] == "1", fields[3].empty()) << "a dropped frame has no present: " << row;
      dropped += fields[4] == "1";
      lastDue = std::atof(fields[2].c_str());
    }
    // A busy machine (the suite runs tests side by side) drops a few; a
    // pacing fault drops every other frame or more.
    EXPECT_LE(dropped, kFrames / 5) << "frames dropped";
    // The last present is due when mark 118 is: its recorded time over the speed.
    const double expected = (kFrames - 2) * kFrameSeconds / std::atof(speed);
    EXPECT_NEAR(expected, lastDue, 0.25 * expected) << "the wall clock does not follow the speed";
  }
}

TEST(DrecPlay, ScreenshotsEqualTheExportStepAndPauseHoldAndEscapeQuits) {
  DREC_REQUIRE_DISPLAY();
  PlayFolder play;
  const DrecResult exported =
      runDrec({"export", "two.rec", "--out", "exp", "--frames", "30-31"}, play.folder.path);
  ASSERT_EQ(0, exported.status) << exported.err;

  RunningProgram program;
  ASSERT_TRUE(startProgram(playRun(play, {"--paused", "--start-frame", "30"}), program));
  StopAtExit stop(program);
  const XWindowId window = waitForWindowByPid(program.pid, 10.0);
  ASSERT_NE(0u, window);
  EXPECT_EQ("two.rec - drec play", windowTitle(window));
  ASSERT_TRUE(focusWindow(window));

  ASSERT_TRUE(pressKey("s"));
  ASSERT_TRUE(waitForFile(play.file("two-frame-000030.png"), 10.0));
  EXPECT_EQ(readFile(play.file("exp/frame-000030.png")), readFile(play.file("two-frame-000030.png")))
      << "the picture of frame 30 differs from the export's";
  ASSERT_TRUE(pressKey("period"));
  ASSERT_TRUE(pressKey("s"));
  ASSERT_TRUE(waitForFile(play.file("two-frame-000031.png"), 10.0)) << "no step to frame 31";
  EXPECT_EQ(readFile(play.file("exp/frame-000031.png")), readFile(play.file("two-frame-000031.png")))
      << "frame 31, drawn after the overlay was, differs from the export's";

  // Steps draw only what changed into the window, and the display's panel,
  // gone two seconds after the last key, leaves the picture as it was under
  // it: the window then shows frame 34 exactly.
  for (int step = 0; step < 3; ++step) ASSERT_TRUE(pressKey("period"));
  const DrecResult hashes = runDrec({"hash", "two.rec"}, play.folder.path);
  ASSERT_EQ(0, hashes.status) << hashes.err;
  const std::vector<std::string> hashLines = lines(hashes.out);
  ASSERT_GT(hashLines.size(), 35u);
  RgbImage first, second;
  std::string error;
  usleep(2700000);
  ASSERT_TRUE(captureWindow(window, first, error)) << error;
  usleep(500000);
  ASSERT_TRUE(captureWindow(window, second, error)) << error;
  EXPECT_TRUE(first.rgb == second.rgb) << "the paused picture changed";
  uint64_t hash = 0xcbf29ce484222325ull;
  for (uint8_t byte : first.rgb) hash = (hash ^ byte) * 0x100000001b3ull;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  const std::string& frame34 = hashLines[35];
  EXPECT_EQ(frame34.substr(frame34.size() - 16), hex)
      << "the window does not show frame 34 as drawn (" << first.width << " x " << first.height << ")";

  // A panel that appears while paused shows at once; the first Escape closes it.
  ASSERT_TRUE(pressKey("question"));
  usleep(400000);
  RgbImage withKeys;
  ASSERT_TRUE(captureWindow(window, withKeys, error)) << error;
  // The list is centred and taller than this small window; the display's
  // own panels lie along the bottom.
  int changed = 0;
  for (int y = 0; y < first.height / 4; ++y)
    for (int x = first.width / 3; x < first.width * 2 / 3; ++x) changed += withKeys.pixel(x, y) != first.pixel(x, y);
  EXPECT_GT(changed, 0) << "'?' showed no list of keys";
  ASSERT_TRUE(pressKey("Escape"));
  usleep(300000);
  EXPECT_TRUE(stillRunning(program.pid)) << "Escape quit with the list of keys open";
  ASSERT_TRUE(pressKey("Escape"));
  const ProgramResult result = finishProgram(program, 5.0);
  EXPECT_FALSE(result.timedOut) << "Escape did not quit";
  EXPECT_EQ(0, result.exitStatus) << result.output;
}

// Seeks: one frame back from frame 60, the last frame, and "go to" a
// recorded time; each picture as the export draws it.
TEST(DrecPlay, SeeksShowTheExportsPictures) {
  DREC_REQUIRE_DISPLAY();
  PlayFolder play;
  const DrecResult exported =
      runDrec({"export", "two.rec", "--out", "exp", "--frames", "59,119,45"}, play.folder.path);
  ASSERT_EQ(0, exported.status) << exported.err;
  RunningProgram program;
  ASSERT_TRUE(startProgram(playRun(play, {"--paused", "--start-frame", "60"}), program));
  StopAtExit stop(program);
  const XWindowId window = waitForWindowByPid(program.pid, 10.0);
  ASSERT_NE(0u, window);
  ASSERT_TRUE(focusWindow(window));
  struct Step {
    std::vector<std::string> keys;
    int frame;
  };
  // 0.75 s is frame 45, the first recorded at 0.75 s or later.
  const Step steps[] = {{{"comma"}, 59}, {{"End"}, 119}, {{"g", "0", "period", "7", "5", "s", "Return"}, 45}};
  for (const Step& step : steps) {
    for (const std::string& key : step.keys) ASSERT_TRUE(pressKey(key));
    ASSERT_TRUE(pressKey("s"));
    char name[64];
    std::snprintf(name, sizeof name, "two-frame-%06d.png", step.frame);
    ASSERT_TRUE(waitForFile(play.file(name), 10.0)) << "no picture of frame " << step.frame;
    std::snprintf(name, sizeof name, "exp/frame-%06d.png", step.frame);
    EXPECT_EQ(readFile(play.file(name)), readFile(play.file(std::string(name).replace(0, 10, "two-frame-"))))
        << "frame " << step.frame << " differs from the export's";
  }
  ASSERT_TRUE(pressKey("q"));
  const ProgramResult result = finishProgram(program, 5.0);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(0, result.exitStatus) << result.output;
}

TEST(DrecPlay, TheCloseButtonQuitsAndNoDisplayIsAUsageError) {
  DREC_REQUIRE_DISPLAY();
  PlayFolder play;
  RunningProgram program;
  ASSERT_TRUE(startProgram(playRun(play, {"--wait"}), program));
  StopAtExit stop(program);
  const XWindowId window = waitForWindowByPid(program.pid, 10.0);
  ASSERT_NE(0u, window);
  ASSERT_TRUE(sendCloseRequest(window));
  const ProgramResult result = finishProgram(program, 5.0);
  EXPECT_FALSE(result.timedOut) << "the close button did not quit";
  EXPECT_EQ(0, result.exitStatus);

  const DrecResult none = runDrec({"play", "two.rec"}, play.folder.path, DrecDisplay::None);
  EXPECT_EQ(2, none.status);
  EXPECT_EQ("drec: play: needs a display (DISPLAY is not set)\n", none.err);
}

}  // namespace
}  // namespace drec
