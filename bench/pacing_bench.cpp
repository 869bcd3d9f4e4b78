// pacing_bench: how closely playback follows a recording's time stamps.
//
// Generates a 60 frames-per-second recording of a few triangles per frame and
// plays it through the segmented stream, the record walk and the frame pacer
// with the real clock and sleep, recording the clock at every present. Runs
// once with a present that does nothing and once with the real display (an X
// server is needed: under Xvfb, DISPLAY=:N), then prints for each run:
//   - playback wall time against the recorded duration (goal: within 1 %),
//   - process CPU time over wall time (goal with the no-op present: under 2 %),
//   - for consecutive presented frames, |(present n - present n-1) -
//     (ts n - ts n-1)| in ms, median and 99th percentile (goal: under 0.5 ms
//     and under 2 ms).
//
// Usage: pacing_bench [noop|display|both] [seconds]   (default: both 10)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/clock.hpp"
#include "platform/console.hpp"
#include "platform/display.hpp"
#include "player/pacer.hpp"
#include "recording/reader.hpp"
#include "recording/stream.hpp"
#include "render/gl_api.hpp"
#include "render/setup.hpp"
#include "render/textures.hpp"
#include "render/triangles.hpp"
#include "tools/writer/memory_files.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

constexpr int kFramesPerSecond = 60;
constexpr int kTrianglesPerFrame = 8;
constexpr int16_t kWidth = 640;
constexpr int16_t kHeight = 480;
constexpr char kRecordingName[] = "pacing.rec";

Bytes generateRecording(int frames) {
  RecordingWriter writer;
  beginRecording(writer, kWidth, kHeight, TextureTable{});
  for (int frame = 1; frame <= frames; ++frame) {
    for (int i = 0; i < kTrianglesPerFrame; ++i) {
      const int x = (frame * 3 + i * 29) % 200;
      const int y = (i * 31) % 200;
      const PackedColor16 color = packColor(15, (i * 5) % 16, (frame / 4) % 16, 9);
      const TriangleVertex vertices[3] = {
          {0, 0, static_cast<uint8_t>(x), static_cast<uint8_t>(y), 65535, color},
          {255, 0, static_cast<uint8_t>(x + 50), static_cast<uint8_t>(y), 65535, color},
          {0, 255, static_cast<uint8_t>(x), static_cast<uint8_t>(y + 50), 65535, color}};
      writeTriangle(writer, triangleState(0, i % 2), vertices);
    }
    writeFrameMark(writer, static_cast<float>(frame) / static_cast<float>(kFramesPerSecond));
  }
  return finishRecording(writer);
}

// Everything one playback run needs, allocated before the clock starts; the
// chunk loop hands it triangles and marks.
struct BenchRun : ReadHooks {
  void triangle(const uint8_t* record);
  RecordAction frameMark(float timeStamp);

  Display* display;  // null: present does nothing
  TriangleRenderer* renderer;
  FramePacer pacer;
  PlaybackServices services;
  std::vector<double> presentTimes;  // every present, pauses included
  size_t presentCount;
  std::vector<double> markPresent;  // per mark: clock at its present, NaN when dropped
  std::vector<float> markTime;
  size_t markCount;
};

double benchClock(void*) { return clockSeconds(); }
void benchSleep(void*, int64_t milliseconds) { sleepMilliseconds(milliseconds); }

void benchPresent(void* context) {
  BenchRun& run = *static_cast<BenchRun*>(context);
  if (run.presentCount < run.presentTimes.size()) run.presentTimes[run.presentCount++] = clockSeconds();
  if (run.display) presentDisplay(*run.display);
}

bool benchKeyHeld(void* context, int scanCode) {
  BenchRun& run = *static_cast<BenchRun*>(context);
  return run.display && keyHeld(*run.display, scanCode);
}

KeyEntry benchNextKey(void* context) {
  BenchRun& run = *static_cast<BenchRun*>(context);
  return run.display ? nextKey(*run.display) : KeyEntry{0, {0, 0}};
}

void BenchRun::triangle(const uint8_t* record) {
  if (renderer) drawTriangle(*renderer, record, pacer.skipPresent);
}

RecordAction BenchRun::frameMark(float timeStamp) {
  BenchRun& run = *this;
  const bool presents = !run.pacer.skipPresent;
  const size_t presentIndex = run.presentCount;
  const PaceResult result = onFrameMark(run.pacer, run.services, timeStamp);
  if (run.markCount < run.markTime.size()) {
    run.markTime[run.markCount] = timeStamp;
    run.markPresent[run.markCount] =
        presents && presentIndex < run.presentCount ? run.presentTimes[presentIndex] : NAN;
    ++run.markCount;
  }
  return result == PaceResult::Quit ? RecordAction::Stop : RecordAction::Continue;
}

struct Figures {
  double wallSeconds;
  double recordedSeconds;
  double cpuSeconds;
  double medianMs;
  double p99Ms;
  double maxMs;
  size_t intervals;
  size_t dropped;
  size_t firstDropped[8];  // mark numbers (1 = the first) of the first drops
  bool quit;
  bool opened;
};

// Nearest-rank percentile of sorted values.
double percentile(const std::vector<double>& sorted, double fraction) {
  if (sorted.empty()) return NAN;
  size_t rank = static_cast<size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
  return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
}

