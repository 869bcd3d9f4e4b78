// The demo played by the built drec-player from its build folder, with no
// argument, in a real window: it plays to "Done." with nothing but its
// texture lines before it, a screenshot taken during playback shows sky at
// the top and road at the bottom, and a key to the window ends it with
// status 0.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/run_program.hpp"
#include "tests/support/test_paths.hpp"
#include "tests/support/window_support.hpp"
#include "tools/demo/demo_scene.hpp"
#include "tools/demo/xwd_image.hpp"

namespace drec {
namespace {

// Runs an X tool with the display kept and a timeout; true on status 0.
bool runTool(const std::vector<std::string>& arguments, double timeoutSeconds,
             std::string* output = nullptr) {
  test::ProgramRun run;
  run.arguments = arguments;
  run.keepDisplay = true;
  run.timeoutSeconds = timeoutSeconds;
  test::ProgramResult result = test::runProgram(run);
  if (output) *output = result.output;
  return !result.timedOut && result.exitStatus == 0;
}

// Where a point of the recorded screen (in 1/255 units) lands in the
// window: the recorded screen is scaled about the window's centre by
// height x cot(30 degrees) / 1024.
struct WindowPoint {
  int x;
  int y;
};
WindowPoint windowPoint(double unitX, double unitY) {
  const double scale = kDemoHeight * 1.7320508075688772 / 1024;
  double x = kDemoWidth / 2.0 + (unitX * kDemoWidth / 255 - kDemoWidth / 2.0) * scale;
  double y = kDemoHeight / 2.0 + (unitY * kDemoHeight / 255 - kDemoHeight / 2.0) * scale;
  return WindowPoint{static_cast<int>(x), static_cast<int>(y)};
}

// The share of pixels in a box of the recorded screen that pass `test`.
template <typename Test>
double shareOf(const XwdImage& image, double x0, double y0, double x1, double y1, Test test) {
  WindowPoint from = windowPoint(x0, y0);
  WindowPoint to = windowPoint(x1, y1);
  int passed = 0;
  int total = 0;
  for (int y = from.y; y <= to.y; ++y) {
    for (int x = from.x; x <= to.x; ++x) {
      ++total;
      passed += test(pixelAt(image, x, y)) ? 1 : 0;
    }
  }
  return total ? static_cast<double>(passed) / total : 0;
}

bool looksLikeSky(PixelColour c) { return c.blue > c.red + 25 && c.blue >= c.green; }

bool looksLikeRoad(PixelColour c) {
  int high = std::max({c.red, c.green, c.blue});
  int low = std::min({c.red, c.green, c.blue});
  int mean = (c.red + c.green + c.blue) / 3;
  return high - low <= 30 && mean >= 40 && mean <= 245;
}

TEST(DemoWindow, BuiltPlayerPlaysTheDemoToDoneWithSkyAboveRoad) {
  DREC_REQUIRE_DISPLAY();
  Demo demo;
  std::string problem;
  ASSERT_TRUE(buildDemo(demo, problem)) << problem;
  std::string expectedOutput;
  for (const DemoTexture& texture : demo.textures) {
    char hex[17];
    textureKeyHex(texture.key, hex);
    expectedOutput += "Texture #" + std::to_string(texture.slot) + " (" + hex + ".bmp)\n";
  }
  expectedOutput += "Done.";

  test::ProgramRun run;
  run.arguments = {test::buildDirectory() + "/player/drec-player"};
  run.keepDisplay = true;
  test::RunningProgram player;
  const test::StopAtExit stop(player);
  ASSERT_TRUE(test::startProgram(run, player));

  std::string found;
  ASSERT_TRUE(runTool({"/usr/bin/xdotool", "search", "--sync", "--onlyvisible", "--name", "^drec-player$"},
                      20, &found))
      << "no player window";
  const std::string window = found.substr(0, found.find('\n'));

  // A few seconds into the drive.
  std::this_thread::sleep_for(std::chrono::seconds(5));
  test::TempDirectory shots;
  const std::string dump = shots.path + "/frame.xwd";
  ASSERT_TRUE(runTool({"/usr/bin/xwd", "-silent", "-id", window, "-out", dump}, 20));
  Bytes bytes = test::readFile(dump);
  XwdImage image;
  ASSERT_TRUE(decodeXwd(bytes.data(), bytes.size(), image, problem)) << problem;
  ASSERT_EQ(kDemoWidth, image.width);
  ASSERT_EQ(kDemoHeight, image.height);
  // The top of the recorded screen, clear of the HUD; the bottom, below
  // the car and left of the speed panel.
  EXPECT_GT(shareOf(image, 80, 2, 200, 14, looksLikeSky), 0.75) << "no sky at the top";
  EXPECT_GT(shareOf(image, 20, 238, 170, 254, looksLikeRoad), 0.9) << "no road at the bottom";
  EXPECT_LT(shareOf(image, 20, 238, 170, 254, looksLikeSky), 0.05) << "sky at the bottom";

  ASSERT_TRUE(test::waitForOutput(player, "Done.", 90)) << player.output;
  // The final wait ends only on a key to the player's window.
  ASSERT_TRUE(runTool({"/usr/bin/xdotool", "windowfocus", "--sync", window}, 10));
  ASSERT_TRUE(runTool({"/usr/bin/xdotool", "key", "space"}, 10));
  test::ProgramResult result = test::finishProgram(player, 20);
  EXPECT_FALSE(result.timedOut) << "the key did not end the final wait";
  EXPECT_EQ(0, result.exitStatus);
  EXPECT_EQ(expectedOutput, result.output);
}

}  // namespace
}  // namespace drec
