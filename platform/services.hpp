// What playback needs from the outside world, as one table with one context:
// the clock, sleeping, presenting and the keyboard, opening the display, the
// console key wait and whether a key can ever arrive. The real table is made
// beside the display code (platform/window_services.hpp); tests and fuzzers
// fill one with a fake clock and fake keys.
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
  // Opens the window at the recorded size; the player does not look at the result.
  bool (*openDisplay)(void* context, int width, int height);
  // Waits for a key on the console, before any window exists.
  void (*consoleKeyWait)(void* context);
  // False when no key can ever arrive (no window and no terminal): a wait
  // for a key then ends at once instead of hanging.
  bool (*keyCanArrive)(void* context);
};

// Escape held, or the window's close request taken from the key buffer. Any
// other key taken here is lost, one per poll.
inline bool quitRequested(const PlaybackServices& services) {
  if (services.keyHeld(services.context, kScanCodeEscape)) return true;
  return isCloseRequest(services.nextKey(services.context));
}

}  // namespace drec
