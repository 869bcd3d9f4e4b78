// drec export REC --out DIR: frames drawn through the player's own code and
// written as PNG files: chosen frames, every N-th frame, or a fixed-rate
// image sequence for a video encoder. Every frame is drawn, in order, since
// each one draws over what the frames before it left.
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tools/drec/command_line.hpp"
#include "tools/drec/frame_plan.hpp"
#include "tools/drec/frame_renderer.hpp"
#include "tools/drec/output.hpp"
#include "tools/drec/png_file.hpp"
#include "tools/drec/recording_files.hpp"
#include "tools/drec/subcommands.hpp"

namespace drec {
namespace {

const OptionSpec kExportOptions[] = {
    {"--out", "DIR", "folder for the PNG files (made when missing); required"},
    {"--frames", "LIST", "the frames to write, e.g. 0,100-105 or 600- (frame-NNNNNN.png)"},
    {"--every", "N", "every N-th frame: 0, N, 2N, ... (frame-NNNNNN.png)"},
    {"--fps", "F", "F images per second on a virtual clock that follows the\n"
                   "recorded times (image-NNNNNN.png, numbered from 0)"},
    kTexturesOption,
};

}  // namespace

const CommandSpec kExportSpec{
    "export", "REC --out DIR",
    "Draws the frames of REC with the player's own drawing code, without a\n"
    "visible window (a hidden window, or SDL's offscreen driver where there is\n"
    "no X server), and writes them as PNG files of the recorded screen size.\n"
    "Every frame is drawn in order and none is dropped, as each frame draws over\n"
    "what the frames before it left: a picture is what the player's window shows\n"
    "at that frame when the player dropped no frame before it.\n"
    "Without --frames, --every or --fps every frame is written.\n"
    "\n"
    "--fps F: image k shows the last frame due at or before k / F seconds. Frame 0\n"
    "is due at 0 and each later frame after the one before it by the difference of\n"
    "their recorded times, as the player paces them: a gap of 0.25 s or more counts\n"
    "as 0.25 s (the player cuts such pauses short), a gap going backwards or not a\n"
    "number as 0. The last frame is shown for one image. F is at most 1000.\n"
    "For example: ffmpeg -framerate F -i DIR/image-%06d.png video.mp4\n"
    "\n"
    "Exit status: 0 written, 1 written but the recording is damaged (the player's\n"
    "messages are shown), 2 usage error, unreadable input or a file not written.\n",
    kExportOptions, sizeof kExportOptions / sizeof kExportOptions[0], 1, 1};

namespace {

enum class Selection { Every, List, FixedRate };

struct ExportRun {
  FrameRenderer* renderer;
  std::string folder;  // ends in "/"
  Selection selection;
  std::vector<FrameRange> frames;
  int64_t every;
  int64_t lastNeeded;  // the walk stops after this frame
  ImageClock clock;
  std::vector<uint8_t> picture;  // the latest frame read, RGB, top row first
  int64_t written;
  int64_t firstWritten;
  int64_t lastWritten;
  bool failed;
};

bool writePicture(ExportRun& run, const char* prefix, int64_t number) {
  char name[64];
  std::snprintf(name, sizeof name, "%s-%06" PRId64 ".png", prefix, number);
  const std::string path = run.folder + name;
  std::string error;
  if (!writePngFile(path, run.renderer->width, run.renderer->height, run.picture.data(), error)) {
    printError("cannot write '" + path + "': " + error);
    run.failed = true;
    return false;
  }
  if (run.written == 0) run.firstWritten = number;
  run.lastWritten = number;
  ++run.written;
  return true;
}

// Images of the frame held in `picture`, numbered on from the clock.
bool writeImages(ExportRun& run, int64_t count) {
  const int64_t first = run.clock.nextImage - count;
  for (int64_t image = first; image < run.clock.nextImage; ++image)
    if (!writePicture(run, "image", image)) return false;
  return true;
}

RecordAction exportFrame(void* context, int64_t frame, float timeStamp) {
  ExportRun& run = *static_cast<ExportRun*>(context);
  if (run.selection == Selection::FixedRate) {
    if (!writeImages(run, imagesBeforeFrame(run.clock, timeStamp))) return RecordAction::Stop;
    readFramePixels(*run.renderer, run.picture.data());
    return RecordAction::Continue;
  }
  const bool wanted = run.selection == Selection::List ? frameInList(run.frames, frame)
                                                       : frame % run.every == 0;
  if (wanted) {
    readFramePixels(*run.renderer, run.picture.data());
    if (!writePicture(run, "frame", frame)) return RecordAction::Stop;
  }
  return frame >= run.lastNeeded ? RecordAction::Stop : RecordAction::Continue;
}

}  // namespace

int exportCommand(const ParsedCommand& parsed) {
  const char* out = optionValue(kExportSpec, parsed, "--out");
  const char* framesText = optionValue(kExportSpec, parsed, "--frames");
  const char* everyText = optionValue(kExportSpec, parsed, "--every");
  const char* fpsText = optionValue(kExportSpec, parsed, "--fps");
  if (!out || !*out) return usageError(kExportSpec, "missing --out DIR");
  if ((framesText ? 1 : 0) + (everyText ? 1 : 0) + (fpsText ? 1 : 0) > 1)
    return usageError(kExportSpec, "--frames, --every and --fps exclude each other");

  ExportRun run{};
  run.selection = Selection::Every;
  run.every = 1;
  run.lastNeeded = kToLastFrame;
  std::string error;
  if (framesText) {
    if (!parseFrameList(framesText, run.frames, error))
      return usageError(kExportSpec, "--frames: " + error);
    run.selection = Selection::List;
    run.lastNeeded = lastListedFrame(run.frames);
  } else if (everyText) {
    if (!parseInteger(everyText, run.every) || run.every < 1)
      return usageError(kExportSpec, "--every needs a whole number of 1 or more");
  } else if (fpsText) {
    double rate = 0;
    if (!parseNumber(fpsText, rate) || rate <= 0 || rate > kMaxImageRate)
      return usageError(kExportSpec, "--fps needs a number above 0 and at most 1000");
    run.selection = Selection::FixedRate;
    startImageClock(run.clock, rate);
  }

  OpenedRecording recording;
  if (!openRecordingOf(kExportSpec, parsed, recording)) return kExitUsage;
  run.folder = out;
  if (run.folder.back() != '/') run.folder += '/';
  std::error_code madeError;
  std::filesystem::create_directories(run.folder, madeError);
  if (madeError) {
    printError("cannot make the folder '" + std::string(out) + "': " + madeError.message());
    return kExitUsage;
  }
  FrameRenderer renderer;
  if (!openRendererFor(renderer, recording)) {
    return kExitUsage;
  }
  run.renderer = &renderer;
  run.picture.assign(rgbFrameBytes(renderer), 0);

  const FrameWalkResult walk = drawEveryFrame(recording, renderer, &run, exportFrame, "export");
  if (run.selection == Selection::FixedRate && !run.failed)
    writeImages(run, imagesOfLastFrame(run.clock));

  int status = walk.damaged ? kExitDamaged : kExitSuccess;
  if (run.failed) {
    status = kExitUsage;
  } else if (run.selection == Selection::List && run.lastNeeded >= walk.frames) {
    std::string missing;
    for (const FrameRange& range : run.frames) {
      const bool open = range.last == kToLastFrame;
      if (open ? range.first < walk.frames : range.last < walk.frames) continue;
      if (!missing.empty()) missing += ",";
      const int64_t from = std::max(range.first, walk.frames);
      missing += std::to_string(from);
      if (open) missing += "-";
      else if (range.last > from) missing += "-" + std::to_string(range.last);
    }
    if (!missing.empty()) {
      printError("'" + recording.segmentTemplate + "' has " + counted(walk.frames, "frame") +
                 ": no frame " + missing);
      status = kExitUsage;
    }
  }
  std::string summary = run.folder;
  appendFormat(summary, ": %s, %d x %d", counted(run.written, "PNG file").c_str(), renderer.width,
               renderer.height);
  const char* prefix = run.selection == Selection::FixedRate ? "image" : "frame";
  if (run.written > 0)
    appendFormat(summary, ", %s-%06" PRId64 ".png", prefix, run.firstWritten);
  if (run.written > 1) appendFormat(summary, " to %s-%06" PRId64 ".png", prefix, run.lastWritten);
  if (run.selection == Selection::FixedRate)
    appendFormat(summary, ", %g images per second over %s", run.clock.rate,
                 counted(walk.frames, "frame").c_str());
  summary += "\n";
  printOut(summary);
  return status;
}

}  // namespace drec
