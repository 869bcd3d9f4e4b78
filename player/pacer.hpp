// FramePacer: presents each frame at its recorded time.
//
// A mark with time stamp ts is due at startTime + ts. At each mark the frame
// drawn since the previous one is presented (unless it is being dropped), and
// playback waits until the mark's due time in sleeps of whole milliseconds,
// polling for quit (Escape held, or the window's close request) before and
// after every sleep. Late frames are dropped; more than half a second late
// moves the time base; a pause of a quarter second or more is cut short.
//
// The rules are apart from the waiting, so that any playback (with its own
// clock, waiting, keys and speed) paces frames the same way; onFrameMark is
// the player's own waiting around them.
#pragma once
#include <cstdint>

#include "platform/services.hpp"

namespace drec {

constexpr double kResyncThreshold = -0.5;  // seconds late before the time base moves
constexpr double kPauseThreshold = 0.25;   // a longer wait is a pause, cut to this much
constexpr int64_t kPauseSleepMs = 230;     // the sleep taken for a pause

struct FramePacer {
  double startTime;  // clock reading that corresponds to recording time 0
  double waitTime;   // from the clock reading at the current mark to its due time
  bool skipPresent;  // the frame after the current mark is dropped
};

// The rules of one mark, in the order they apply:
// 1. Whether the frame drawn since the last mark is presented; clears a drop.
bool presentsFrame(FramePacer& pacer);
// 2. With the clock read after that present: sets waitTime to the time left
//    until the mark is due. True when the time base must move (more than
//    half a second late, or a wait that is not finite).
bool timeMark(FramePacer& pacer, double now, double timeStamp);
// 3. Moves the time base so that the mark counts as due at `now` (a fresh
//    clock reading).
void moveTimeBase(FramePacer& pacer, double now, double timeStamp);
// 4. Late (or not finite): no wait, and the next frame is dropped.
void dropIfLate(FramePacer& pacer);
// 5. The wait: a pause to cut short (cutPause, after the pause sleep), or a
//    sleep of waitMilliseconds.
bool waitIsPause(const FramePacer& pacer);
// waitTime in whole milliseconds, halves to the even neighbour.
int64_t waitMilliseconds(const FramePacer& pacer);
// Moves the time base so that the mark counts as due kPauseThreshold after
// the reading of step 2; the wait becomes 0.
void cutPause(FramePacer& pacer);

enum class PaceResult { Continue, Quit };

// Presents once (the cleared screen), then starts the clock.
void startPacing(FramePacer& pacer, const PlaybackServices& services);
// The rules above with the player's presents, sleeps and quit polls.
PaceResult onFrameMark(FramePacer& pacer, const PlaybackServices& services, float timeStamp);

}  // namespace drec
