// drec video, run as the built program with no X server (SDL's offscreen
// driver) and, when there is one, in a hidden window: lossless videos
// decoded by ffmpeg equal the pictures of drec export, frame for frame and
// byte for byte, over the whole recording and over a chosen range; ffprobe
// finds the frame count, duration, size, codec and pixel format each format
// and option should give (paced and recorded time, a fractional rate, odd
// sizes padded, damage); the default .mp4 of the demo has its index first;
// an existing output, a missing ffmpeg and a failing one are refused with
// exit status 2; an interrupted encode leaves no file behind.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/child_process.hpp"
#include "tests/support/drec_tool.hpp"
#include "tests/support/json_reader.hpp"
#include "tests/support/player_folder.hpp"
#include "tests/support/probe_scene.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/test_paths.hpp"
#include "tests/support/window_support.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

using namespace test;

// Seven frames, each in a chunk of its own, layering quads of their own
// colour (every other one textured) over the frames before. At 10 frames
// a second on the paced clock (pause cut to 0.25 s, the step back counting
// as nothing) the video shows frames 0 1 2 2 2 3 5 6: 0.8 s; with the
// pauses kept, 36 frames, 3.6 s.
const float kStamps[] = {0.0f, 0.1f, 0.2f, 3.2f, 3.3f, 3.25f, 3.4f};
constexpr int kFrames = 7;

// `damaged`: an unknown record after frame 3's mark ends that chunk's walk;
// every frame is still there.
std::vector<uint8_t> smallRecording(int16_t width, int16_t height, bool damaged) {
  TextureTable keys{};
  keys[kQuadrantsSlot] = kQuadrantsKey;
  RecordingWriter writer;
  beginRecording(writer, width, height, keys);
  for (int frame = 0; frame < kFrames; ++frame) {
    const auto left = static_cast<uint8_t>(10 + 30 * frame);
    const PackedColor16 color = packColor(1, static_cast<unsigned>(6 + frame),
                                          static_cast<unsigned>(15 - 2 * frame), static_cast<unsigned>(2 * frame));
    writeQuad(writer, Quad{frame % 2 ? kQuadrantsSlot : 0, 0, left, 20, static_cast<uint8_t>(left + 60),
                           static_cast<uint8_t>(120 + 10 * frame), color});
    writeFrameMark(writer, kStamps[frame]);
    if (damaged && frame == 3) {
      writer.records.push_back(9);
      writer.records.push_back(0);
    }
    flushChunk(writer);
  }
  return finishRecording(writer);
}

// A folder with the recordings: small.rec (640 x 480, textures beside it),
// odd.rec (101 x 75) and damaged.rec.
struct Recordings {
  TempDirectory folder;
  Recordings() {
    EXPECT_TRUE(writeBytesToFile(folder.path + "/small.rec", smallRecording(640, 480, false)));
    EXPECT_TRUE(writeBytesToFile(folder.path + "/odd.rec", smallRecording(101, 75, false)));
    EXPECT_TRUE(writeBytesToFile(folder.path + "/damaged.rec", smallRecording(640, 480, true)));
    EXPECT_TRUE(writeProbeTextures(folder.path + "/Video/TexDump"));
  }
  std::string path(const std::string& name) const { return folder.path + "/" + name; }
};

bool exists(const std::string& path) { return std::filesystem::exists(path); }

std::string programPath(const char* name) {
  std::string path;
  EXPECT_TRUE(findProgram(name, path)) << name << " is not installed (tools/install-packages.sh test)";
  return path;
}

// ffmpeg and ffprobe, with a timeout; their standard output.
ProgramResult runTool(const char* name, const std::vector<std::string>& arguments) {
  ProgramRun run;
  run.arguments = {programPath(name)};
  run.arguments.insert(run.arguments.end(), arguments.begin(), arguments.end());
  run.timeoutSeconds = 60;
  return runProgram(run);
}

struct Probe {
  std::string codec;
  std::string pixelFormat;
  int64_t width = 0;
  int64_t height = 0;
  int64_t frames = 0;
  std::string rate;
  double duration = 0;
};

