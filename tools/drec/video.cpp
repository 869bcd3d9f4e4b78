// drec video REC OUT: a recording straight into a video file. Frames are
// drawn through the player's own code, as export draws them, chosen on the
// fixed-rate clock of `export --fps`, and streamed as raw RGB pictures into
// the ffmpeg program's standard input; nothing is written between the two.
//
// Drawing and encoding run side by side in two processes: while ffmpeg
// encodes one picture, the next one is drawn. ffmpeg writes a hidden
// temporary file beside OUT, renamed to OUT only when ffmpeg has ended well
// and nothing interrupted the run: a file named OUT is a whole video.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "platform/child_process.hpp"
#include "platform/clock.hpp"
#include "platform/program.hpp"
#include "tools/drec/command_line.hpp"
#include "tools/drec/frame_plan.hpp"
#include "tools/drec/frame_renderer.hpp"
#include "tools/drec/json_writer.hpp"
#include "tools/drec/output.hpp"
#include "tools/drec/png_file.hpp"
#include "tools/drec/recording_files.hpp"
#include "tools/drec/subcommands.hpp"

namespace drec {
namespace {

const OptionSpec kVideoOptions[] = {
    {"--fps", "F", "frames per second of the video (default 60; a fraction\n"
                   "such as 30000/1001 is taken too)"},
    {"--recorded-time", nullptr, "keep pauses at their recorded length (the player\n"
                                 "cuts them to a quarter second)"},
    {"--start", "T", "from the first frame recorded at T seconds or later"},
    {"--end", "T", "up to the last frame before one recorded after T s"},
    {"--frames", "A-B", "frames A to B of the recording (\"A-\": to the last)"},
    {"--crf", "N", "quality: lower is better and larger (H.264 0 to 51,\n"
                   "default 18; VP9 0 to 63, default 32)"},
    {"--preset", "P", "libx264's speed preset (ultrafast ... veryslow;\n"
                      "default veryfast)"},
    {"--lossless", nullptr, "decoded pictures equal the drawn ones exactly:\n"
                            "H.264 RGB at -crf 0 in .mp4, FFV1 in .mkv"},
    {"--ffmpeg-arg", "ARG", "passed on to ffmpeg before the output file;\n"
                            "repeat it for each word"},
    {"--force", nullptr, "write over OUT when it exists"},
    kTexturesOption,
    kAllowMissingTexturesOption,
    kJsonOption,
    kQuietOption,
};

}  // namespace

const CommandSpec kVideoSpec{
    "video", "REC OUT",
    "Draws the frames of REC with the player's own drawing code, as drec export\n"
    "does, and streams them into the ffmpeg program (Debian package ffmpeg),\n"
    "which writes the video OUT. The extension of OUT chooses the format:\n"
    "  .mp4   H.264 (libx264, yuv420p, -crf 18), index first (+faststart):\n"
    "         plays in browsers and on most hardware decoders\n"
    "  .mkv   H.264 the same, in Matroska\n"
    "  .webm  VP9 (libvpx-vp9, yuv420p, -crf 32, realtime speed settings)\n"
    "4:2:0 needs an even width and height: an odd one is padded with a black\n"
    "column or row, and said so (a -vf given by --ffmpeg-arg replaces that).\n"
    "\n"
    "Frame k of the video shows the last frame of REC due at or before k / F\n"
    "seconds, on the clock of drec export --fps: frame 0 is due at 0 and each\n"
    "later frame after the one before it by the difference of their recorded\n"
    "times, a gap of 0.25 s or more counting as 0.25 s (the player cuts such\n"
    "pauses short) unless --recorded-time, and a gap going backwards as 0. So\n"
    "the video lasts what a viewer of the player sees. With --start, --end or\n"
    "--frames the frames before the first one chosen are drawn (each frame\n"
    "draws over the ones before it) but not encoded; the video starts at it.\n"
    "\n"
    "ffmpeg writes a hidden file beside OUT (.NAME.partial.EXT), renamed to OUT\n"
    "when it ended well: an interrupted or failed run leaves no OUT. An OUT that\n"
    "exists is refused unless --force. Progress shows on a terminal; --json\n"
    "prints one object at the end.\n"
    "\n"
    "Exit status: 0 written, 1 written but the recording is damaged (the player's\n"
    "messages are shown) or texture files are missing, 2 usage error, unreadable\n"
    "input, no ffmpeg, or ffmpeg failed (its last lines are shown).\n",
    kVideoOptions, sizeof kVideoOptions / sizeof kVideoOptions[0], 2, 2};

namespace {

// A video longer than this is refused before anything is drawn: a time
// stamp far off (damage) with --recorded-time would make a day of one frame.
constexpr double kMaxVideoSeconds = 24 * 3600.0;
// ffmpeg's standard error lines shown when it fails.
constexpr size_t kShownFfmpegLines = 6;

// How ffmpeg encodes, chosen by the output's extension and --lossless.
struct VideoCodec {
  const char* extension;
  bool lossless;
  const char* encoder;      // ffmpeg's encoder
  const char* codec;        // what ffprobe calls the stream's codec
  const char* pixelFormat;  // of the encoded pictures
  bool evenSize;            // 4:2:0: width and height must be even
  bool takesPreset;         // libx264's --preset
  int defaultCrf;           // -1: no --crf
  int maxCrf;
  const char* options[9];   // the encoder's own settings, up to a null
};

const VideoCodec kVideoCodecs[] = {
    {".mp4", false, "libx264", "h264", "yuv420p", true, true, 18, 51, {}},
    {".mkv", false, "libx264", "h264", "yuv420p", true, true, 18, 51, {}},
    // VP9's defaults encode about 15 pictures a second here; realtime at the
    // fastest speed, rows in parallel, keeps it a few times real time.
    {".webm", false, "libvpx-vp9", "vp9", "yuv420p", true, false, 32, 63,
     {"-b:v", "0", "-deadline", "realtime", "-cpu-used", "8", "-row-mt", "1"}},
    {".mp4", true, "libx264rgb", "h264", "rgb24", false, true, -1, 0, {"-crf", "0"}},
    {".mkv", true, "ffv1", "ffv1", "bgr0", false, false, -1, 0, {"-level", "3"}},
};
constexpr const char* kDefaultPreset = "veryfast";

// The extension of a file name, lower case, from its last "." ("" when none).
std::string extensionOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string extension = path.substr(dot);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

const VideoCodec* findCodec(const std::string& extension, bool lossless) {
  for (const VideoCodec& codec : kVideoCodecs)
    if (extension == codec.extension && lossless == codec.lossless) return &codec;
  return nullptr;
}

// What the command line asks for.
struct VideoSettings {
  const char* recordingName;
  std::string output;
  const VideoCodec* codec;
  std::string rateText;  // as given, for ffmpeg, which takes fractions exactly
  double rate;
  bool keepPauses;
  int crf;
  std::string preset;
  std::vector<std::string> ffmpegExtra;
  bool force;
  bool json;
  bool quiet;
  bool allowMissingTextures;
  bool hasFrames;
  FrameRange frames;
  bool hasStart;
  double start;
  bool hasEnd;
  double end;
};

// "F" or "N/D", above 0 and at most 1000 a second.
bool parseRate(const char* text, double& rate) {
  const std::string value = text;
  const size_t slash = value.find('/');
  double numerator = 0;
  double denominator = 1;
  const bool parsed =
      slash == std::string::npos
          ? parseNumber(text, numerator)
          : parseNumber(value.substr(0, slash).c_str(), numerator) &&
                parseNumber(value.substr(slash + 1).c_str(), denominator) && denominator > 0;
  rate = parsed ? numerator / denominator : 0;
  return rate > 0 && rate <= kMaxImageRate;
}

bool parseVideoSettings(const ParsedCommand& parsed, VideoSettings& settings) {
  const CommandSpec& command = kVideoSpec;
  settings.recordingName = parsed.operands[0];
  settings.output = parsed.operands[1];
  settings.force = hasOption(command, parsed, "--force");
  settings.json = hasOption(command, parsed, "--json");
  settings.quiet = hasOption(command, parsed, "--quiet");
  settings.allowMissingTextures = hasOption(command, parsed, "--allow-missing-textures");
  settings.keepPauses = hasOption(command, parsed, "--recorded-time");
  const bool lossless = hasOption(command, parsed, "--lossless");
  const std::string extension = extensionOf(settings.output);
  settings.codec = findCodec(extension, lossless);
  if (!settings.codec) {
    if (findCodec(extension, false))
      usageError(command, "--lossless needs OUT to end in .mp4 or .mkv");
    else
      usageError(command, "OUT must end in .mp4, .mkv or .webm: '" + settings.output + "'");
    return false;
  }

  settings.rateText = "60";
  settings.rate = 60;
  if (const char* text = optionValue(command, parsed, "--fps")) {
    if (!parseRate(text, settings.rate)) {
      usageError(command, "--fps needs a number or fraction above 0 and at most 1000");
      return false;
    }
    settings.rateText = text;
  }
  settings.crf = settings.codec->defaultCrf;
  if (const char* text = optionValue(command, parsed, "--crf")) {
    int64_t crf = 0;
    if (settings.codec->defaultCrf < 0) {
      usageError(command, "--crf does not go with --lossless");
      return false;
    }
    if (!parseInteger(text, crf) || crf < 0 || crf > settings.codec->maxCrf) {
      usageError(command, std::string("--crf needs a whole number from 0 to ") +
                           std::to_string(settings.codec->maxCrf) + " for " +
                           settings.codec->encoder);
      return false;
    }
    settings.crf = static_cast<int>(crf);
  }
  settings.preset = kDefaultPreset;
  if (const char* text = optionValue(command, parsed, "--preset")) {
    if (!settings.codec->takesPreset) {
      usageError(command, std::string("--preset is libx264's; ") + settings.codec->encoder +
                           " does not take it");
      return false;
    }
    if (!*text) {
      usageError(command, "--preset needs a name, e.g. veryfast");
      return false;
    }
    settings.preset = text;
  }
  for (const char* argument : optionValues(command, parsed, "--ffmpeg-arg"))
    settings.ffmpegExtra.push_back(argument);

  const char* framesText = optionValue(command, parsed, "--frames");
  const char* startText = optionValue(command, parsed, "--start");
  const char* endText = optionValue(command, parsed, "--end");
  if (framesText && (startText || endText)) {
    usageError(command, "--frames and --start or --end exclude each other");
    return false;
  }
  settings.hasFrames = framesText != nullptr;
  if (framesText) {
    std::string error;
    if (!parseFrameRange(framesText, settings.frames, error)) {
      usageError(command, "--frames: " + error);
      return false;
    }
  }
  settings.hasStart = startText != nullptr;
  if (startText && !parseNumber(startText, settings.start)) {
    usageError(command, "--start needs a number of seconds");
    return false;
  }
  settings.hasEnd = endText != nullptr;
  if (endText && !parseNumber(endText, settings.end)) {
    usageError(command, "--end needs a number of seconds");
    return false;
  }
  if (startText && endText && settings.end < settings.start) {
    usageError(command, "--end comes before --start");
    return false;
  }
  return true;
}

// The frames of the recording that the video shows, first to last.
struct VideoFrames {
  int64_t first;
  int64_t last;
  int64_t images;  // pictures of the video
};

double timeAsSeconds(float stamp) { return static_cast<double>(stamp); }

// The frames chosen by --frames, --start and --end; "" or the usage problem.
std::string chooseFrames(const VideoSettings& settings, const std::vector<float>& times,
                         const std::string& recordingName, VideoFrames& chosen) {
  const int64_t frames = static_cast<int64_t>(times.size());
  if (frames == 0) return "'" + recordingName + "' has no frame";
  chosen.first = 0;
  chosen.last = frames - 1;
  if (settings.hasFrames) {
    const std::string problem = frameListProblem({settings.frames}, frames, recordingName);
    if (!problem.empty()) return "--frames: " + problem;
    chosen.first = settings.frames.first;
    chosen.last = std::min(settings.frames.last, frames - 1);
    return "";
  }
  if (settings.hasStart) {
    int64_t frame = 0;
    while (frame < frames && !(timeAsSeconds(times[static_cast<size_t>(frame)]) >= settings.start))
      ++frame;
    if (frame == frames) {
      std::string problem = "--start: '" + recordingName + "' has no frame recorded at ";
      appendFormat(problem, "%g s or later", settings.start);
      return problem;
    }
    chosen.first = frame;
  }
  if (settings.hasEnd) {
    // Up to the first frame recorded after the end; a time that is not a
    // number does not end it.
    int64_t frame = chosen.first;
    while (frame < frames && !(timeAsSeconds(times[static_cast<size_t>(frame)]) > settings.end))
      ++frame;
    if (frame == chosen.first) {
      std::string problem = "--end: frame ";
      appendFormat(problem, "%" PRId64 ", the first one chosen, is recorded after %g s",
                   chosen.first, settings.end);
      return problem;
    }
    chosen.last = frame - 1;
  }
  return "";
}

// How many pictures the chosen frames make, on the clock the video uses;
// "" or the problem when the video would be too long.
std::string countImages(const VideoSettings& settings, const std::vector<float>& times,
                        VideoFrames& chosen) {
  double seconds = 0;
  for (int64_t frame = chosen.first + 1; frame <= chosen.last; ++frame) {
    seconds += frameGap(times[static_cast<size_t>(frame - 1)], times[static_cast<size_t>(frame)],
                        settings.keepPauses);
    if (seconds > kMaxVideoSeconds) {
      std::string problem;
      appendFormat(problem, "the video would last more than %g hours (at frame %" PRId64 ")",
                   kMaxVideoSeconds / 3600, frame);
      return problem;
    }
  }
  ImageClock clock;
  startImageClock(clock, settings.rate, settings.keepPauses);
  int64_t images = 0;
  for (int64_t frame = chosen.first; frame <= chosen.last; ++frame)
    images += imagesBeforeFrame(clock, times[static_cast<size_t>(frame)]);
  images += imagesOfLastFrame(clock);
  chosen.images = images;
  return "";
}

struct VideoSize {
  int width;
  int height;
};

// The picture size ffmpeg writes: the recorded one, padded to even for 4:2:0.
VideoSize encodedSize(const VideoCodec& codec, int width, int height) {
  if (!codec.evenSize) return {width, height};
  return {width + (width & 1), height + (height & 1)};
}

std::vector<std::string> ffmpegArguments(const std::string& program, const VideoSettings& settings,
                                         int width, int height, const std::string& partial) {
  const VideoCodec& codec = *settings.codec;
  const VideoSize size = encodedSize(codec, width, height);
  std::vector<std::string> arguments = {
      program, "-hide_banner", "-nostdin", "-loglevel", "error",
      "-f", "rawvideo", "-pixel_format", "rgb24",
      "-video_size", std::to_string(width) + "x" + std::to_string(height),
      "-framerate", settings.rateText, "-i", "pipe:0"};
  if (size.width != width || size.height != height) {
    arguments.push_back("-vf");
    arguments.push_back("pad=" + std::to_string(size.width) + ":" + std::to_string(size.height));
  }
  arguments.insert(arguments.end(), {"-c:v", codec.encoder});
  if (codec.takesPreset) arguments.insert(arguments.end(), {"-preset", settings.preset});
  if (codec.defaultCrf >= 0) arguments.insert(arguments.end(), {"-crf", std::to_string(settings.crf)});
  for (const char* const* option = codec.options; option < std::end(codec.options) && *option;
       ++option)
    arguments.push_back(*option);
  arguments.insert(arguments.end(), {"-pix_fmt", codec.pixelFormat});
  if (std::strcmp(codec.extension, ".mp4") == 0)
    arguments.insert(arguments.end(), {"-movflags", "+faststart"});
  arguments.insert(arguments.end(), settings.ffmpegExtra.begin(), settings.ffmpegExtra.end());
  arguments.insert(arguments.end(), {"-y", partial});
  return arguments;
}

// The drawing walk's state: ffmpeg fed, the clock, the timings.
struct VideoRun {
  FrameRenderer* renderer;
  ChildProcess* ffmpeg;
  VideoFrames chosen;
  ImageClock clock;
  std::vector<uint8_t> picture;  // the latest frame read, RGB, top row first
  int64_t written;               // pictures handed to ffmpeg
  ChildWrite writeEnd;           // Written, or how writing failed
  int writeError;
  double lastSeconds;  // the clock when the last frame's work ended
  double drawSeconds;  // reading the recording and drawing, up to glFinish
  double readSeconds;  // glReadPixels and the RGB rows
  double writeSeconds; // handing pictures to ffmpeg (waiting while it encodes)
};

// Hands `picture` to ffmpeg `count` times; false when it no longer takes it
// or an interrupt is noted.
bool writeImages(VideoRun& run, int64_t count) {
  for (int64_t image = 0; image < count; ++image) {
    size_t done = 0;
    while (done < run.picture.size()) {
      size_t written = 0;
      run.writeEnd = writeToChild(*run.ffmpeg, run.picture.data() + done,
                                  run.picture.size() - done, written, run.writeError);
      done += written;
      if (run.writeEnd == ChildWrite::Interrupted) {
        if (interruptNoted()) return false;
        continue;
      }
      if (run.writeEnd != ChildWrite::Written) return false;
    }
    ++run.written;
  }
  return true;
}

RecordAction videoFrame(void* context, int64_t frame, float timeStamp) {
  VideoRun& run = *static_cast<VideoRun*>(context);
  if (frame < run.chosen.first) return RecordAction::Continue;
  const double markSeconds = clockSeconds();
  const bool taken = writeImages(run, imagesBeforeFrame(run.clock, timeStamp));
  const double writtenSeconds = clockSeconds();
  run.writeSeconds += writtenSeconds - markSeconds;
  if (!taken) return RecordAction::Stop;
  finishDrawing(*run.renderer);
  const double drawnSeconds = clockSeconds();
  readFramePixels(*run.renderer, run.picture.data());
  const double readEndSeconds = clockSeconds();
  run.drawSeconds += (markSeconds - run.lastSeconds) + (drawnSeconds - writtenSeconds);
  run.readSeconds += readEndSeconds - drawnSeconds;
  run.lastSeconds = readEndSeconds;
  return frame >= run.chosen.last ? RecordAction::Stop : RecordAction::Continue;
}

// The last lines ffmpeg wrote on standard error, each as one error line.
void printFfmpegLines(const ChildErrorTail& tail) {
  std::vector<std::string> shown;
  size_t end = tail.length;
  while (end > 0 && shown.size() < kShownFfmpegLines) {
    size_t start = end;
    while (start > 0 && tail.text[start - 1] != '\n' && tail.text[start - 1] != '\r') --start;
    // A line cut at the start of a full tail is not shown.
    const bool whole = start > 0 || tail.length < sizeof tail.text;
    if (end > start && whole) shown.emplace_back(tail.text + start, end - start);
    end = start > 0 ? start - 1 : 0;
  }
  for (size_t i = shown.size(); i > 0; --i) printError("video: ffmpeg: " + shown[i - 1]);
}

std::string ffmpegEndText(const ChildEnd& end) {
  if (end.exited) return "exit status " + std::to_string(end.status);
  if (end.signal) return std::string("ended by signal ") + std::to_string(end.signal);
  return "its end unknown";
}

int64_t fileSize(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? static_cast<int64_t>(status.st_size) : -1;
}

bool pathExists(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0;
}

struct VideoReport {
  const VideoSettings* settings;
  VideoSize size;
  bool padded;
  int64_t bytes;
  const VideoRun* run;
  double encodeSeconds;      // ffmpeg started to ended
  double ffmpegCpuSeconds;
  std::string renderer;
  bool offscreen;
};

std::string jsonReport(const VideoReport& report) {
  const VideoSettings& settings = *report.settings;
  const VideoRun& run = *report.run;
  std::string out;
  JsonWriter json = makeJsonWriter(out);
  jsonBeginObject(json);
  jsonField(json, "recording", settings.recordingName);
  jsonField(json, "output", settings.output);
  jsonField(json, "format", settings.codec->extension + 1);
  jsonField(json, "codec", settings.codec->codec);
  jsonField(json, "encoder", settings.codec->encoder);
  jsonField(json, "pixel_format", settings.codec->pixelFormat);
  jsonField(json, "lossless", settings.codec->lossless);
  jsonField(json, "width", report.size.width);
  jsonField(json, "height", report.size.height);
  jsonField(json, "padded", report.padded);
  jsonField(json, "fps", settings.rate);
  jsonField(json, "recorded_time", settings.keepPauses);
  jsonField(json, "frames", run.written);
  jsonField(json, "duration", static_cast<double>(run.written) / settings.rate);
  jsonField(json, "size_bytes", report.bytes);
  jsonField(json, "first_frame", run.chosen.first);
  jsonField(json, "last_frame", run.chosen.last);
  jsonField(json, "renderer", report.renderer);
  jsonField(json, "surface", report.offscreen ? "offscreen" : "hidden window");
  jsonField(json, "encode_seconds", report.encodeSeconds);
  jsonField(json, "draw_seconds", run.drawSeconds);
  jsonField(json, "read_seconds", run.readSeconds);
  jsonField(json, "write_seconds", run.writeSeconds);
  jsonField(json, "ffmpeg_cpu_seconds", report.ffmpegCpuSeconds);
  jsonEndObject(json);
  out += '\n';
  return out;
}

std::string textReport(const VideoReport& report) {
  const VideoSettings& settings = *report.settings;
  const VideoRun& run = *report.run;
  std::string text = settings.output;
  appendFormat(text, ": %s of %d x %d at %s fps (%.3f s), %s %s by %s, %" PRId64 " bytes\n",
               counted(run.written, "frame").c_str(), report.size.width, report.size.height,
               settings.rateText.c_str(), static_cast<double>(run.written) / settings.rate,
               settings.codec->codec, settings.codec->pixelFormat, settings.codec->encoder,
               report.bytes);
  appendFormat(text, "  frames %" PRId64 " to %" PRId64 " of %s, encoded in %.1f s\n",
               run.chosen.first, run.chosen.last, settings.recordingName, report.encodeSeconds);
  return text;
}

}  // namespace

int videoCommand(const ParsedCommand& parsed) {
  VideoSettings settings{};
  if (!parseVideoSettings(parsed, settings)) return kExitUsage;
  if (pathExists(settings.output) && !settings.force)
    return usageError(kVideoSpec, "'" + settings.output + "' exists; --force writes over it");
  std::string ffmpegPath;
  if (!findProgram("ffmpeg", ffmpegPath)) {
    printError("video: needs the ffmpeg program (Debian package ffmpeg)");
    return kExitUsage;
  }

  OpenedRecording recording;
  if (!openRecordingOf(kVideoSpec, parsed, recording)) return kExitUsage;
  std::vector<float> times;
  if (!readFrameTimes(recording, times)) return kExitUsage;
  VideoRun run{};
  std::string problem = chooseFrames(settings, times, recording.segmentTemplate, run.chosen);
  if (problem.empty()) problem = countImages(settings, times, run.chosen);
  if (!problem.empty()) return usageError(kVideoSpec, problem);

  FrameRenderer renderer;
  if (!openRendererFor(renderer, recording)) return kExitUsage;
  const VideoSize size = encodedSize(*settings.codec, renderer.width, renderer.height);
  const bool padded = size.width != renderer.width || size.height != renderer.height;
  if (padded && !settings.quiet)
    printError("video: " + std::to_string(renderer.width) + " x " +
               std::to_string(renderer.height) + " is padded to " + std::to_string(size.width) +
               " x " + std::to_string(size.height) + " with black: " +
               settings.codec->pixelFormat + " needs an even width and height");
  run.renderer = &renderer;
  run.picture.assign(rgbFrameBytes(renderer), 0);
  startImageClock(run.clock, settings.rate, settings.keepPauses);

  // Ctrl+C reaches ffmpeg too (it shares our process group), which may then
  // close a whole but short file: whatever it did, the file is removed.
  noteInterrupts();
  ignoreBrokenPipes();
  const std::string partial = partialPath(settings.output, settings.codec->extension);
  ChildProcess ffmpeg{};
  int startError = 0;
  const double encodeStart = clockSeconds();
  if (!startChild(ffmpeg, ffmpegArguments(ffmpegPath, settings, renderer.width, renderer.height,
                                          partial),
                  startError)) {
    if (startError == ENOENT) {
      printError("video: needs the ffmpeg program (Debian package ffmpeg)");
    } else {
      printError("video: cannot start '" + ffmpegPath + "': " + std::strerror(startError));
    }
    return kExitUsage;
  }
  run.ffmpeg = &ffmpeg;
  run.writeEnd = ChildWrite::Written;
  run.lastSeconds = clockSeconds();

  const FrameWalkResult walk = drawEveryFrame(recording, renderer, &run, videoFrame, "video",
                                              run.chosen.images, &run.written);
  if (!walk.interrupted && run.writeEnd == ChildWrite::Written) {
    const double lastStart = clockSeconds();
    writeImages(run, imagesOfLastFrame(run.clock));
    run.writeSeconds += clockSeconds() - lastStart;
  }
  const ChildEnd end = finishChild(ffmpeg);
  const double encodeSeconds = clockSeconds() - encodeStart;

  const int interrupted = walk.interrupted ? walk.interrupted : interruptNoted();
  if (interrupted) {
    std::remove(partial.c_str());
    printError("video interrupted: '" + settings.output + "' not written");
    endByInterrupt(interrupted);
  }
  const bool ffmpegFailed = !end.exited || end.status != 0;
  if (ffmpegFailed || run.writeEnd != ChildWrite::Written) {
    std::remove(partial.c_str());
    printFfmpegLines(ffmpeg.tail);
    std::string reason = ffmpegFailed ? "ffmpeg failed (" + ffmpegEndText(end) + ")"
                         : run.writeEnd == ChildWrite::Closed
                             ? "ffmpeg stopped reading the frames"
                             : std::string("cannot write to ffmpeg: ") +
                                   std::strerror(run.writeError);
    printError("video: " + reason + ": '" + settings.output + "' not written");
    return kExitUsage;
  }
  if (std::rename(partial.c_str(), settings.output.c_str()) != 0) {
    const int error = errno;
    std::remove(partial.c_str());
    printError("cannot write '" + settings.output + "': " + std::strerror(error));
    return kExitUsage;
  }

  VideoReport report{};
  report.settings = &settings;
  report.size = size;
  report.padded = padded;
  report.bytes = fileSize(settings.output);
  report.run = &run;
  report.encodeSeconds = encodeSeconds;
  report.ffmpegCpuSeconds = end.cpuSeconds;
  report.renderer = rendererName(renderer);
  report.offscreen = renderer.offscreen;
  printOut(settings.json ? jsonReport(report) : textReport(report));
  return drawingStatus(walk.damaged ? kExitDamaged : kExitSuccess, renderer,
                       settings.allowMissingTextures);
}

}  // namespace drec
