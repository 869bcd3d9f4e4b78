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

#include "platform/program.hpp"
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
    {"--force", nullptr, "first remove the frame-*.png and image-*.png files\n"
                         "that DIR holds"},
    kTexturesOption,
    kAllowMissingTexturesOption,
    kQuietOption,
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
    "Without --frames, --every or --fps every frame is written. A frame that REC\n"
    "does not have is refused before anything is drawn. Each file is written under\n"
    "a temporary name and renamed when complete, so that an interrupted export\n"
    "leaves no file cut short. A folder that already holds frame-*.png or\n"
    "image-*.png files is refused unless --force.\n"
    "\n"
    "--fps F: image k shows the last frame due at or before k / F seconds. Frame 0\n"
    "is due at 0 and each later frame after the one before it by the difference of\n"
    "their recorded times, as the player paces them: a gap of 0.25 s or more counts\n"
    "as 0.25 s (the player cuts such pauses short), a gap going backwards or not a\n"
    "number as 0. The last frame is shown for one image. F is at most 1000.\n"
    "For example (-pix_fmt yuv420p: without it the video is 4:4:4, which browsers\n"
    "and most hardware decoders refuse):\n"
    "  ffmpeg -framerate F -i DIR/image-%06d.png -pix_fmt yuv420p video.mp4\n"
    "drec video REC video.mp4 does that in one step, with no files between.\n"
    "\n"
    "Exit status: 0 written, 1 written but the recording is damaged (the player's\n"
    "messages are shown) or texture files are missing, 2 usage error, unreadable\n"
    "input or a file not written.\n",
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

// A file named frame-*.png or image-*.png is always complete.
bool writePicture(ExportRun& run, const char* prefix, int64_t number) {
  char name[64];
  std::snprintf(name, sizeof name, "%s-%06" PRId64 ".png", prefix, number);
  const std::string path = run.folder + name;
  std::string error;
  if (!writeWholePngFile(path, run.renderer->width, run.renderer->height, run.picture.data(),
                         error)) {
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

bool isSequenceFile(const std::string& name) {
  const auto startsWith = [&](const char* prefix) { return name.rfind(prefix, 0) == 0; };
  return (startsWith("frame-") || startsWith("image-")) && name.size() > 10 &&
         name.compare(name.size() - 4, 4, ".png") == 0;
}

// The frame-*.png and image-*.png files in `folder`.
std::vector<std::filesystem::path> sequenceFiles(const std::string& folder, std::error_code& error) {
  std::vector<std::filesystem::path> found;
  std::filesystem::directory_iterator entry(folder, error);
  for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error))
    if (isSequenceFile(entry->path().filename().string())) found.push_back(entry->path());
  return found;
}

// Makes the folder, and with --force empties it of an earlier sequence;
// false with the reason printed.
bool prepareFolder(const std::string& folder, bool force) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    printError("cannot make the folder '" + folder + "': " + error.message());
    return false;
  }
  const std::vector<std::filesystem::path> earlier = sequenceFiles(folder, error);
  if (error) {
    printError("cannot read the folder '" + folder + "': " + error.message());
    return false;
  }
  if (earlier.empty()) return true;
  if (!force) {
    usageError(kExportSpec, "'" + folder + "' already holds " +
                                counted(static_cast<int64_t>(earlier.size()), "frame-*.png or image-*.png file") +
                                "; --force removes them first");
    return false;
  }
  for (const std::filesystem::path& file : earlier) {
    if (!std::filesystem::remove(file, error) && error) {
      printError("cannot remove '" + file.string() + "': " + error.message());
      return false;
    }
  }
  return true;
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
  int64_t frames = 0;
  if (!countRecordingFrames(recording, frames)) return kExitUsage;
  if (run.selection == Selection::List) {
    const std::string problem = frameListProblem(run.frames, frames, recording.segmentTemplate);
    if (!problem.empty()) return usageError(kExportSpec, "--frames: " + problem);
  }
  run.folder = out;
  if (run.folder.back() != '/') run.folder += '/';
  if (!prepareFolder(out, hasOption(kExportSpec, parsed, "--force"))) return kExitUsage;
  FrameRenderer renderer;
  if (!openRendererFor(renderer, recording)) {
    return kExitUsage;
  }
  run.renderer = &renderer;
  run.picture.assign(rgbFrameBytes(renderer), 0);

  // Ctrl+C between two files ends the export there; one being written is
  // finished first.
  noteInterrupts();
  const FrameWalkResult walk =
      drawEveryFrame(recording, renderer, &run, exportFrame, "export", frames);
  if (walk.interrupted) {
    printError("export interrupted: " + counted(run.written, "file") + " written in '" +
               run.folder + "'");
    endByInterrupt(walk.interrupted);
  }
  if (run.selection == Selection::FixedRate && !run.failed)
    writeImages(run, imagesOfLastFrame(run.clock));

  int status = drawingStatus(walk.damaged ? kExitDamaged : kExitSuccess, renderer,
                             hasOption(kExportSpec, parsed, "--allow-missing-textures"));
  if (run.failed) status = kExitUsage;
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
