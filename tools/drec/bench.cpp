// drec bench REC: plays every frame as fast as it can, through the player's
// own drawing and presenting (no pacing, no dropped frame), and reports the
// frame times.
//
// By default every chunk is read and decompressed before the clock starts
// and held in memory, at most kHeldRecordLimit bytes of records; --include-io
// reads them while timing instead. A frame's time runs from the end of the
// frame before it to the end of its own present (followed by glFinish, so
// that a driver whose swap does not wait for the drawing is timed fairly).
// The first frame drawn is left out: it pays for warming up.
#include <cinttypes>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.hpp"
#include "recording/reader.hpp"
#include "tools/drec/command_line.hpp"
#include "tools/drec/frame_plan.hpp"
#include "tools/drec/frame_renderer.hpp"
#include "tools/drec/json_writer.hpp"
#include "tools/drec/output.hpp"
#include "tools/drec/recording_files.hpp"
#include "tools/drec/subcommands.hpp"

namespace drec {
namespace {

constexpr size_t kHeldRecordLimit = size_t{512} << 20;

const OptionSpec kBenchOptions[] = {
    {"--frames", "A-B", "time frames A to B only (or A alone, or A- to the last frame);\n"
                        "the frames before A are not drawn"},
    {"--repeat", "N", "play the frames N times over (default 1)"},
    {"--include-io", nullptr, "read and decompress the chunks while timing"},
    kJsonOption,
    kTexturesOption,
    kAllowMissingTexturesOption,
    kQuietOption,
};

}  // namespace

const CommandSpec kBenchSpec{
    "bench", "REC",
    "Plays the frames of REC as fast as possible through the player's own drawing\n"
    "and presenting, without a visible window (a hidden window, or SDL's offscreen\n"
    "driver where there is no X server): no pacing and no dropped frame. By\n"
    "default every chunk is decompressed into memory before the clock starts (at\n"
    "most 512 MB of records); --include-io times reading too. A frame's time runs\n"
    "from the end of the frame before it to the end of its present. The first\n"
    "frame drawn is left out of the statistics. Prints the frames timed, seconds,\n"
    "frames per second, and frame time min, mean, p50, p95, p99 and max in\n"
    "milliseconds (percentiles by nearest rank).\n"
    "Exit status: 0 done, 1 done but the recording is damaged (the player's\n"
    "messages are shown) or texture files are missing, 2 usage error or\n"
    "unreadable input.\n",
    kBenchOptions, sizeof kBenchOptions / sizeof kBenchOptions[0], 1, 1};

namespace {

// A decompressed chunk kept for the timed passes.
struct HeldChunk {
  size_t offset;  // in HeldRecords::bytes
  uint32_t length;
  int64_t firstFrame;  // the frame its first record belongs to
};

struct HeldRecords {
  std::vector<uint8_t> bytes;
  std::vector<HeldChunk> chunks;
};

// The first pass, untimed: counts the frames and, unless reading is timed,
// keeps the chunks that hold records of the frames to time.
struct Census : ReadHooks {
  OpenedRecording* recording;
  FrameRange range;
  HeldRecords* held;  // null: keep nothing
  int64_t frames;
  int64_t firstFrame;  // the frame the chunk being walked starts in
  bool damaged;
  bool overLimit;

  void chunkRead(const SegmentedStream&) { firstFrame = frames; }
  void triangle(const uint8_t*) {}
  RecordAction frameMark(float) {
    ++frames;
    return RecordAction::Continue;
  }
  bool beforeChunk() { return !overLimit; }
  void walkEnded(const WalkEnd& end) {
    if (reportWalkEnd(end, recording->playerConsole)) damaged = true;
    reportPlayerMessages(*recording, firstFrame);
    // The chunk holds records of frames firstFrame to frames.
    const SegmentedStream& stream = recording->stream;
    if (!held || frames < range.first || firstFrame > range.last) return;
    if (held->bytes.size() + stream.recordLength > kHeldRecordLimit) {
      overLimit = true;
      return;
    }
    held->chunks.push_back(HeldChunk{held->bytes.size(), stream.recordLength, firstFrame});
    held->bytes.insert(held->bytes.end(), stream.recordBuffer,
                       stream.recordBuffer + stream.recordLength);
  }
};

Census takeCensus(OpenedRecording& recording, const FrameRange& range, HeldRecords* held) {
  Census census{};
  census.recording = &recording;
  census.range = range;
  census.held = held;
  clearPlayerMessages(recording.messages);
  RecordReader reader = startReader(recording.stream);
  if (readRecords(reader, census) != ReadEnd::Stopped)
    reportPlayerMessages(recording, census.frames);
  census.damaged = census.damaged || recording.stream.damaged;
  return census;
}

// One timed pass over frames first to last.
struct TimedPass : ReadHooks {
  FrameRenderer* renderer;
  FrameRange range;
  int64_t frame;
  double frameStart;  // clock at the end of the frame before
  bool leaveOut;      // the next timed frame is the run's first: not kept
  std::vector<double>* times;
  Progress* progress;
  int64_t framesDrawn;  // over every pass
  int64_t framesToDraw;

