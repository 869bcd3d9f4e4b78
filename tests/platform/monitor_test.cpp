// Which monitor the window opens on, and where: made-up layouts, since a test
// machine has one screen.
#include <gtest/gtest.h>

#include <vector>

#include "platform/monitor.hpp"

namespace drec {
namespace {

struct PlacementRow {
  const char* name;
  std::vector<MonitorBounds> monitors;
  bool pointerKnown;
  int pointerX;
  int pointerY;
  int width;
  int height;
  WindowPlacement expected;
};

TEST(Placement, CentredOnTheMonitorUnderThePointer) {
  const MonitorBounds primary{0, 0, 1920, 1080};
  const MonitorBounds right{1920, 0, 1280, 1024};
  const MonitorBounds left{-1600, 200, 1600, 900};
  const MonitorBounds above{0, -768, 1024, 768};
  const PlacementRow rows[] = {
      {"one monitor", {primary}, true, 10, 10, 640, 480, {0, 640, 300}},
      {"pointer on the second", {primary, right}, true, 2000, 500, 640, 480, {1, 2240, 272}},
      {"left edge of the second belongs to it", {primary, right}, true, 1920, 0, 640, 480,
       {1, 2240, 272}},
      {"last column of the primary", {primary, right}, true, 1919, 1079, 640, 480, {0, 640, 300}},
      {"monitor at negative x", {primary, right, left}, true, -1, 600, 800, 600, {2, -1200, 350}},
      {"monitor above at negative y", {primary, above}, true, 5, -1, 800, 600, {1, 112, -684}},
      {"bottom edge is outside", {primary, right}, true, 2000, 1024, 640, 480, {0, 640, 300}},
      {"pointer in a gap: primary", {primary, right}, true, 2000, 1050, 640, 480, {0, 640, 300}},
      {"pointer far off: primary", {right, primary}, true, -5000, -5000, 640, 480,
       {0, 2240, 272}},
      {"pointer unknown: primary", {primary, right}, false, 2000, 500, 640, 480, {0, 640, 300}},
      {"odd leftover rounds down", {primary}, true, 0, 0, 641, 481, {0, 639, 299}},
      {"exactly the monitor's size", {right}, true, 1920, 0, 1280, 1024, {0, 1920, 0}},
      {"wider than the monitor", {right}, true, 1920, 0, 1600, 600, {0, 1920, 212}},
      {"taller than the monitor", {primary, right}, true, 2500, 10, 800, 1200, {1, 2160, 0}},
      {"no monitors", {}, true, 0, 0, 640, 480, {-1, 0, 0}},
  };
  for (const PlacementRow& row : rows) {
    WindowPlacement got = placeWindow(row.monitors.data(), static_cast<int>(row.monitors.size()),
                                      row.pointerKnown, row.pointerX, row.pointerY, row.width,
                                      row.height);
    EXPECT_EQ(got.monitor, row.expected.monitor) << "monitor differs for " << row.name;
    EXPECT_EQ(got.x, row.expected.x) << "x differs for " << row.name;
    EXPECT_EQ(got.y, row.expected.y) << "y differs for " << row.name;
  }
}

TEST(Placement, RectangleAtTheEndOfTheIntRangeDoesNotWrap) {
  const MonitorBounds monitors[] = {{0, 0, 100, 100}, {2147483000, 0, 1000, 100}};
  EXPECT_EQ(monitorUnderPointer(monitors, 2, true, 2147483600, 50), 1);
  EXPECT_EQ(monitorUnderPointer(monitors, 2, true, -2147483600, 50), 0);
}

}  // namespace
}  // namespace drec