bool probe(const std::string& path, Probe& found) {
  const ProgramResult result =
      runTool("ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                          "stream=codec_name,pix_fmt,width,height,nb_read_frames,avg_frame_rate:"
                          "format=duration",
                          "-of", "json", path});
  Json json;
  if (result.exitStatus != 0 || !parseJson(result.output, json)) return false;
  const Json& stream = json["streams"][0];
  found.codec = stream["codec_name"].text;
  found.pixelFormat = stream["pix_fmt"].text;
  found.width = stream["width"].integer();
  found.height = stream["height"].integer();
  found.frames = std::stoll(stream["nb_read_frames"].text);
  found.rate = stream["avg_frame_rate"].text;
  found.duration = std::stod(json["format"]["duration"].text);
  return true;
}

// Every frame of a video as RGB bytes, one after the other.
std::string decodeRgb(const std::string& path) {
  const ProgramResult result =
      runTool("ffmpeg", {"-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
  EXPECT_EQ(0, result.exitStatus) << "ffmpeg could not decode " << path;
  return result.output;
}

std::vector<uint8_t> readPngRgb(const std::string& path) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  std::vector<uint8_t> rgb;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return rgb;
  image.format = PNG_FORMAT_RGB;
  rgb.assign(PNG_IMAGE_SIZE(image), 0);
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) rgb.clear();
  return rgb;
}

std::string pngName(const char* prefix, int number) {
  char name[40];
  std::snprintf(name, sizeof name, "%s-%06d.png", prefix, number);
  return name;
}

// The decoded video holds exactly these PNG pictures, in this order.
void expectFramesEqual(const std::string& video, const std::vector<std::string>& pngs,
                       const std::string& row) {
  const std::string decoded = decodeRgb(video);
  constexpr size_t kFrameBytes = 640 * 480 * 3;
  ASSERT_EQ(pngs.size() * kFrameBytes, decoded.size()) << row << ": frames decoded";
  for (size_t image = 0; image < pngs.size(); ++image) {
    const std::vector<uint8_t> expected = readPngRgb(pngs[image]);
    ASSERT_EQ(kFrameBytes, expected.size()) << row << ": " << pngs[image];
    size_t differing = 0;
    for (size_t i = 0; i < kFrameBytes; ++i)
      if (static_cast<uint8_t>(decoded[image * kFrameBytes + i]) != expected[i]) ++differing;
    EXPECT_EQ(0u, differing) << row << ": video frame " << image << " differs from " << pngs[image];
  }
}

TEST(DrecVideo, LosslessFramesEqualExportedPictures) {
  Recordings recordings;
  const DrecResult exported =
      runDrec({"export", "small.rec", "--out", "fixed", "--fps", "10"}, recordings.folder.path);
  ASSERT_EQ(0, exported.status) << exported.err;
  const DrecResult ranged =
      runDrec({"export", "small.rec", "--out", "chosen", "--frames", "2-5"}, recordings.folder.path);
  ASSERT_EQ(0, ranged.status) << ranged.err;
  std::vector<std::string> everyImage;
  for (int image = 0; image < 8; ++image)
    everyImage.push_back(recordings.path("fixed/" + pngName("image", image)));
  ASSERT_FALSE(exists(recordings.path("fixed/" + pngName("image", 8)))) << "export made 8 images";
  // Frames 2 to 5 on a clock that starts at frame 2: 2 at 0, 3 at 0.25,
  // 4 and 5 at 0.35 s, and 5 shown until 0.45 s.
  std::vector<std::string> range;
  for (int frame : {2, 2, 2, 3, 5}) range.push_back(recordings.path("chosen/" + pngName("frame", frame)));

  struct Row {
    const char* name;
    std::vector<std::string> arguments;
    const std::vector<std::string>* expected;
    bool x11;
  };
  const Row rows[] = {
      {"FFV1 in .mkv", {"all.mkv"}, &everyImage, false},
      {"H.264 RGB in .mp4", {"all.mp4"}, &everyImage, false},
      {"in a hidden window", {"window.mkv"}, &everyImage, true},
      {"--frames 2-5", {"frames.mkv", "--frames", "2-5"}, &range, false},
      {"--start 0.15 --end 3.3", {"times.mkv", "--start", "0.15", "--end", "3.3"}, &range, false},
  };
  for (const Row& row : rows) {
    if (row.x11 && !haveDisplay()) {
      if (ciRun()) ADD_FAILURE() << "CI=true but no X server (DISPLAY unset)";
      std::printf("*** SKIPPED %s: no X server (DISPLAY unset) ***\n", row.name);
      continue;
    }
    std::vector<std::string> arguments = {"video", "small.rec", "--lossless", "--fps", "10", "--quiet"};
    arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
    const DrecResult result = runDrec(arguments, recordings.folder.path,
                                      row.x11 ? DrecDisplay::X11 : DrecDisplay::None, 60);
    ASSERT_FALSE(result.timedOut) << row.name;
    ASSERT_EQ(0, result.status) << row.name << ": " << result.err;
    EXPECT_EQ("", result.err) << row.name;
    expectFramesEqual(recordings.path(row.arguments[0]), *row.expected, row.name);
  }
}

