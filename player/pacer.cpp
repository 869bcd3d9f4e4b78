#include "player/pacer.hpp"

#include <cmath>
#include <cstdint>

namespace drec {
namespace {

constexpr double kResyncThreshold = -0.5;  // seconds late before the time base moves
constexpr double kPauseThreshold = 0.25;   // a longer wait is a pause, cut to this much
constexpr int64_t kPauseSleepMs = 230;

// Rounds to the nearest integer, halves to the even neighbour, whatever the
// floating-point rounding mode is. Only called with 0 <= value <= 250.
int64_t roundHalfEven(double value) {
  double whole = std::floor(value);
  double fraction = value - whole;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
  return static_cast<int64_t>(whole);
}

// Escape held, or the window's close request taken from the key buffer. Any
// other key taken here is lost, one per poll.
bool quitRequested(const PlaybackServices& services) {
  if (services.keyHeld(services.context, kScanCodeEscape)) return true;
  return isCloseRequest(services.nextKey(services.context));
}

}  // namespace

void startPacing(FramePacer& pacer, const PlaybackServices& services) {
  services.present(services.context);
  pacer.startTime = services.clock(services.context);
  pacer.waitTime = 0.0;
  pacer.skipPresent = false;
}

PaceResult onFrameMark(FramePacer& pacer, const PlaybackServices& services, float timeStamp) {
  const double ts = timeStamp;
  if (pacer.skipPresent) {
    pacer.skipPresent = false;
  } else {
    services.present(services.context);
  }

  const double now = services.clock(services.context);
  pacer.waitTime = (ts - now) + pacer.startTime;

  // The comparisons are written as "not at least" so that a wait that is not
  // a number takes both late branches. An infinite wait (from an infinite
  // time stamp, or a time base made infinite by one) is handled the same way:
  // it would otherwise reach the pause branch, whose subtraction has no finite
  // result. So such a mark sleeps 0 ms, drops the next frame and sets the
  // time base afresh, which becomes finite again at the next finite mark.
  const bool finiteWait = std::isfinite(pacer.waitTime);
  if (!(pacer.waitTime >= kResyncThreshold) || !finiteWait) {
    pacer.startTime = services.clock(services.context) - ts;
  }
  if (!(pacer.waitTime >= 0.0) || !finiteWait) {
    pacer.waitTime = 0.0;
    pacer.skipPresent = true;
  }

  for (;;) {
    if (quitRequested(services)) return PaceResult::Quit;
    if (pacer.waitTime < kPauseThreshold) {
      services.sleep(services.context, roundHalfEven(pacer.waitTime * 1000.0));
      return quitRequested(services) ? PaceResult::Quit : PaceResult::Continue;
    }
    // A pause in the recording: show the frame a little longer, then move the
    // time base so that this mark counts as due a quarter second after now.
    services.sleep(services.context, kPauseSleepMs);
    services.present(services.context);
    pacer.startTime -= pacer.waitTime - kPauseThreshold;
    pacer.waitTime = 0.0;
  }
}

}  // namespace drec
