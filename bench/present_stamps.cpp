// present_stamps: a library to preload (LD_PRELOAD) into a program that
// presents through SDL_GL_SwapWindow. It hands every call on to SDL and
// time-stamps it from the outside of the program: CLOCK_MONOTONIC when the
// call came and when it returned, and the process's CPU time (all threads)
// at the return. At exit it writes one line per call,
//   return_ns entry_ns cpu_ns
// to the file that DREC_PRESENT_STAMPS names (nothing without it, or when no
// call came). The stamps go into a fixed buffer: nothing is allocated per
// call; calls past its end are counted but not kept.
#include <dlfcn.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

struct Stamp {
  int64_t returned;
  int64_t entered;
  int64_t cpu;
};

constexpr size_t kCapacity = 1 << 16;
Stamp stamps[kCapacity];
size_t calls = 0;
void (*realSwap)(void*) = nullptr;

int64_t nanoseconds(clockid_t clock) {
  timespec now;
  clock_gettime(clock, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

__attribute__((destructor)) void writeStamps() {
  const char* path = std::getenv("DREC_PRESENT_STAMPS");
  if (!path || !*path || calls == 0) return;
  std::FILE* file = std::fopen(path, "w");
  if (!file) {
    std::fprintf(stderr, "present_stamps: cannot write '%s'\n", path);
    return;
  }
  const size_t kept = calls < kCapacity ? calls : kCapacity;
  for (size_t i = 0; i < kept; ++i)
    std::fprintf(file, "%lld %lld %lld\n", static_cast<long long>(stamps[i].returned),
                 static_cast<long long>(stamps[i].entered), static_cast<long long>(stamps[i].cpu));
  if (calls > kept) std::fprintf(stderr, "present_stamps: %zu calls not kept\n", calls - kept);
  std::fclose(file);
}

}  // namespace

// SDL's own declaration takes an SDL_Window*; the pointer is only handed on.
extern "C" __attribute__((visibility("default"))) void SDL_GL_SwapWindow(void* window) {
  const int64_t entered = nanoseconds(CLOCK_MONOTONIC);
  if (!realSwap) realSwap = reinterpret_cast<void (*)(void*)>(dlsym(RTLD_NEXT, "SDL_GL_SwapWindow"));
  if (realSwap) realSwap(window);
  if (calls < kCapacity)
    stamps[calls] = Stamp{nanoseconds(CLOCK_MONOTONIC), entered, nanoseconds(CLOCK_PROCESS_CPUTIME_ID)};
  ++calls;
}