TEST(DrecVideo, FormatsFrameCountsAndDurations) {
  Recordings recordings;
  struct Row {
    const char* recording;
    std::vector<std::string> arguments;  // the output first
    int status;
    const char* codec;
    const char* pixelFormat;
    int width, height;
    int frames;
    const char* rate;
    double duration;
    const char* note;  // in standard error, "" for none
  };
  const Row rows[] = {
      {"small.rec", {"paced.mp4", "--fps", "10"}, 0, "h264", "yuv420p", 640, 480, 8, "10/1", 0.8, ""},
      {"small.rec", {"recorded.mkv", "--fps", "10", "--recorded-time"}, 0, "h264", "yuv420p", 640, 480, 36, "10/1", 3.6, ""},
      {"small.rec", {"small.webm", "--fps", "10"}, 0, "vp9", "yuv420p", 640, 480, 8, "10/1", 0.8, ""},
      // Images at k x 1.001 / 30 s up to 0.7 s, and one more for the last frame.
      {"small.rec", {"ntsc.mp4", "--fps", "30000/1001"}, 0, "h264", "yuv420p", 640, 480, 22,
       "30000/1001", 22 * 1.001 / 30, ""},
      {"odd.rec", {"odd.mp4", "--fps", "10"}, 0, "h264", "yuv420p", 102, 76, 8, "10/1", 0.8,
       "drec: video: 101 x 75 is padded to 102 x 76 with black: yuv420p needs an even width and height\n"},
      {"odd.rec", {"odd.mkv", "--fps", "10", "--lossless"}, 0, "ffv1", "bgr0", 101, 75, 8, "10/1", 0.8, ""},
      {"damaged.rec", {"damaged.mp4", "--fps", "10"}, 1, "h264", "yuv420p", 640, 480, 8, "10/1", 0.8,
       "Unknown record type 9"},
  };
  for (const Row& row : rows) {
    const std::string name = std::string(row.recording) + " " + argumentText(row.arguments);
    std::vector<std::string> arguments = {"video", row.recording, "--json"};
    arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
    const DrecResult result = runDrec(arguments, recordings.folder.path, DrecDisplay::None, 60);
    ASSERT_FALSE(result.timedOut) << name;
    ASSERT_EQ(row.status, result.status) << name << ": " << result.err;
    if (*row.note) {
      EXPECT_NE(std::string::npos, result.err.find(row.note)) << name << ": " << result.err;
    } else {
      EXPECT_EQ("", result.err) << name;
    }
    const std::string output = recordings.path(row.arguments[0]);
    Probe found;
    ASSERT_TRUE(probe(output, found)) << name;
    EXPECT_EQ(row.codec, found.codec) << name;
    EXPECT_EQ(row.pixelFormat, found.pixelFormat) << name;
    EXPECT_EQ(row.width, found.width) << name;
    EXPECT_EQ(row.height, found.height) << name;
    EXPECT_EQ(row.frames, found.frames) << name;
    EXPECT_EQ(row.rate, found.rate) << name;
    EXPECT_NEAR(row.duration, found.duration, 0.02) << name;
    Json json;
    ASSERT_TRUE(parseJson(result.out, json)) << name << ": " << result.out;
    EXPECT_EQ(row.frames, json["frames"].integer()) << name;
    EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(output)), json["size_bytes"].integer()) << name;
    EXPECT_EQ(row.codec, json["codec"].text) << name;
    EXPECT_FALSE(exists(recordings.path("." + row.arguments[0] + ".partial" +
                                        std::filesystem::path(output).extension().string())))
        << name;
  }
}

