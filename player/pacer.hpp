// FramePacer: presents each frame at its recorded time.
//
// A mark with time stamp ts is due at startTime + ts. At each mark the frame
// drawn since the previous one is presented (unless it is being dropped), and
// playback waits until the mark's due time in sleeps of whole milliseconds,
// polling for quit (Escape held, or the window's close request) before and
// after every sleep. Late frames are dropped; more than half a second late
// moves the time base; a pause of a quarter second or more is cut short.
#pragma once
#include "player/services.hpp"

namespace drec {

struct FramePacer {
  double startTime;  // clock reading that corresponds to recording time 0
  double waitTime;   // from the clock reading at the current mark to its due time
  bool skipPresent;  // the frame after the current mark is dropped
};

enum class PaceResult { Continue, Quit };

// Presents once (the cleared screen), then starts the clock.
void startPacing(FramePacer& pacer, const PlaybackServices& services);
PaceResult onFrameMark(FramePacer& pacer, const PlaybackServices& services, float timeStamp);

}  // namespace drec
