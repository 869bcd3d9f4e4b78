// The clocks and the timing report of drec play, apart from any window so
// that tests can drive them with made-up times.
//
// The pacer's rules run on a play clock in recorded seconds: it runs at
// `speed` times the wall clock and stands still while paused, so a pause of
// the playback moves nothing that the pacer sees, and a frame's wall time
// is its recorded time divided by the speed.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace drec {

constexpr double kSlowestSpeed = 1.0 / 16.0;
constexpr double kFastestSpeed = 16.0;

struct PlayClock {
  double wallAnchor;  // wall clock at the last start, pause, resume or speed change
  double playAnchor;  // the play clock at that moment
  double speed;
  bool paused;
};

void startPlayClock(PlayClock& clock, double wallNow, double speed);
double playTime(const PlayClock& clock, double wallNow);
// When the play clock reads `time`; +infinity while paused.
double wallTimeOf(const PlayClock& clock, double time);
void setPlayPaused(PlayClock& clock, double wallNow, bool paused);
void setPlaySpeed(PlayClock& clock, double wallNow, double speed);
// Half or double the speed (`faster`), kept between the slowest and the fastest.
double nextSpeed(double speed, bool faster);
// "1/4", "1", "16", or "0.7" for a speed given on the command line.
std::string speedText(double speed);


// One row per frame: when its present was due and when it came, on the wall
// clock in seconds from the start of playback. A frame is presented at its
// mark and then held until the mark's due time, so the present of frame N
// is due when the wait of mark N - 1 ends.
struct FrameTiming {
  int64_t frame;
  float recordedTime;
  double due;
  double present;      // when the swap returned; not set when dropped
  bool dropped;
  bool afterBreak;  // paused, stepped, restarted or sped up just before: no interval counted
};

struct TimingReport {
  std::vector<FrameTiming> frames;  // reserved up front; rows past its capacity are not kept
  int64_t presented;
  int64_t dropped;
  int64_t pausesCut;
  double pauseSecondsRemoved;  // recorded seconds left out
  int64_t timeBaseMoves;
};

void startTimingReport(TimingReport& report, int64_t rows);
void addFrameTiming(TimingReport& report, const FrameTiming& row);

struct MillisecondSpread {
  int64_t count;
  double p50;
  double p95;
  double p99;
  double max;
};
// Lateness of each present against its due time, and the error of each
// interval between two presents in a row against the interval between
// their due times (absolute values), in milliseconds.
MillisecondSpread presentLateness(const TimingReport& report);
MillisecondSpread intervalError(const TimingReport& report);

// The lines --report prints: frames presented and dropped, pauses cut,
// time-base moves, lateness and interval error, CPU time over wall time.
std::string timingReportText(const TimingReport& report, double cpuSeconds, double wallSeconds);
// "frame,recorded_time,due,present,dropped" and one row per frame; the
// present is blank for a dropped frame.
std::string timingReportCsv(const TimingReport& report);

}  // namespace drec