// The top-level boxes of an MP4 file, in order, up to `limit` of them.
std::vector<std::string> mp4Boxes(const std::vector<uint8_t>& file, size_t limit) {
  std::vector<std::string> boxes;
  size_t at = 0;
  while (at + 8 <= file.size() && boxes.size() < limit) {
    const uint64_t size = uint64_t{file[at]} << 24 | uint64_t{file[at + 1]} << 16 |
                          uint64_t{file[at + 2]} << 8 | file[at + 3];
    boxes.emplace_back(reinterpret_cast<const char*>(&file[at + 4]), 4);
    if (size < 8) break;  // 0 (to the end) or 1 (a 64-bit size): not before the index
    at += size;
  }
  return boxes;
}

TEST(DrecVideo, DemoMp4PlaysInBrowsers) {
  TempDirectory folder;
  const std::string demo = buildDirectory() + "/player/" + kDefaultTemplate;
  const DrecResult result =
      runDrec({"video", demo, "demo.mp4", "--frames", "0-119"}, folder.path, DrecDisplay::None, 120);
  ASSERT_FALSE(result.timedOut);
  ASSERT_EQ(0, result.status) << result.err;
  EXPECT_EQ("", result.err);
  EXPECT_EQ(0u, result.out.rfind("demo.mp4: 120 frames of 640 x 480 at 60 fps (2.000 s), h264 yuv420p", 0))
      << result.out;
  Probe found;
  ASSERT_TRUE(probe(folder.path + "/demo.mp4", found));
  EXPECT_EQ("h264", found.codec);
  EXPECT_EQ("yuv420p", found.pixelFormat);
  EXPECT_EQ(640, found.width);
  EXPECT_EQ(480, found.height);
  EXPECT_EQ(120, found.frames) << "the demo is recorded at 60 frames a second";
  EXPECT_NEAR(2.0, found.duration, 0.02);
  const std::vector<std::string> boxes = mp4Boxes(readFile(folder.path + "/demo.mp4"), 8);
  const auto index = std::find(boxes.begin(), boxes.end(), "moov");
  const auto data = std::find(boxes.begin(), boxes.end(), "mdat");
  ASSERT_NE(boxes.end(), index) << "no index (moov) found";
  EXPECT_LT(index - boxes.begin(), data - boxes.begin()) << "the index does not come first (+faststart)";
}

