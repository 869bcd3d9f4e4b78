#include "player/pacer.hpp"

#include <cmath>

namespace drec {
namespace {

// Rounds to the nearest integer, halves to the even neighbour, whatever the
// floating-point rounding mode is. Only called with 0 <= value <= 250.
int64_t roundHalfEven(double value) {
  double whole = std::floor(value);
  double fraction = value - whole;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
  return static_cast<int64_t>(whole);
}

}  // namespace

bool presentsFrame(FramePacer& pacer) {
  const bool presents = !pacer.skipPresent;
  pacer.skipPresent = false;
  return presents;
}

// The comparisons are written as "not at least" so that a wait that is not a
// number takes both late branches. An infinite wait (from an infinite time
// stamp, or a time base made infinite by one) is handled the same way: it
// would otherwise reach the pause branch, whose subtraction has no finite
// result. So such a mark sleeps 0 ms, drops the next frame and sets the time
// base afresh, which becomes finite again at the next finite mark.
bool timeMark(FramePacer& pacer, double now, double timeStamp) {
  pacer.waitTime = (timeStamp - now) + pacer.startTime;
  return !(pacer.waitTime >= kResyncThreshold) || !std::isfinite(pacer.waitTime);
}

void moveTimeBase(FramePacer& pacer, double now, double timeStamp) {
  pacer.startTime = now - timeStamp;
}

void dropIfLate(FramePacer& pacer) {
  if (!(pacer.waitTime >= 0.0) || !std::isfinite(pacer.waitTime)) {
    pacer.waitTime = 0.0;
    pacer.skipPresent = true;
  }
}

bool waitIsPause(const FramePacer& pacer) { return pacer.waitTime >= kPauseThreshold; }

int64_t waitMilliseconds(const FramePacer& pacer) { return roundHalfEven(pacer.waitTime * 1000.0); }

void cutPause(FramePacer& pacer) {
  pacer.startTime -= pacer.waitTime - kPauseThreshold;
  pacer.waitTime = 0.0;
}

void startPacing(FramePacer& pacer, const PlaybackServices& services) {
  services.present(services.context);
  pacer.startTime = services.clock(services.context);
  pacer.waitTime = 0.0;
  pacer.skipPresent = false;
}

PaceResult onFrameMark(FramePacer& pacer, const PlaybackServices& services, float timeStamp) {
  const double ts = timeStamp;
  if (presentsFrame(pacer)) services.present(services.context);
  if (timeMark(pacer, services.clock(services.context), ts))
    moveTimeBase(pacer, services.clock(services.context), ts);
  dropIfLate(pacer);

  for (;;) {
    if (quitRequested(services)) return PaceResult::Quit;
    if (!waitIsPause(pacer)) {
      services.sleep(services.context, waitMilliseconds(pacer));
      return quitRequested(services) ? PaceResult::Quit : PaceResult::Continue;
    }
    // A pause in the recording: show the frame a little longer, then move the
    // time base so that this mark counts as due a quarter second after now.
    services.sleep(services.context, kPauseSleepMs);
    services.present(services.context);
    cutPause(pacer);
  }
}

}  // namespace drec
