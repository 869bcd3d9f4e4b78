#include "tools/drec/frame_plan.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace drec {
namespace {

// Plain decimal digits, at most 18 of them, from `text` up to `end`.
bool parseFrameNumber(const char* text, const char* end, int64_t& number) {
  if (text == end || end - text > 18) return false;
  number = 0;
  for (const char* c = text; c != end; ++c) {
    if (*c < '0' || *c > '9') return false;
    number = number * 10 + (*c - '0');
  }
  return true;
}

bool parseRangeText(const char* text, const char* end, FrameRange& range, std::string& error) {
  const std::string shown(text, end);
  const char* dash = std::find(text, end, '-');
  if (!parseFrameNumber(text, dash, range.first)) {
    error = "'" + shown + "' is not a frame number or range A-B";
    return false;
  }
  if (dash == end) {
    range.last = range.first;
    return true;
  }
  if (dash + 1 == end) {
    range.last = kToLastFrame;
    return true;
  }
  if (!parseFrameNumber(dash + 1, end, range.last)) {
    error = "'" + shown + "' is not a frame number or range A-B";
    return false;
  }
  if (range.last < range.first) {
    error = "'" + shown + "' ends before it starts";
    return false;
  }
  return true;
}

}  // namespace

bool parseFrameRange(const char* text, FrameRange& range, std::string& error) {
  return parseRangeText(text, text + std::strlen(text), range, error);
}

bool parseFrameList(const char* text, std::vector<FrameRange>& ranges, std::string& error) {
  ranges.clear();
  const char* end = text + std::strlen(text);
  const char* start = text;
  while (true) {
    const char* comma = std::find(start, end, ',');
    FrameRange range{};
    if (!parseRangeText(start, comma, range, error)) return false;
    ranges.push_back(range);
    if (comma == end) return true;
    start = comma + 1;
  }
}

bool frameInList(const std::vector<FrameRange>& ranges, int64_t frame) {
  for (const FrameRange& range : ranges)
    if (frame >= range.first && frame <= range.last) return true;
  return false;
}

int64_t lastListedFrame(const std::vector<FrameRange>& ranges) {
  int64_t last = -1;
  for (const FrameRange& range : ranges) last = std::max(last, range.last);
  return last;
}

std::string framesNotIn(const std::vector<FrameRange>& ranges, int64_t frames) {
  std::string missing;
  for (const FrameRange& range : ranges) {
    const bool open = range.last == kToLastFrame;
    if (open ? range.first < frames : range.last < frames) continue;
    if (!missing.empty()) missing += ',';
    const int64_t from = std::max(range.first, frames);
    missing += std::to_string(from);
    if (open) {
      missing += '-';
    } else if (range.last > from) {
      missing += '-';
      missing += std::to_string(range.last);
    }
  }
  return missing;
}

std::string frameListProblem(const std::vector<FrameRange>& ranges, int64_t frames,
                             const std::string& recordingName) {
  const std::string missing = framesNotIn(ranges, frames);
  if (missing.empty()) return missing;
  std::string problem = "'" + recordingName + "' has " + std::to_string(frames) +
                        (frames == 1 ? " frame" : " frames");
  if (frames > 0) {
    problem += " (0 to ";
    problem += std::to_string(frames - 1);
    problem += ')';
  }
  return problem + ": no frame " + missing;
}


void startImageClock(ImageClock& clock, double rate, bool keepPauses) {
  clock = ImageClock{rate, keepPauses, 0.0, 0.0f, 0, 0};
}

double frameGap(float previousStamp, float stamp, bool keepPauses) {
  const double gap = static_cast<double>(stamp) - static_cast<double>(previousStamp);
  if (std::isnan(gap) || gap < 0.0) return 0.0;
  if (keepPauses && std::isfinite(gap)) return gap;
  return std::min(gap, kPauseThreshold);
}

namespace {

double imageTime(const ImageClock& clock, int64_t image) {
  return static_cast<double>(image) / clock.rate;
}

// Counts and passes the images due before `time` (less the slack).
int64_t imagesBefore(ImageClock& clock, double time) {
  int64_t count = 0;
  while (imageTime(clock, clock.nextImage) + kImageTimeSlack < time) {
    ++clock.nextImage;
    ++count;
  }
  return count;
}

}  // namespace

int64_t imagesBeforeFrame(ImageClock& clock, float stamp) {
  int64_t count = 0;
  if (clock.frames > 0) {
    const double time = clock.frameTime + frameGap(clock.lastStamp, stamp, clock.keepPauses);
    count = imagesBefore(clock, time);
    clock.frameTime = time;
  }
  if (std::isfinite(stamp)) clock.lastStamp = stamp;
  ++clock.frames;
  return count;
}

int64_t imagesOfLastFrame(ImageClock& clock) {
  if (clock.frames == 0) return 0;
  return imagesBefore(clock, clock.frameTime + 1.0 / clock.rate);
}


double nearestRank(const std::vector<double>& sorted, int percent) {
  if (sorted.empty()) return 0.0;
  const size_t count = sorted.size();
  size_t rank = (static_cast<size_t>(percent) * count + 99) / 100;  // ceil(p n / 100)
  rank = std::clamp<size_t>(rank, 1, count);
  return sorted[rank - 1];
}

FrameTimeStats frameTimeStats(std::vector<double>& frameSeconds) {
  FrameTimeStats stats{};
  if (frameSeconds.empty()) return stats;
  std::sort(frameSeconds.begin(), frameSeconds.end());
  double total = 0.0;
  for (double seconds : frameSeconds) total += seconds;
  stats.frames = static_cast<int64_t>(frameSeconds.size());
  stats.seconds = total;
  stats.framesPerSecond = total > 0.0 ? static_cast<double>(stats.frames) / total : 0.0;
  stats.minMs = frameSeconds.front() * 1000.0;
  stats.meanMs = total / static_cast<double>(stats.frames) * 1000.0;
  stats.p50Ms = nearestRank(frameSeconds, 50) * 1000.0;
  stats.p95Ms = nearestRank(frameSeconds, 95) * 1000.0;
  stats.p99Ms = nearestRank(frameSeconds, 99) * 1000.0;
  stats.maxMs = frameSeconds.back() * 1000.0;
  return stats;
}


uint64_t fnv1a64(const uint8_t* bytes, size_t count, uint64_t hash) {
  for (size_t i = 0; i < count; ++i) {
    hash ^= bytes[i];
    hash *= kFnv1a64Prime;
  }
  return hash;
}

}  // namespace drec
