#include "platform/clock.hpp"

#include <cerrno>
#include <ctime>

namespace drec {

double clockSeconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void sleepMilliseconds(int64_t milliseconds) {
  if (milliseconds <= 0) return;
  timespec remaining{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>((milliseconds % 1000) * 1000000)};
  // A signal handler that returns must not shorten the sleep.
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

void sleepUntilSeconds(double deadline) {
  if (!(deadline > clockSeconds())) return;
  timespec when;
  when.tv_sec = static_cast<time_t>(deadline);
  when.tv_nsec = static_cast<long>((deadline - static_cast<double>(when.tv_sec)) * 1e9);
  if (when.tv_nsec >= 1000000000L) {
    ++when.tv_sec;
    when.tv_nsec -= 1000000000L;
  }
  // An absolute sleep taken up again after a signal ends at the same moment.
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) == EINTR) {
  }
}

}  // namespace drec