Figures play(const Bytes& recording, Display* display, int frames) {
  MemoryFiles memory{};
  addMemoryFile(memory, kRecordingName, recording);
  const FileAccess files = memoryFileAccess(memory);
  const Console console = standardOutputConsole();
  SegmentedStream stream{};
  uint8_t header[kHeaderSize];
  Figures figures{};
  if (startStream(stream, files, console, kRecordingName, header) != StartOutcome::Opened) {
    std::printf("cannot open the generated recording\n");
    return figures;
  }
  figures.opened = true;
  createStreamBuffers(stream);

  const GlApi gl = realGlApi();
  TextureSlots slots{};
  TriangleRenderer renderer{};
  BenchRun run{};
  if (display) {
    renderSetup(gl, kWidth, kHeight);
    setupTriangleRenderer(renderer, gl, slots, kWidth, kHeight);
    resetTriangleCache(renderer);
    run.renderer = &renderer;
  }
  run.display = display;
  // Pacing alone: no display to open and no key wait.
  run.services = PlaybackServices{&run,         benchClock,   benchSleep, benchPresent,
                                  benchKeyHeld, benchNextKey, nullptr,    nullptr, nullptr};
  run.presentTimes.assign(static_cast<size_t>(frames) * 3 + 8, 0.0);
  run.markPresent.assign(static_cast<size_t>(frames) + 8, 0.0);
  run.markTime.assign(static_cast<size_t>(frames) + 8, 0.0f);

  const std::clock_t cpuStart = std::clock();
  startPacing(run.pacer, run.services);
  const double start = run.pacer.startTime;
  RecordReader reader = startReader(stream);
  figures.quit = readRecords(reader, run) == ReadEnd::Stopped;
  const double end = clockSeconds();
  const std::clock_t cpuEnd = std::clock();
  closeStream(stream);

  figures.wallSeconds = end - start;
  figures.recordedSeconds = run.markCount ? static_cast<double>(run.markTime[run.markCount - 1]) : 0;
  figures.cpuSeconds = static_cast<double>(cpuEnd - cpuStart) / CLOCKS_PER_SEC;
  std::vector<double> errors;
  for (size_t i = 0; i < run.markCount; ++i) {
    if (std::isnan(run.markPresent[i])) {
      if (figures.dropped < 8) figures.firstDropped[figures.dropped] = i + 1;
      ++figures.dropped;
    }
    if (i == 0 || std::isnan(run.markPresent[i]) || std::isnan(run.markPresent[i - 1])) continue;
    const double presented = run.markPresent[i] - run.markPresent[i - 1];
    const double recorded =
        static_cast<double>(run.markTime[i]) - static_cast<double>(run.markTime[i - 1]);
    errors.push_back(std::fabs(presented - recorded) * 1000.0);
  }
  std::sort(errors.begin(), errors.end());
  figures.intervals = errors.size();
  figures.medianMs = percentile(errors, 0.5);
  figures.p99Ms = percentile(errors, 0.99);
  figures.maxMs = errors.empty() ? NAN : errors.back();
  return figures;
}

void report(const char* label, const Figures& f, bool cpuGoal) {
  if (!f.opened) return;
  const double wallError = (f.wallSeconds - f.recordedSeconds) / f.recordedSeconds * 100.0;
  const double cpuShare = f.cpuSeconds / f.wallSeconds * 100.0;
  std::printf("%-8s wall %.4f s for %.4f s recorded (%+.3f %%, goal within 1 %%: %s)\n", label,
              f.wallSeconds, f.recordedSeconds, wallError,
              std::fabs(wallError) < 1.0 ? "met" : "MISSED");
  std::printf("%-8s cpu %.4f s = %.3f %% of wall%s\n", label, f.cpuSeconds, cpuShare,
              cpuGoal ? (cpuShare < 2.0 ? " (goal under 2 %: met)" : " (goal under 2 %: MISSED)")
                      : " (includes the software renderer's threads)");
  std::printf(
      "%-8s interval error over %zu frame pairs: median %.3f ms (goal < 0.5: %s), p99 %.3f ms "
      "(goal < 2: %s), max %.3f ms; %zu frames dropped%s\n",
      label, f.intervals, f.medianMs, f.medianMs < 0.5 ? "met" : "MISSED", f.p99Ms,
      f.p99Ms < 2.0 ? "met" : "MISSED", f.maxMs, f.dropped, f.quit ? "; stopped by a quit" : "");
  if (f.dropped == 0) return;
  std::printf("%-8s dropped frames follow marks", label);
  for (size_t i = 0; i < f.dropped && i < 8; ++i) std::printf(" %zu", f.firstDropped[i] - 1);
  std::printf("%s\n", f.dropped > 8 ? " ..." : "");
}

}  // namespace
}  // namespace drec

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "both";
  const bool runNoop = std::strcmp(mode, "display") != 0;
  const bool runDisplay = std::strcmp(mode, "noop") != 0;
  const double seconds = argc > 2 ? std::atof(argv[2]) : 10.0;
  if ((!runNoop && !runDisplay) || !(seconds > 0.0) || seconds > 3600.0 ||
      (std::strcmp(mode, "both") != 0 && std::strcmp(mode, "noop") != 0 &&
       std::strcmp(mode, "display") != 0)) {
    std::printf("usage: pacing_bench [noop|display|both] [seconds]\n");
    return 2;
  }
  const int frames = static_cast<int>(std::lround(seconds * drec::kFramesPerSecond));
  const drec::Bytes recording = drec::generateRecording(frames);
  std::printf("recording: %d frames at %d fps, %d triangles each, %zu bytes\n", frames,
              drec::kFramesPerSecond, drec::kTrianglesPerFrame, recording.size());

  if (runNoop) drec::report("no-op", drec::play(recording, nullptr, frames), true);
  if (runDisplay) {
    drec::Display display{};
    if (!drec::openDisplay(display, drec::kWidth, drec::kHeight, "pacing_bench")) {
      std::printf("display  not measured: no window could be opened (is DISPLAY set?)\n");
      return runNoop ? 0 : 1;
    }
    drec::report("display", drec::play(recording, &display, frames), false);
    drec::closeDisplay(display);
  }
  return 0;
}
