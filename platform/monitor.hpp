// Where the window goes: centred on the monitor under the mouse pointer.
// Plain arithmetic on monitor rectangles, so that layouts no test machine has
// (several monitors, negative origins) can be tried.
#pragma once

namespace drec {

struct MonitorBounds {
  int x;  // top-left corner in the desktop's coordinates
  int y;
  int width;
  int height;
};

struct WindowPlacement {
  int monitor;  // index into the monitor list; -1 when the list is empty
  int x;        // top-left corner of the client area
  int y;
};

// The monitor whose rectangle holds the pointer (left and top edges inside,
// right and bottom edges outside); the primary one, index 0, when the pointer
// position is unknown or lies on no monitor.
int monitorUnderPointer(const MonitorBounds* monitors, int count, bool pointerKnown,
                        int pointerX, int pointerY);

// A width x height client area centred on that monitor. A window larger than
// the monitor starts at the monitor's top-left corner, so its title bar stays
// on screen.
WindowPlacement placeWindow(const MonitorBounds* monitors, int count, bool pointerKnown,
                            int pointerX, int pointerY, int width, int height);

}  // namespace drec