  void triangle(const uint8_t* record) {
    if (frame >= range.first) drawRecordedTriangle(*renderer, record);
  }
  RecordAction frameMark(float) {
    if (frame >= range.first) {
      presentFrame(*renderer);
      finishDrawing(*renderer);
    }
    const double now = clockSeconds();
    if (frame >= range.first) {
      if (!leaveOut) times->push_back(now - frameStart);
      leaveOut = false;
      updateProgress(*progress, ++framesDrawn, framesToDraw);
    }
    frameStart = now;
    ++frame;
    return frame > range.last ? RecordAction::Stop : RecordAction::Continue;
  }
};

void timeHeld(const HeldRecords& held, TimedPass& pass) {
  for (const HeldChunk& chunk : held.chunks) {
    pass.frame = chunk.firstFrame;
    if (walkRecords(held.bytes.data() + chunk.offset, chunk.length, 0, pass).reason ==
        WalkStop::Stopped)
      return;
  }
}

// Reads the recording afresh and times reading, decompressing and drawing.
// The census reported the damage: nothing is said of it here.
bool timeWithReading(OpenedRecording& recording, const char* name, const char* textures,
                     TimedPass& pass) {
  if (!openRecording(recording, name, textures)) return false;
  pass.frame = 0;
  RecordReader reader = startReader(recording.stream);
  readRecords(reader, pass);
  return true;
}

struct BenchReport {
  std::string recording;
  int width;
  int height;
  std::string renderer;
  bool offscreen;
  FrameRange range;
  int64_t repeat;
  bool includeIo;
  size_t heldBytes;
  FrameTimeStats stats;
};

std::string textReport(const BenchReport& report) {
  std::string text;
  appendFormat(text, "recording  %s, %d x %d, frames %" PRId64 "-%" PRId64 ", %" PRId64 " %s\n",
               report.recording.c_str(), report.width, report.height, report.range.first,
               report.range.last, report.repeat, report.repeat == 1 ? "pass" : "passes");
  appendFormat(text, "drawing    %s in %s, ", report.renderer.c_str(),
               report.offscreen ? "SDL's offscreen driver" : "a hidden window");
  if (report.includeIo)
    text += "chunks read while timing\n";
  else
    appendFormat(text, "chunks decompressed before timing (%.1f MB held)\n",
                 static_cast<double>(report.heldBytes) / 1e6);
  const FrameTimeStats& stats = report.stats;
  appendFormat(text, "frames     %" PRId64 " (the first frame drawn left out)\n", stats.frames);
  appendFormat(text, "seconds    %.3f\n", stats.seconds);
  appendFormat(text, "fps        %.1f\n", stats.framesPerSecond);
  appendFormat(text,
               "frame ms   min %.3f  mean %.3f  p50 %.3f  p95 %.3f  p99 %.3f  max %.3f\n",
               stats.minMs, stats.meanMs, stats.p50Ms, stats.p95Ms, stats.p99Ms, stats.maxMs);
  return text;
}

std::string jsonReport(const BenchReport& report) {
  std::string out;
  JsonWriter json = makeJsonWriter(out);
  const FrameTimeStats& stats = report.stats;
  jsonBeginObject(json);
  jsonField(json, "recording", report.recording);
  jsonField(json, "width", report.width);
  jsonField(json, "height", report.height);
  jsonField(json, "renderer", report.renderer);
  jsonField(json, "surface", report.offscreen ? "offscreen" : "hidden window");
  jsonField(json, "first_frame", report.range.first);
  jsonField(json, "last_frame", report.range.last);
  jsonField(json, "repeat", report.repeat);
  jsonField(json, "include_io", report.includeIo);
  jsonField(json, "held_bytes", report.heldBytes);
  jsonField(json, "frames", stats.frames);
  jsonField(json, "seconds", stats.seconds);
  jsonField(json, "fps", stats.framesPerSecond);
  jsonBeginObject(json, "frame_time_ms");
  const std::pair<const char*, double> times[] = {
      {"min", stats.minMs}, {"mean", stats.meanMs}, {"p50", stats.p50Ms},
      {"p95", stats.p95Ms}, {"p99", stats.p99Ms},   {"max", stats.maxMs}};
  for (const auto& [key, value] : times) jsonField(json, key, value);
  jsonEndObject(json);
  jsonEndObject(json);
  return out;
}

}  // namespace

int benchCommand(const ParsedCommand& parsed) {
  FrameRange range{0, kToLastFrame};
  std::string error;
  if (const char* text = optionValue(kBenchSpec, parsed, "--frames"))
    if (!parseFrameRange(text, range, error)) return usageError(kBenchSpec, "--frames: " + error);
  int64_t repeat = 1;
  if (const char* text = optionValue(kBenchSpec, parsed, "--repeat"))
    if (!parseInteger(text, repeat) || repeat < 1 || repeat > 1000000)
      return usageError(kBenchSpec, "--repeat needs a whole number from 1 to 1000000");
  const bool includeIo = hasOption(kBenchSpec, parsed, "--include-io");
  const char* name = parsed.operands[0];
  const char* textures = optionValue(kBenchSpec, parsed, "--textures");

  OpenedRecording recording;
  recording.quiet = hasOption(kBenchSpec, parsed, "--quiet");
  if (!openRecording(recording, name, textures)) return kExitUsage;
  HeldRecords held;
  const Census census = takeCensus(recording, range, includeIo ? nullptr : &held);
  if (census.overLimit) {
    printError("the records of the frames to time pass 512 MB; time fewer with --frames,\n"
               "or read while timing with --include-io");
    return kExitUsage;
  }
  const std::string problem = frameListProblem({range}, census.frames, recording.segmentTemplate);
  if (!problem.empty()) return usageError(kBenchSpec, "--frames: " + problem);
  if (range.last == kToLastFrame) range.last = census.frames - 1;
  const int64_t timed = repeat * (range.last - range.first + 1) - 1;
  if (timed < 1) {
    printError("one frame alone leaves nothing to time once the first is left out; "
               "use --repeat or more frames");
    return kExitUsage;
  }

  FrameRenderer renderer;
  if (!openRendererFor(renderer, recording)) {
    return kExitUsage;
  }
  std::vector<double> times;
  times.reserve(static_cast<size_t>(timed));
  // The player presents the cleared screen once before its first frame.
  presentFrame(renderer);
  finishDrawing(renderer);
  Progress progress;
  startProgress(progress, "bench", recording.quiet);
  TimedPass pass{{}, &renderer, range, 0, clockSeconds(), true, &times,
                 &progress, 0, repeat * (range.last - range.first + 1)};
  bool read = true;
  for (int64_t round = 0; round < repeat && read; ++round) {
    if (includeIo)
      read = timeWithReading(recording, name, textures, pass);
    else
      timeHeld(held, pass);
  }

  endProgress(progress);

  BenchReport report{};
  report.recording = recording.segmentTemplate;
  report.width = renderer.width;
  report.height = renderer.height;
  report.renderer = rendererName(renderer);
  report.offscreen = renderer.offscreen;
  report.range = range;
  report.repeat = repeat;
  report.includeIo = includeIo;
  report.heldBytes = held.bytes.size();
  report.stats = frameTimeStats(times);
  if (!read) return kExitUsage;
  printOut(hasOption(kBenchSpec, parsed, "--json") ? jsonReport(report) : textReport(report));
  return drawingStatus(census.damaged ? kExitDamaged : kExitSuccess, renderer,
                       hasOption(kBenchSpec, parsed, "--allow-missing-textures"));
}

}  // namespace drec