TEST(DrecVideo, RefusalsLeaveNoOutput) {
  Recordings recordings;
  ASSERT_TRUE(writeBytesToFile(recordings.path("taken.mp4"), {1, 2, 3}));
  TempDirectory emptyPath;
  struct Row {
    const char* name;
    std::vector<std::string> arguments;  // after "video small.rec"; the output first
    std::vector<std::string> environment;
    std::vector<std::string> errors;  // each in standard error
  };
  const Row rows[] = {
      {"an existing output", {"taken.mp4"}, {}, {"drec: video: 'taken.mp4' exists; --force writes over it\n"}},
      {"no ffmpeg in PATH", {"none.mp4"}, {"PATH=" + emptyPath.path},
       {"drec: video: needs the ffmpeg program (Debian package ffmpeg)\n"}},
      {"ffmpeg failing", {"failed.mp4", "--ffmpeg-arg", "-no-such-option"}, {},
       {"drec: video: ffmpeg: Unrecognized option 'no-such-option'.\n",
        "drec: video: ffmpeg failed (exit status 1): 'failed.mp4' not written\n"}},
      {"an unknown format", {"clip.avi"}, {}, {"OUT must end in .mp4, .mkv or .webm"}},
      {"a frame the recording lacks", {"late.mp4", "--frames", "5-7"}, {},
       {"'small.rec' has 7 frames (0 to 6): no frame 7"}},
  };
  for (const Row& row : rows) {
    std::vector<std::string> arguments = {"video", "small.rec"};
    arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
    const DrecResult result = runDrec(arguments, recordings.folder.path, DrecDisplay::None, 60,
                                      DrecOutput::Pipe, row.environment);
    ASSERT_FALSE(result.timedOut) << row.name;
    EXPECT_EQ(2, result.status) << row.name << ": " << result.err;
    EXPECT_EQ("", result.out) << row.name;
    for (const std::string& error : row.errors)
      EXPECT_NE(std::string::npos, result.err.find(error)) << row.name << ": " << result.err;
    const std::string output = row.arguments[0];
    if (output != "taken.mp4") {
      EXPECT_FALSE(exists(recordings.path(output))) << row.name;
    }
    EXPECT_FALSE(exists(recordings.path("." + output + ".partial" +
                                        std::filesystem::path(output).extension().string())))
        << row.name;
  }
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), readFile(recordings.path("taken.mp4")))
      << "a refused output is left as it was";
  const DrecResult forced = runDrec({"video", "small.rec", "taken.mp4", "--force", "--quiet"},
                                    recordings.folder.path, DrecDisplay::None, 60);
  EXPECT_EQ(0, forced.status) << forced.err;
  Probe found;
  EXPECT_TRUE(probe(recordings.path("taken.mp4"), found)) << "--force writes over it";
}

// The children of a process, from /proc.
std::vector<int> childrenOf(int pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children";
  const std::vector<uint8_t> bytes = readFile(path);
  std::vector<int> children;
  int number = 0;
  bool inNumber = false;
  for (uint8_t byte : bytes) {
    if (byte >= '0' && byte <= '9') {
      number = number * 10 + (byte - '0');
      inNumber = true;
    } else if (inNumber) {
      children.push_back(number);
      number = 0;
      inNumber = false;
    }
  }
  if (inNumber) children.push_back(number);
  return children;
}

TEST(DrecVideo, InterruptedEncodeLeavesNoFile) {
  const std::string demo = buildDirectory() + "/player/" + kDefaultTemplate;
  struct Row {
    const char* name;
    bool ffmpegToo;  // as Ctrl+C on a terminal signals the whole process group
  };
  for (const Row row : {Row{"drec alone", false}, Row{"drec and ffmpeg", true}}) {
    TempDirectory folder;
    ProgramRun run;
    run.arguments = {buildDirectory() + "/tools/drec", "video", demo, "demo.mp4", "--quiet"};
    run.workingDirectory = folder.path;
    RunningProgram program;
    StopAtExit stop(program);
    ASSERT_TRUE(startProgram(run, program)) << row.name;
    const std::string partial = folder.path + "/.demo.mp4.partial.mp4";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!(exists(partial) && std::filesystem::file_size(partial) > 0) &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(exists(partial)) << row.name << ": ffmpeg never started writing";
    std::vector<int> signalled = {program.pid};
    if (row.ffmpegToo) {
      const std::vector<int> children = childrenOf(program.pid);
      ASSERT_EQ(1u, children.size()) << row.name << ": ffmpeg runs as drec's one child";
      signalled.push_back(children[0]);
    }
    for (int pid : signalled) kill(pid, SIGINT);
    const ProgramResult result = finishProgram(program, 30);
    EXPECT_FALSE(result.timedOut) << row.name;
    EXPECT_EQ(SIGINT, result.signal) << row.name << ": drec ends by the signal";
    EXPECT_FALSE(exists(folder.path + "/demo.mp4")) << row.name;
    EXPECT_FALSE(exists(partial)) << row.name;
  }
}

}  // namespace
}  // namespace drec
