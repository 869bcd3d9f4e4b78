// The real drec-player plays a recording with textures to "Done." in a window
// on the test's X server; a screenshot of the window taken while it waits
// for the final key shows what every frame drew, layered in order (the
// screen is cleared once, at start-up, and each frame draws over the last).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/player_folder.hpp"
#include "tests/support/probe_scene.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/test_paths.hpp"
#include "tests/support/window_support.hpp"
#include "tests/support/x11_tools.hpp"
#include "tests/support/xwd_image.hpp"
#include "tools/writer/bmp_writer.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

using namespace test;  // the probe scene

constexpr int16_t kWidth = kProbeWidth;
constexpr int16_t kHeight = kProbeHeight;
constexpr double kStartUpSeconds = 30.0;
constexpr uint16_t kFar = 4000;  // w = 16.4: farther than kNearDepth, yet drawn later

// Marks five seconds apart: every wait is a pause that the pacer cuts to a
// quarter second, so no frame is ever late and dropped, however loaded the
// machine, and the whole recording plays in about a second and a half.
std::vector<Frame> frames() {
  return {
      {5.0f,
       {
           {0, 0, 20, 20, 70, 70, kRed},             // A
           {0, 0, 20, 150, 120, 230, kYellow},       // B
           {0, 0, 165, 140, 245, 240, kWhiteByRule}, // H
       }},
      {10.0f,
       {
           {0, 0, 185, 20, 235, 70, kLime},           // C
           {0, 0, 45, 20, 70, 70, kViolet, kFar},     // D, over the right half of A
       }},
      {15.0f,
       {
           {kQuadrantsSlot, 0, 90, 20, 165, 110, kOpaqueWhite},  // E
       }},
      {20.0f,
       {
           {kKeyedSlot, 1, 20, 150, 80, 230, kOpaqueWhite},    // F, over the left of B
           {kKeyedSlot, 0, 185, 150, 235, 230, kOpaqueWhite},  // G, inside H
       }},
      {25.0f,
       {
           {0, 2, 180, 15, 240, 75, kBlue},       // I: leaves C as it was
           {0, 3, 180, 15, 240, 75, kRed},        // keeps I's blend state
           {0, 1, 95, 150, 120, 230, kHalfWhite}, // J, half over the right of B
       }},
  };
}

struct Probe {
  const char* name;
  double x, y;  // recorded screen, 1/255 units
  unsigned expected;
  int tolerance;
};

TEST(PlayerPictureWindow, ScreenshotAtTheEndShowsEveryFrameLayeredInOrder) {
  DREC_REQUIRE_DISPLAY();
  test::PlayerFolder player;
  ASSERT_TRUE(writeProbeTextures(player.folder.path + "/Video/TexDump"));
  ASSERT_TRUE(player.start(probeRecording(frames(), true), test::Keyboard::Window));
  test::RunningProgram& program = player.program;

  ASSERT_TRUE(test::waitForOutput(program, "Done.", kStartUpSeconds + 20.0))
      << "no \"Done.\"; output: " << program.output;
  const test::XWindowId window = test::waitForWindowByPid(program.pid, 5.0);
  ASSERT_NE(window, 0u) << "no window while waiting for the key";
  EXPECT_EQ(program.output,
            "Texture #1 (00000000DEC0DE01.bmp)\n"
            "Texture #2 (A1B2C3D4E5F60718.bmp)\n"
            "Done.");

  test::RgbImage shot;
  std::string error;
  ASSERT_TRUE(test::captureWindow(window, shot, error)) << error;
  ASSERT_EQ(shot.width, kWidth);
  ASSERT_EQ(shot.height, kHeight);

  const Probe probes[] = {
      // Frame 1, partly covered by frame 2.
      {"A: frame 1 red quad, left of D", 30, 45, 0xFF0000, 3},
      {"B: frame 1 yellow between F and J", 87.5, 190, 0xFFFF00, 3},
      {"H: frame 1 red 5 draws white, left of G", 175, 190, 0xFFFFFF, 3},
      // Frame 2 over frame 1.
      {"D: frame 2 violet over frame 1 red, though farther", 60, 45, 0x6600FF, 3},
      {"C: frame 2 lime, under frame 5's modes 2 and 3", 210, 45, 0x66FF00, 3},
      // Frame 3: the picture's top row at t = 0.
      {"E: top-left texels", 108.75, 42.5, kTopLeft, 3},
      {"E: top-right texels", 146.25, 42.5, kTopRight, 3},
      {"E: bottom-left texels", 108.75, 87.5, kBottomLeft, 3},
      {"E: bottom-right texels", 146.25, 87.5, kBottomRight, 3},
      // Frame 4: the colour key under blend mode 1, and with blending off.
      {"F: keyed texels let frame 1 yellow through", 35, 190, 0xFFFF00, 3},
      {"F: opaque texels", 65, 190, kOrange, 3},
      {"G: keyed texels drawn near-black with blending off", 197.5, 190, kNearBlack, 4},
      {"G: opaque texels", 222.5, 190, kOrange, 3},
      // Frame 5: half-alpha white over frame 1 yellow.
      {"J: half white over yellow", 107.5, 190, 0xFFFF80, 4},
      // Nothing drawn here, nor outside the recorded screen: the clear colour.
      {"between B and H", 142, 190, 0x000000, 3},
      {"below E", 128, 130, 0x000000, 3},
  };
  for (const Probe& probe : probes) {
    const int x = landX(probe.x);
    const int y = landY(probe.y);
    const unsigned actual = shot.pixel(x, y);
    EXPECT_TRUE(near(actual, probe.expected, probe.tolerance))
        << probe.name << " at (" << x << ", " << y << "): " << hex(actual) << ", expected "
        << hex(probe.expected);
  }
  const int corners[][2] = {{2, 2}, {kWidth - 3, 2}, {2, kHeight - 3}, {kWidth - 3, kHeight - 3}};
  for (const auto& corner : corners)
    EXPECT_EQ(shot.pixel(corner[0], corner[1]), 0u) << "window corner " << corner[0] << ", " << corner[1];

  // The picture stays while the player waits; a key ends it.
  test::focusWindow(window);
  usleep(50000);
  EXPECT_TRUE(test::xdotool({"key", "space"}));
  const test::ProgramResult result = test::finishProgram(program, 10.0);
  EXPECT_FALSE(result.timedOut) << "a key did not end the final wait";
  EXPECT_EQ(result.exitStatus, 0);
}

}  // namespace
}  // namespace drec
