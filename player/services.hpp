// What playback needs from the outside world, as one small table, so that
// tests and fuzzers can drive the player with a fake clock and fake keys.
#pragma once
#include <cstdint>

#include "platform/keys.hpp"

namespace drec {

struct PlaybackServices {
  void* context;
  double (*clock)(void* context);                     // seconds, monotonic
  void (*sleep)(void* context, int64_t milliseconds);  // plain sleep
  void (*present)(void* context);                     // swap, then handle window events
  bool (*keyHeld)(void* context, int scanCode);
  KeyEntry (*nextKey)(void* context);  // length 0 when the buffer is empty
};

}  // namespace drec
