#include "platform/monitor.hpp"

namespace drec {

int monitorUnderPointer(const MonitorBounds* monitors, int count, bool pointerKnown,
                        int pointerX, int pointerY) {
  if (count <= 0) return -1;
  if (!pointerKnown) return 0;
  for (int i = 0; i < count; ++i) {
    const MonitorBounds& m = monitors[i];
    // 64-bit sums: a rectangle at the edge of the int range must not wrap.
    if (pointerX >= m.x && static_cast<long long>(pointerX) < static_cast<long long>(m.x) + m.width &&
        pointerY >= m.y && static_cast<long long>(pointerY) < static_cast<long long>(m.y) + m.height)
      return i;
  }
  return 0;
}

static int centredStart(int origin, int extent, int size) {
  if (size >= extent) return origin;
  return origin + (extent - size) / 2;
}

WindowPlacement placeWindow(const MonitorBounds* monitors, int count, bool pointerKnown,
                            int pointerX, int pointerY, int width, int height) {
  int index = monitorUnderPointer(monitors, count, pointerKnown, pointerX, pointerY);
  if (index < 0) return WindowPlacement{-1, 0, 0};
  const MonitorBounds& m = monitors[index];
  return WindowPlacement{index, centredStart(m.x, m.width, width),
                         centredStart(m.y, m.height, height)};
}

}  // namespace drec
