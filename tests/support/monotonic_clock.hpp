// Seconds on the monotonic clock, for deadlines and for timing what a test
// waits for.
#pragma once
#include <ctime>

namespace drec::test {

inline double nowSeconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace drec::test
