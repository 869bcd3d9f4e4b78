// The parts of bench, export, hash and verify that need neither a recording
// nor OpenGL: frame lists and ranges, the fixed-rate image clock of
// `export --fps`, frame-time statistics and the pixel hash.
//
// Frame n is the frame that the (n+1)-th frame mark closes, as everywhere in
// the tool.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "player/pacer.hpp"

namespace drec {

// Frames first to last, both included.
struct FrameRange {
  int64_t first;
  int64_t last;  // kToLastFrame: up to the recording's last frame
};
constexpr int64_t kToLastFrame = INT64_MAX;

// "A-B" (A <= B), "A" alone, or "A-" (A to the last frame); whole decimal
// numbers of 0 or more. False with the reason in `error`.
bool parseFrameRange(const char* text, FrameRange& range, std::string& error);
// Ranges separated by commas, e.g. "0,100-105".
bool parseFrameList(const char* text, std::vector<FrameRange>& ranges, std::string& error);
bool frameInList(const std::vector<FrameRange>& ranges, int64_t frame);
// The highest frame the list names (kToLastFrame when a range is open).
int64_t lastListedFrame(const std::vector<FrameRange>& ranges);
// The frames of the list that a recording of `frames` frames does not have,
// written as a list ("1500-1600,2000"), or "" when it has them all. An open
// range "A-" needs frame A alone.
std::string framesNotIn(const std::vector<FrameRange>& ranges, int64_t frames);
// The one rule of every subcommand that takes frames, checked before
// anything is drawn: "" when `recordingName` (of `frames` frames) has every
// frame the list names, otherwise the usage problem, e.g.
// "'run.%i.rec' has 1500 frames (0 to 1499): no frame 1600".
std::string frameListProblem(const std::vector<FrameRange>& ranges, int64_t frames,
                             const std::string& recordingName);


// The clock of a fixed-rate image sequence. Image k is due at k / rate
// seconds of a virtual clock on which frame 0 stands at 0 and every later
// frame follows the one before it by the difference of their recorded times,
// the way the player paces them when it drops nothing: a gap of a quarter
// second or more counts as a quarter second (the player cuts such a pause
// short), a gap that goes backwards or is not a number counts as 0, and the
// gap after a time stamp that is not finite is taken from the last finite
// one (recording time 0 before the first). An image shows the last frame due
// at or before its time (a frame due less than kImageTimeSlack after it
// counts: recorded times are 32-bit floats); the last frame is shown for one
// image interval.
//
// Keeping pauses (`drec video --recorded-time`), a gap counts at its full
// recorded length instead; one that goes backwards still counts as 0, and
// one that is not finite (after an infinite stamp) as a quarter second.
constexpr double kImageTimeSlack = 0.00025;  // seconds
constexpr double kMaxImageRate = 1000.0;     // images per second; the slack must stay far below 1 / rate

struct ImageClock {
  double rate;       // images per second
  bool keepPauses;   // gaps at their recorded length, not cut to a quarter second
  double frameTime;  // virtual time of the latest frame
  float lastStamp;   // the latest finite recorded time (0 before one)
  int64_t frames;    // frames met so far
  int64_t nextImage;
};

void startImageClock(ImageClock& clock, double rate, bool keepPauses = false);
// The virtual time between two consecutive frames with these recorded times.
double frameGap(float previousStamp, float stamp, bool keepPauses = false);
// A frame with this recorded time arrives: returns how many images (the next
// ones in order) show the frame before it. 0 for the first frame.
int64_t imagesBeforeFrame(ImageClock& clock, float stamp);
// After the last frame: how many more images show it.
int64_t imagesOfLastFrame(ImageClock& clock);


// Frame times summed up. Percentiles by nearest rank: the p-th is the
// smallest time with at least p % of all times at or below it.
struct FrameTimeStats {
  int64_t frames;
  double seconds;  // the frame times added up
  double framesPerSecond;
  double minMs;
  double meanMs;
  double p50Ms;
  double p95Ms;
  double p99Ms;
  double maxMs;
};
// Sorts `frameSeconds` in place. All zero when it is empty.
FrameTimeStats frameTimeStats(std::vector<double>& frameSeconds);
// The p-th percentile (1 to 100) of sorted values by nearest rank.
double nearestRank(const std::vector<double>& sorted, int percent);


// 64-bit FNV-1a, continued from `hash` (start with kFnv1a64Offset).
constexpr uint64_t kFnv1a64Offset = 0xcbf29ce484222325ull;
constexpr uint64_t kFnv1a64Prime = 0x100000001b3ull;
uint64_t fnv1a64(const uint8_t* bytes, size_t count, uint64_t hash = kFnv1a64Offset);

}  // namespace drec
