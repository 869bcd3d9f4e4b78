// The dependency horizon of each frame: the earliest frame whose drawing can
// still show in its picture. A pixel shows what was drawn on it since the
// last triangle that wrote it with blending off (which replaces whatever was
// there), or, if none ever did, since the first triangle that touched it
// (before, it held the cleared black); a pixel never touched constrains
// nothing. Drawing frames horizon to N over a cleared picture, starting with
// the blend state in force at the horizon, gives exactly the picture of N.
//
// Each pixel's frame is kept per row as runs of equal frames. A frame's
// triangles only collect spans per row (written, touched); at the frame's end
// the spans are merged into the runs. Written pixels are those the GL lights
// (see render/coverage.hpp) when the start-up check agreed with it, and the
// same shrunk by a pixel otherwise; touched ones are grown by a pixel (or the
// landing box, for a triangle the GL clips), so the horizon is never later
// than the truth. Whatever does not fit the fixed buffers is merged towards
// earlier frames, never later.
#pragma once
#include <cstdint>
#include <vector>

#include "render/coverage.hpp"
#include "render/triangles.hpp"

namespace drec {

constexpr int kHorizonRunsPerRow = 48;
constexpr int kHorizonSpansPerRow = 32;

// Pixels up to `end` (from the previous run's end) depend on `frame`.
struct HorizonRun {
  int end;
  int64_t frame;  // kUntouchedFrame: no triangle has touched them
};
constexpr int64_t kUntouchedFrame = INT64_MAX;

struct HorizonTracker {
  CoverageSetup coverage;
  bool exactCoverage;
  int width;
  int height;
  std::vector<HorizonRun> runs;         // height rows of kHorizonRunsPerRow
  std::vector<int> runCounts;           // per row
  std::vector<int64_t> rowEarliest;     // per row: the earliest frame of its touched runs
  std::vector<PixelSpan> writtenSpans;  // this frame's, height rows of kHorizonSpansPerRow
  std::vector<int> writtenCounts;
  std::vector<PixelSpan> touchedSpans;
  std::vector<int> touchedCounts;
  std::vector<int> changedRows;  // rows with spans this frame, each once
  std::vector<HorizonRun> rowScratch;
  int changedCount;
};

// Allocates everything for the renderer's picture size. With exactCoverage
// (coverageAgreesWithGl said so for `rules`) opaque triangles write exactly
// the GL's pixels; otherwise margins are kept.
void startHorizonTracker(HorizonTracker& tracker, const TriangleRenderer& renderer, bool exactCoverage,
                         const CoverageRules& rules);
// A new reading from frame 0 over the cleared picture.
void resetHorizonTracker(HorizonTracker& tracker);
// One triangle record of the frame in progress, in drawing order. `opaque`:
// the blend state in force for it is off (mode 0, or modes 3 to 7 while mode
// 0's state is in force); the caller follows the blend state.
void addHorizonTriangle(HorizonTracker& tracker, const uint8_t* record, bool opaque);
// After the last record of `frame` (frames come in order, from 0): its
// horizon, at most `frame` and never later than the truth. Non-decreasing.
int64_t endHorizonFrame(HorizonTracker& tracker, int64_t frame);

}  // namespace drec
