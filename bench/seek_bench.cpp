// seek_bench: how long seeks take, from the request to the exact picture.
//
//   seek_bench REC [--seeks N] [--pass] [--key-spacing N] [--cache-mb N] [--disk-cache-mb N]
//
// Builds the frame index (its time and memory told apart), opens the
// export's renderer (offscreen when there is no display), then times N
// random seeks (default 200; a fixed seed), each from the request to the
// picture finished (glFinish), and as many one-frame-back seeks from random
// frames. With --pass it first draws every frame in order, as playback
// does, offering every N-th as a key frame (--key-spacing, default 1)
// within the budgets (default 512 MB of memory, 4096 MB of disk in
// $XDG_CACHE_HOME/drec), and says how fast. Prints one line per figure.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/sdl_setup.hpp"
#include "platform/spill_file.hpp"
#include "tools/drec/frame_index.hpp"
#include "tools/drec/recording_files.hpp"
#include "tools/drec/seek.hpp"

namespace drec {
namespace {

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double peakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void printSpread(const char* name, std::vector<double>& ms, const std::vector<int64_t>& drawn) {
  std::sort(ms.begin(), ms.end());
  auto rank = [&](double p) {
    const size_t at = static_cast<size_t>(std::max(1.0, p / 100.0 * static_cast<double>(ms.size()) + 0.999999));
    return ms[std::min(at, ms.size()) - 1];
  };
  double frames = 0;
  int64_t most = 0;
  for (int64_t count : drawn) {
    frames += static_cast<double>(count);
    most = std::max(most, count);
  }
  std::printf("%-20s %zu seeks: p50 %.2f ms  p99 %.2f ms  max %.2f ms; frames drawn mean %.1f, most %lld\n",
              name, ms.size(), rank(50), rank(99), ms.back(), frames / static_cast<double>(drawn.size()),
              static_cast<long long>(most));
}

int run(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (argc < 2) {
    std::fprintf(stderr, "usage: seek_bench REC [--seeks N] [--pass] [--cache-mb N]\n");
    return 2;
  }
  int seeks = 200;
  bool pass = false;
  int64_t keySpacing = 1;
  size_t budget = size_t{512} << 20;
  size_t diskBudget = size_t{4096} << 20;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seeks") == 0 && i + 1 < argc) seeks = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--pass") == 0) pass = true;
    else if (std::strcmp(argv[i], "--key-spacing") == 0 && i + 1 < argc)
      keySpacing = std::max(1L, std::atol(argv[++i]));
    else if (std::strcmp(argv[i], "--cache-mb") == 0 && i + 1 < argc)
      budget = static_cast<size_t>(std::atol(argv[++i])) << 20;
    else if (std::strcmp(argv[i], "--disk-cache-mb") == 0 && i + 1 < argc)
      diskBudget = static_cast<size_t>(std::atol(argv[++i])) << 20;
  }
  OpenedRecording recording, indexed;
  recording.quiet = indexed.quiet = true;
  if (!openRecording(recording, argv[1], nullptr) || !openRecording(indexed, argv[1], nullptr)) return 2;
  int64_t census = 0;
  if (!countRecordingFrames(indexed, census)) return 2;

  FrameRenderer renderer;
  if (!openRendererFor(renderer, recording)) return 2;
  if (!loadGlExtensionEntries(renderer.gl)) {
    std::fprintf(stderr, "seek_bench: no framebuffer objects\n");
    return 2;
  }
  PictureTarget target{};
  if (!makePictureTarget(renderer.gl, renderer.width, renderer.height, target)) return 2;

  const double memoryBefore = peakMegabytes();
  const double indexStart = now();
  FrameIndex index{};
  startFrameIndex(index, indexed.stream, census);
  while (!indexFrames(index, 4096)) {
  }
  const double indexSeconds = now() - indexStart;
  const int64_t frames = static_cast<int64_t>(index.frames.size());
  const double indexMegabytes =
      static_cast<double>(index.frames.capacity() * sizeof(IndexedFrame)) / (1024.0 * 1024.0);
  std::printf("index                %lld frames in %.3f s (%.0f frames/s); rows %.1f MB; peak memory %.0f MB -> %.0f MB\n",
              static_cast<long long>(frames), indexSeconds, static_cast<double>(frames) / indexSeconds,
              indexMegabytes, memoryBefore, peakMegabytes());
  if (frames == 0) return 1;

  Seeker seeker{};
  startSeeker(seeker, renderer, target, recording.stream, index, budget, diskBudget, userCacheFolder());
  if (pass) {
    const double passStart = now();
    for (int64_t frame = 0; frame < frames; ++frame) {
      if (!seekToFrame(seeker, frame)) return 1;
      if (frame % keySpacing == 0) offerKeyFrame(seeker, frame, stateAfterFrame(index, frame));
    }
    renderer.gl.Finish();
    const double passSeconds = now() - passStart;
    size_t onDisk = 0;
    for (const KeyFrame& key : seeker.keys.keys) onDisk += key.diskOffset >= 0;
    std::printf("pass                 %lld frames in %.2f s (%.0f frames/s); %zu key frames (%zu on disk), "
                "every %lld; memory %.1f MB, disk %.1f MB%s%s\n",
                static_cast<long long>(frames), passSeconds, static_cast<double>(frames) / passSeconds,
                seeker.keys.keys.size(), onDisk,
                static_cast<long long>(std::max(seeker.keys.spacing, keySpacing)),
                static_cast<double>(seeker.keys.usedBytes) / (1024.0 * 1024.0),
                static_cast<double>(seeker.keys.diskUsedBytes) / (1024.0 * 1024.0),
                seeker.keys.diskProblem.empty() ? "" : "; disk given up: ", seeker.keys.diskProblem.c_str());
  }

  std::mt19937 random(7);
  std::vector<double> times;
  std::vector<int64_t> drawn;
  for (int i = 0; i < seeks; ++i) {
    const int64_t frame = static_cast<int64_t>(random() % static_cast<uint64_t>(frames));
    const double start = now();
    if (!seekToFrame(seeker, frame)) return 1;
    renderer.gl.Finish();
    times.push_back((now() - start) * 1000.0);
    drawn.push_back(seeker.lastSeekFrames);
  }
  printSpread("random seek", times, drawn);
  times.clear();
  drawn.clear();
  for (int i = 0; i < seeks; ++i) {
    const int64_t frame = 1 + static_cast<int64_t>(random() % static_cast<uint64_t>(std::max<int64_t>(frames - 1, 1)));
    if (!seekToFrame(seeker, std::min(frame, frames - 1))) return 1;
    renderer.gl.Finish();
    const double start = now();
    if (!seekToFrame(seeker, std::min(frame, frames - 1) - 1)) return 1;
    renderer.gl.Finish();
    times.push_back((now() - start) * 1000.0);
    drawn.push_back(seeker.lastSeekFrames);
  }
  printSpread("one frame back", times, drawn);
  std::printf("peak memory          %.0f MB\n", peakMegabytes());
  closeFrameRenderer(renderer);
  return 0;
}

}  // namespace
}  // namespace drec

int main(int argc, char** argv) { return drec::run(argc, argv); }
