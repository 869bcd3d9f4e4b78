#include "render/horizon.hpp"

#include <algorithm>

namespace drec {
namespace {

// Sorted by first pixel, overlapping and touching spans joined.
void coalesceSpans(PixelSpan* spans, int& count) {
  for (int i = 1; i < count; ++i) {
    const PixelSpan moving = spans[i];
    int j = i;
    for (; j > 0 && spans[j - 1].first > moving.first; --j) spans[j] = spans[j - 1];
    spans[j] = moving;
  }
  int joined = 0;
  for (int i = 0; i < count; ++i) {
    if (joined > 0 && spans[i].first <= spans[joined - 1].end) {
      spans[joined - 1].end = std::max(spans[joined - 1].end, spans[i].end);
    } else {
      spans[joined++] = spans[i];
    }
  }
  count = joined;
}

void noteChangedRow(HorizonTracker& tracker, int row) {
  if (tracker.writtenCounts[row] == 0 && tracker.touchedCounts[row] == 0)
    tracker.changedRows[tracker.changedCount++] = row;
}

void addTouchedSpan(HorizonTracker& tracker, int row, PixelSpan span) {
  // Nothing lands beyond the recorded screen: a margin must not spill there,
  // where no later triangle would ever write it again.
  const PixelBox& reach = tracker.coverage.reach;
  if (row < reach.y0 || row >= reach.y1) return;
  span.first = std::max({span.first, 0, reach.x0});
  span.end = std::min({span.end, tracker.width, reach.x1});
  if (span.first >= span.end) return;
  noteChangedRow(tracker, row);
  PixelSpan* spans = tracker.touchedSpans.data() + static_cast<size_t>(row) * kHorizonSpansPerRow;
  int& count = tracker.touchedCounts[row];
  if (count == kHorizonSpansPerRow) coalesceSpans(spans, count);
  if (count == kHorizonSpansPerRow) {
    // Touched may be over-counted: the span joins the one it lies nearest to.
    int nearest = 0;
    int nearestGap = INT32_MAX;
    for (int i = 0; i < count; ++i) {
      const int gap = std::max(spans[i].first - span.end, span.first - spans[i].end);
      if (gap < nearestGap) {
        nearestGap = gap;
        nearest = i;
      }
    }
    spans[nearest].first = std::min(spans[nearest].first, span.first);
    spans[nearest].end = std::max(spans[nearest].end, span.end);
    return;
  }
  spans[count++] = span;
}

void addWrittenSpan(HorizonTracker& tracker, int row, PixelSpan span) {
  span.first = std::max(span.first, 0);
  span.end = std::min(span.end, tracker.width);
  if (span.first >= span.end) return;
  PixelSpan* spans = tracker.writtenSpans.data() + static_cast<size_t>(row) * kHorizonSpansPerRow;
  int& count = tracker.writtenCounts[row];
  if (count == kHorizonSpansPerRow) coalesceSpans(spans, count);
  if (count == kHorizonSpansPerRow) {
    // Written may be under-counted, so long as the pixels count as touched.
    addTouchedSpan(tracker, row, span);
    return;
  }
  noteChangedRow(tracker, row);
  spans[count++] = span;
}

void emitRun(HorizonRun* runs, int& count, int end, int64_t frame) {
  if (count > 0 && runs[count - 1].frame == frame) {
    runs[count - 1].end = end;
  } else if (count == kHorizonRunsPerRow) {
    // Out of runs: join the last one, keeping the earlier frame.
    runs[count - 1].end = end;
    runs[count - 1].frame = std::min(runs[count - 1].frame, frame);
  } else {
    runs[count++] = HorizonRun{end, frame};
  }
}

// The spans (sorted, apart) take `frame`; with onlyUntouched, only where no
// triangle has been before.
void paintRow(HorizonTracker& tracker, int row, const PixelSpan* spans, int spanCount, int64_t frame,
              bool onlyUntouched) {
  if (spanCount == 0) return;
  HorizonRun* runs = tracker.runs.data() + static_cast<size_t>(row) * kHorizonRunsPerRow;
  HorizonRun* painted = tracker.rowScratch.data();
  int paintedCount = 0;
  int runIndex = 0;
  int spanIndex = 0;
  int position = 0;
  while (position < tracker.width) {
    const HorizonRun& run = runs[runIndex];
    if (spanIndex == spanCount || spans[spanIndex].first >= run.end) {
      emitRun(painted, paintedCount, run.end, run.frame);
      position = run.end;
      ++runIndex;
    } else if (position < spans[spanIndex].first) {
      emitRun(painted, paintedCount, spans[spanIndex].first, run.frame);
      position = spans[spanIndex].first;
    } else {
      const int end = std::min(spans[spanIndex].end, run.end);
      const bool keep = onlyUntouched && run.frame != kUntouchedFrame;
      emitRun(painted, paintedCount, end, keep ? run.frame : frame);
      position = end;
      if (end == spans[spanIndex].end) ++spanIndex;
      if (end == run.end) ++runIndex;
    }
  }
  std::copy(painted, painted + paintedCount, runs);
  tracker.runCounts[row] = paintedCount;
}

}  // namespace

void startHorizonTracker(HorizonTracker& tracker, const TriangleRenderer& renderer, bool exactCoverage,
                         const CoverageRules& rules) {
  setupCoverage(tracker.coverage, renderer, rules);
  tracker.exactCoverage = exactCoverage;
  tracker.width = std::max(renderer.screenWidth, 0);
  tracker.height = std::max(renderer.screenHeight, 0);
  const size_t rows = static_cast<size_t>(tracker.height);
  tracker.runs.assign(rows * kHorizonRunsPerRow, HorizonRun{0, kUntouchedFrame});
  tracker.runCounts.assign(rows, 0);
  tracker.rowEarliest.assign(rows, kUntouchedFrame);
  tracker.writtenSpans.assign(rows * kHorizonSpansPerRow, PixelSpan{0, 0});
  tracker.writtenCounts.assign(rows, 0);
  tracker.touchedSpans.assign(rows * kHorizonSpansPerRow, PixelSpan{0, 0});
  tracker.touchedCounts.assign(rows, 0);
  tracker.changedRows.assign(rows, 0);
  tracker.rowScratch.assign(kHorizonRunsPerRow, HorizonRun{0, kUntouchedFrame});
  resetHorizonTracker(tracker);
}

void resetHorizonTracker(HorizonTracker& tracker) {
  for (int row = 0; row < tracker.height; ++row) {
    tracker.runs[static_cast<size_t>(row) * kHorizonRunsPerRow] = HorizonRun{tracker.width, kUntouchedFrame};
    tracker.runCounts[row] = 1;
    tracker.rowEarliest[row] = kUntouchedFrame;
    tracker.writtenCounts[row] = 0;
    tracker.touchedCounts[row] = 0;
  }
  tracker.changedCount = 0;
}

void addHorizonTriangle(HorizonTracker& tracker, const uint8_t* record, bool opaque) {
  CoverageTriangle triangle;
  setupCoverageTriangle(tracker.coverage, record, triangle);
  if (triangle.kind == CoverageKind::nothing) return;
  if (triangle.kind == CoverageKind::clipped) {
    // Some part of the landing triangle is drawn, blended or not: touched only.
    const PixelBox box = triangleBox(*tracker.coverage.renderer, record);
    for (int row = std::max(box.y0, 0); row < std::min(box.y1, tracker.height); ++row)
      addTouchedSpan(tracker, row, PixelSpan{box.x0, box.x1});
    return;
  }
  if (triangle.kind == CoverageKind::exact && tracker.exactCoverage) {
    const int firstRow = std::max(triangle.firstRow, 0);
    const int endRow = std::min(triangle.endRow, tracker.height);
    for (int row = firstRow; row < endRow; ++row) {
      const PixelSpan span = coveredSpan(triangle, row);
      if (opaque) {
        addWrittenSpan(tracker, row, span);
      } else {
        addTouchedSpan(tracker, row, span);
      }
    }
    return;
  }
  // Within a pixel of what the GL lights: written shrunk, touched grown.
  const int firstRow = std::max(triangle.firstRow - 1, 0);
  const int endRow = std::min(triangle.endRow + 1, tracker.height);
  for (int row = firstRow; row < endRow; ++row) {
    addTouchedSpan(tracker, row, grownSpan(triangle, row));
    if (opaque) addWrittenSpan(tracker, row, shrunkSpan(triangle, row));
  }
}

int64_t endHorizonFrame(HorizonTracker& tracker, int64_t frame) {
  for (int i = 0; i < tracker.changedCount; ++i) {
    const int row = tracker.changedRows[i];
    const size_t spansAt = static_cast<size_t>(row) * kHorizonSpansPerRow;
    PixelSpan* written = tracker.writtenSpans.data() + spansAt;
    PixelSpan* touched = tracker.touchedSpans.data() + spansAt;
    coalesceSpans(written, tracker.writtenCounts[row]);
    coalesceSpans(touched, tracker.touchedCounts[row]);
    paintRow(tracker, row, written, tracker.writtenCounts[row], frame, false);
    paintRow(tracker, row, touched, tracker.touchedCounts[row], frame, true);
    tracker.writtenCounts[row] = 0;
    tracker.touchedCounts[row] = 0;
    const HorizonRun* runs = tracker.runs.data() + static_cast<size_t>(row) * kHorizonRunsPerRow;
    int64_t earliest = kUntouchedFrame;
    for (int run = 0; run < tracker.runCounts[row]; ++run) earliest = std::min(earliest, runs[run].frame);
    tracker.rowEarliest[row] = earliest;
  }
  tracker.changedCount = 0;
  int64_t horizon = frame;
  for (int row = 0; row < tracker.height; ++row) horizon = std::min(horizon, tracker.rowEarliest[row]);
  return horizon;
}

}  // namespace drec
