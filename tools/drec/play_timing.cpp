#include "tools/drec/play_timing.hpp"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <limits>

#include "tools/drec/frame_plan.hpp"
#include "tools/drec/output.hpp"

namespace drec {

void startPlayClock(PlayClock& clock, double wallNow, double speed) {
  clock = PlayClock{wallNow, 0.0, speed, false};
}

double playTime(const PlayClock& clock, double wallNow) {
  if (clock.paused) return clock.playAnchor;
  return clock.playAnchor + (wallNow - clock.wallAnchor) * clock.speed;
}

double wallTimeOf(const PlayClock& clock, double time) {
  if (clock.paused) return std::numeric_limits<double>::infinity();
  return clock.wallAnchor + (time - clock.playAnchor) / clock.speed;
}

void setPlayPaused(PlayClock& clock, double wallNow, bool paused) {
  if (paused == clock.paused) return;
  clock.playAnchor = playTime(clock, wallNow);
  clock.wallAnchor = wallNow;
  clock.paused = paused;
}

void setPlaySpeed(PlayClock& clock, double wallNow, double speed) {
  clock.playAnchor = playTime(clock, wallNow);
  clock.wallAnchor = wallNow;
  clock.speed = std::clamp(speed, kSlowestSpeed, kFastestSpeed);
}

double nextSpeed(double speed, bool faster) {
  return std::clamp(faster ? speed * 2.0 : speed / 2.0, kSlowestSpeed, kFastestSpeed);
}

std::string speedText(double speed) {
  std::string text;
  const double inverse = 1.0 / speed;
  if (speed < 1.0 && inverse == std::floor(inverse))
    appendFormat(text, "1/%.0f", inverse);
  else
    appendFormat(text, "%g", speed);
  return text;
}


void startTimingReport(TimingReport& report, int64_t rows) {
  report = TimingReport{};
  report.frames.reserve(static_cast<size_t>(std::max<int64_t>(rows, 1)));
}

void addFrameTiming(TimingReport& report, const FrameTiming& row) {
  if (row.dropped)
    ++report.dropped;
  else
    ++report.presented;
  if (report.frames.size() < report.frames.capacity()) report.frames.push_back(row);
}

namespace {

MillisecondSpread spreadOf(std::vector<double>& milliseconds) {
  MillisecondSpread spread{};
  spread.count = static_cast<int64_t>(milliseconds.size());
  if (milliseconds.empty()) return spread;
  std::sort(milliseconds.begin(), milliseconds.end());
  spread.p50 = nearestRank(milliseconds, 50);
  spread.p95 = nearestRank(milliseconds, 95);
  spread.p99 = nearestRank(milliseconds, 99);
  spread.max = milliseconds.back();
  return spread;
}

}  // namespace

MillisecondSpread presentLateness(const TimingReport& report) {
  std::vector<double> lateness;
  for (const FrameTiming& row : report.frames)
    if (!row.dropped && !row.afterBreak) lateness.push_back((row.present - row.due) * 1000.0);
  return spreadOf(lateness);
}

MillisecondSpread intervalError(const TimingReport& report) {
  std::vector<double> errors;
  for (size_t i = 1; i < report.frames.size(); ++i) {
    const FrameTiming& before = report.frames[i - 1];
    const FrameTiming& row = report.frames[i];
    if (row.dropped || before.dropped || row.afterBreak || row.frame != before.frame + 1) continue;
    const double interval = row.present - before.present;
    errors.push_back(std::fabs(interval - (row.due - before.due)) * 1000.0);
  }
  return spreadOf(errors);
}

std::string timingReportText(const TimingReport& report, double cpuSeconds, double wallSeconds) {
  std::string text;
  appendFormat(text, "frames presented %" PRId64 ", dropped %" PRId64 "\n", report.presented,
               report.dropped);
  appendFormat(text, "pauses cut       %" PRId64 " (%.3f recorded s left out)\n", report.pausesCut,
               report.pauseSecondsRemoved);
  appendFormat(text, "time-base moves  %" PRId64 "\n", report.timeBaseMoves);
  const auto spreadLine = [&](const char* label, const MillisecondSpread& spread) {
    appendFormat(text, "%s p50 %.3f  p95 %.3f  p99 %.3f  max %.3f ms (%" PRId64 ")\n", label,
                 spread.p50, spread.p95, spread.p99, spread.max, spread.count);
  };
  spreadLine("lateness        ", presentLateness(report));
  spreadLine("interval error  ", intervalError(report));
  appendFormat(text, "cpu / wall       %.3f (%.2f of %.2f s)\n",
               wallSeconds > 0 ? cpuSeconds / wallSeconds : 0.0, cpuSeconds, wallSeconds);
  return text;
}

std::string timingReportCsv(const TimingReport& report) {
  std::string text = "frame,recorded_time,due,present,dropped\n";
  for (const FrameTiming& row : report.frames) {
    appendFormat(text, "%" PRId64 ",%.9g,%.6f,", row.frame, static_cast<double>(row.recordedTime),
                 row.due);
    if (!row.dropped) appendFormat(text, "%.6f", row.present);
    text += row.dropped ? ",1\n" : ",0\n";
  }
  return text;
}

}  // namespace drec
