// Monotonic clock and millisecond sleep.
#pragma once
#include <cstdint>

namespace drec {

// Seconds from CLOCK_MONOTONIC; the origin is arbitrary, only differences count.
double clockSeconds();

// A plain sleep of the calling thread; keys do not shorten it and no window
// events are processed during it. Values of 0 or less return at once.
void sleepMilliseconds(int64_t milliseconds);

// Sleeps until the clock reads `deadline` (seconds of clockSeconds), by an
// absolute deadline on CLOCK_MONOTONIC: the wake-up does not drift by the
// time spent computing the wait, nor round to a whole millisecond. A
// deadline already past returns at once.
void sleepUntilSeconds(double deadline);

}  // namespace drec
