// horizon_bench: what the dependency horizon tracker costs per frame, on a
// real recording (the demo: build/tools/drec-make-demo DIR).
//
// The recording's triangles are read into memory first, then the tracker
// runs over every frame, round after round, with exact coverage (the rules
// of a framebuffer object on a CPU with fused multiply-add, as drec play
// finds them here; the cost does not depend on them) and with margins.
// Reports the mean and the slowest frame over the rounds' best, and how far
// back the frames depend.
//
// With `repeat`, the recording's frames are played that many times over as
// one long reading (144 times the demo's 1,500 frames: an hour at 60 fps), to
// show that the cost does not grow with length.
//
// Usage: horizon_bench SEGMENT_TEMPLATE [rounds [repeat]]   (default: 10 1)
//   e.g. horizon_bench /tmp/demo/Video/Stream/Recording_12_01_2013_13_41_13.%i.rec
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/console.hpp"
#include "platform/files.hpp"
#include "recording/format.hpp"
#include "recording/reader.hpp"
#include "recording/stream.hpp"
#include "render/gl_api.hpp"
#include "render/horizon.hpp"
#include "render/textures.hpp"
#include "render/triangles.hpp"

namespace drec {
namespace {

double threadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Every triangle record back to back, and where each frame's records end.
struct Frames {
  std::vector<uint8_t> records;
  std::vector<size_t> ends;
};

struct CollectingHandler : ReadHooks {
  Frames* frames;
  void triangle(const uint8_t* record) { frames->records.insert(frames->records.end(), record, record + kTriangleSize); }
  RecordAction frameMark(float) {
    frames->ends.push_back(frames->records.size());
    return RecordAction::Continue;
  }
};

struct RunFigures {
  double seconds;
  double slowestFrame;
  std::vector<int64_t> horizons;
};

RunFigures runTracker(HorizonTracker& tracker, const Frames& frames, int repeat) {
  RunFigures figures{0, 0, {}};
  const size_t count = frames.ends.size();
  figures.horizons.reserve(count * static_cast<size_t>(repeat));
  resetHorizonTracker(tracker);
  int blend = 1;  // the set-up's source-alpha blending
  for (size_t reading = 0; reading < count * static_cast<size_t>(repeat); ++reading) {
    const size_t frame = reading % count;
    const size_t begin = frame == 0 ? 0 : frames.ends[frame - 1];
    const double start = threadSeconds();
    for (size_t offset = begin; offset < frames.ends[frame]; offset += kTriangleSize) {
      const uint8_t* record = frames.records.data() + offset;
      const int mode = blendModeOf(record[1]);
      if (mode <= 2) blend = mode;
      addHorizonTriangle(tracker, record, blend == 0);
    }
    figures.horizons.push_back(endHorizonFrame(tracker, static_cast<int64_t>(reading)));
    const double spent = threadSeconds() - start;
    figures.seconds += spent;
    figures.slowestFrame = std::max(figures.slowestFrame, spent);
  }
  return figures;
}

void report(const char* name, const Frames& frames, const std::vector<RunFigures>& rounds) {
  double best = rounds[0].seconds, slowest = rounds[0].slowestFrame;
  for (const RunFigures& round : rounds) {
    best = std::min(best, round.seconds);
    slowest = std::min(slowest, round.slowestFrame);
  }
  const std::vector<int64_t>& horizons = rounds[0].horizons;
  const size_t count = horizons.size();
  int64_t deepest = 0;
  size_t own = 0, withinOne = 0, withinTen = 0, atZero = 0;
  for (size_t frame = 0; frame < count; ++frame) {
    const int64_t back = static_cast<int64_t>(frame) - horizons[frame];
    deepest = std::max(deepest, back);
    own += back == 0;
    withinOne += back <= 1;
    withinTen += back <= 10;
    atZero += horizons[frame] == 0;
  }
  std::printf("%-8s %7.1f us a frame (best round), slowest frame %7.1f us; %zu frames, %.1f triangles a frame\n",
              name, best / static_cast<double>(count) * 1e6, slowest * 1e6, count,
              static_cast<double>(frames.records.size() / kTriangleSize) /
                  static_cast<double>(frames.ends.size()));
  std::printf("         horizon: the frame itself %zu, within 1 frame %zu, within 10 %zu, "
              "deepest %lld frames back, at frame 0 %zu\n",
              own, withinOne, withinTen, static_cast<long long>(deepest), atZero);
}

int run(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: horizon_bench SEGMENT_TEMPLATE [rounds [repeat]]\n");
    return 2;
  }
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
  const int repeat = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1;
  SegmentedStream stream;
  uint8_t header[kHeaderSize];
  const Console console = standardOutputConsole();
  const FileAccess files = realFileAccess();  // the stream keeps pointers to both
  if (startStream(stream, files, console, argv[1], header) != StartOutcome::Opened) return 2;
  const RecordingHeader recording = parseHeader(header);
  if (!hasRecordingMagic(recording) || recording.width <= 0 || recording.height <= 0) return 2;
  createStreamBuffers(stream);
  Frames frames;
  CollectingHandler handler{{}, &frames};
  RecordReader reader = startReader(stream);
  readRecords(reader, handler);
  closeStream(stream);
  if (frames.ends.empty()) return 2;

  const GlApi gl{};
  const TextureSlots slots{};
  TriangleRenderer renderer{};
  setupTriangleRenderer(renderer, gl, slots, recording.width, recording.height);
  std::printf("%d x %d\n", recording.width, recording.height);
  for (const bool exact : {true, false}) {
    HorizonTracker tracker;
    startHorizonTracker(tracker, renderer, exact, CoverageRules{false, true});
    std::vector<RunFigures> figures;
    for (int round = 0; round < rounds; ++round) figures.push_back(runTracker(tracker, frames, repeat));
    report(exact ? "exact" : "margins", frames, figures);
  }
  return 0;
}

}  // namespace
}  // namespace drec

int main(int argc, char** argv) { return drec::run(argc, argv); }
