// Windowed tests need an X server. With CI=true a missing one is a failure;
// elsewhere the test is skipped, loudly. And a window size as text.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace drec::test {

inline bool ciRun() {
  const char* ci = std::getenv("CI");
  return ci && std::strcmp(ci, "true") == 0;
}

inline bool haveDisplay() {
  const char* display = std::getenv("DISPLAY");
  return display && *display;
}

// "640 x 480": a window size in a trace or a failure message.
inline std::string sizeText(int width, int height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

}  // namespace drec::test

#define DREC_REQUIRE_DISPLAY()                                                        \
  do {                                                                                \
    if (!::drec::test::haveDisplay()) {                                               \
      if (::drec::test::ciRun()) FAIL() << "CI=true but no X server (DISPLAY unset)"; \
      GTEST_SKIP() << "*** SKIPPED: no X server (DISPLAY unset); run ./test.sh ***";  \
    }                                                                                 \
  } while (0)
