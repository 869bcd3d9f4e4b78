// bare_sleeper: the floor of absolute-deadline sleeping on this machine.
//
// Reads recorded time stamps (one a line, in seconds, as pacing_recording
// writes them), reads the clock once as the start, and wakes at start + each
// time stamp with clock_nanosleep(TIMER_ABSTIME) on CLOCK_MONOTONIC, doing
// nothing else. It writes the start and every wake in the format of
// present_stamps (return_ns entry_ns cpu_ns; entry = return here): the start
// stands where a player's first frame is presented, and the wake at time
// stamp N where the present of frame N + 1 is due.
//
// Usage: bare_sleeper TIMES OUT
#include <time.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

int64_t nanoseconds(clockid_t clock) {
  timespec now;
  clock_gettime(clock, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

struct Wake {
  int64_t at;
  int64_t cpu;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bare_sleeper TIMES OUT\n");
    return 2;
  }
  std::FILE* input = std::fopen(argv[1], "r");
  if (!input) {
    std::fprintf(stderr, "bare_sleeper: cannot open '%s'\n", argv[1]);
    return 2;
  }
  std::vector<double> times;
  double time = 0.0;
  while (std::fscanf(input, "%lf", &time) == 1) times.push_back(time);
  std::fclose(input);
  // The last time stamp ends the run: its wake stands for no present.
  if (!times.empty()) times.pop_back();

  std::vector<Wake> wakes;
  wakes.reserve(times.size() + 1);
  const int64_t start = nanoseconds(CLOCK_MONOTONIC);
  wakes.push_back(Wake{start, nanoseconds(CLOCK_PROCESS_CPUTIME_ID)});
  for (double stamp : times) {
    const int64_t due = start + static_cast<int64_t>(stamp * 1e9 + 0.5);
    const timespec when{static_cast<time_t>(due / 1000000000), static_cast<long>(due % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) == EINTR) {
    }
    wakes.push_back(Wake{nanoseconds(CLOCK_MONOTONIC), nanoseconds(CLOCK_PROCESS_CPUTIME_ID)});
  }

  std::FILE* output = std::fopen(argv[2], "w");
  if (!output) {
    std::fprintf(stderr, "bare_sleeper: cannot write '%s'\n", argv[2]);
    return 1;
  }
  for (const Wake& wake : wakes)
    std::fprintf(output, "%lld %lld %lld\n", static_cast<long long>(wake.at),
                 static_cast<long long>(wake.at), static_cast<long long>(wake.cpu));
  return std::fclose(output) == 0 ? 0 : 1;
}
