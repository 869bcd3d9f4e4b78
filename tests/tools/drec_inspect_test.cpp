// drec play's views of a paused frame, through the real program under the
// test's X server on the bundled demo: each view changes the window and
// goes again without a trace; the inspector's panel opens on a click and
// follows a step, while the picture on screen and the one written with `s`
// stay the frame's own, as drec export draws it (textured, blended frames,
// to the pixel); Escape closes the panel before it quits.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include "tests/support/drec_tool.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/test_paths.hpp"
#include "tests/support/window_support.hpp"
#include "tests/support/x11_tools.hpp"
#include "tests/support/xwd_image.hpp"

namespace drec {
namespace {

using namespace test;

constexpr char kDemoName[] = "Recording_12_01_2013_13_41_13";

std::string demoTemplate() {
  return buildDirectory() + "/player/Video/Stream/" + kDemoName + ".%i.rec";
}

bool pressKey(const std::string& key) { return xdotool({"key", "--clearmodifiers", key}); }

// Rows 40 to 329 of the 640 x 480 window: below the messages at the top,
// above the on-screen display that shows for 2 s after each key.
constexpr int kFirstRow = 40;
constexpr int kEndRow = 330;

// The window once it has stopped changing: two captures in a row alike.
::testing::AssertionResult steadyWindow(XWindowId window, RgbImage& image) {
  RgbImage last;
  std::string error;
  for (int attempt = 0; attempt < 40; ++attempt) {
    usleep(250000);
    if (!captureWindow(window, image, error)) return ::testing::AssertionFailure() << error;
    if (attempt > 0 && image.rgb == last.rgb) return ::testing::AssertionSuccess();
    last = image;
  }
  return ::testing::AssertionFailure() << "the window kept changing";
}

// Pixels that differ within rows kFirstRow to kEndRow and columns x0 to x1.
int differingPixels(const RgbImage& a, const RgbImage& b, int x0 = 0, int x1 = 640) {
  int count = 0;
  for (int y = kFirstRow; y < kEndRow; ++y)
    for (int x = x0; x < x1; ++x) count += a.pixel(x, y) != b.pixel(x, y);
  return count;
}

bool waitForFile(const std::string& path, double seconds) {
  for (double waited = 0; waited < seconds; waited += 0.05) {
    if (!readFile(path).empty()) return true;
    usleep(50000);
  }
  return false;
}

// The picture of the frame on screen as `s` writes it (and the file gone again).
std::vector<uint8_t> writtenPicture(const TempDirectory& folder, int frame) {
  char name[64];
  std::snprintf(name, sizeof name, "/%s-frame-%06d.png", kDemoName, frame);
  const std::string path = folder.path + name;
  if (!pressKey("s") || !waitForFile(path, 10.0)) return {};
  usleep(200000);  // written whole: renamed into place
  std::vector<uint8_t> bytes = readFile(path);
  unlink(path.c_str());
  return bytes;
}

TEST(DrecPlayViews, DrawOverThePictureOnlyAndTheInspectorFollowsTheFrame) {
  DREC_REQUIRE_DISPLAY();
  TempDirectory folder;
  ProgramRun run;
  run.arguments = {buildDirectory() + "/tools/drec", "play", "--paused", "--start-frame", "450", "--quiet",
                   demoTemplate()};
  run.workingDirectory = folder.path;
  run.keepDisplay = true;
  run.environment = {"SDL_VIDEODRIVER=x11"};
  run.timeoutSeconds = 90;
  RunningProgram program;
  ASSERT_TRUE(startProgram(run, program));
  StopAtExit stop(program);
  const XWindowId window = waitForWindowByPid(program.pid, 10.0);
  ASSERT_NE(0u, window);
  ASSERT_TRUE(focusWindow(window));
  // Frames 450 and 451 as playing draws them, then back to 450.
  const std::vector<uint8_t> frame450 = writtenPicture(folder, 450);
  ASSERT_FALSE(frame450.empty());
  ASSERT_TRUE(pressKey("period"));
  const std::vector<uint8_t> frame451 = writtenPicture(folder, 451);
  ASSERT_FALSE(frame451.empty());
  ASSERT_NE(frame450, frame451);
  const DrecResult exported =
      runDrec({"export", demoTemplate(), "--out", "exp", "--frames", "450,451", "--quiet"}, folder.path);
  ASSERT_EQ(0, exported.status) << exported.err;
  EXPECT_EQ(readFile(folder.path + "/exp/frame-000450.png"), frame450) << "frame 450 is not export's";
  EXPECT_EQ(readFile(folder.path + "/exp/frame-000451.png"), frame451) << "frame 451 is not export's";
  ASSERT_TRUE(pressKey("comma"));
  RgbImage plain;
  ASSERT_TRUE(steadyWindow(window, plain));
  ASSERT_EQ(640, plain.width);
  ASSERT_EQ(480, plain.height);

  // Each view key twice: the view, then the picture exactly as it was.
  for (const char* key : {"w", "d", "t"}) {
    SCOPED_TRACE(std::string("key ") + key);
    RgbImage shown, gone;
    ASSERT_TRUE(pressKey(key));
    ASSERT_TRUE(steadyWindow(window, shown));
    EXPECT_GT(differingPixels(plain, shown), 2000) << "the view does not show";
    ASSERT_TRUE(pressKey(key));
    ASSERT_TRUE(steadyWindow(window, gone));
    EXPECT_EQ(0, differingPixels(plain, gone)) << "the view left a trace";
  }

  // A click left of the middle: the panel opens on the right, and the
  // picture beside it, and the one written, are still frame 450's.
  ASSERT_TRUE(pressKey("i"));
  ASSERT_TRUE(xdotool({"mousemove", "--window", std::to_string(window), "200", "250", "click", "1"}));
  RgbImage inspected;
  ASSERT_TRUE(steadyWindow(window, inspected));
  EXPECT_GT(differingPixels(plain, inspected, 320, 640), 20000) << "no panel on the right";
  EXPECT_EQ(0, differingPixels(plain, inspected, 0, 190)) << "the picture changed under the inspector";
  EXPECT_EQ(frame450, writtenPicture(folder, 450)) << "the picture is not frame 450's after the inspector";

  // A step: the history is found again for frame 451, over its own picture.
  ASSERT_TRUE(pressKey("period"));
  RgbImage stepped;
  ASSERT_TRUE(steadyWindow(window, stepped));
  EXPECT_GT(differingPixels(plain, stepped, 320, 640), 20000) << "the panel did not stay";
  EXPECT_EQ(frame451, writtenPicture(folder, 451)) << "the picture is not frame 451's after the inspector";

  // Escape closes the panel first; the next one quits.
  ASSERT_TRUE(pressKey("Escape"));
  RgbImage closed;
  ASSERT_TRUE(steadyWindow(window, closed));
  EXPECT_GT(differingPixels(stepped, closed, 320, 640), 20000) << "the panel did not close";
  EXPECT_TRUE(windowWithTitleExists(std::string(kDemoName) + ".%i.rec - drec play")) << "Escape quit";
  ASSERT_TRUE(pressKey("Escape"));
  const ProgramResult result = finishProgram(program, 10.0);
  EXPECT_FALSE(result.timedOut) << "the second Escape did not quit";
  EXPECT_EQ(0, result.exitStatus) << result.output;
}

}  // namespace
}  // namespace drec
