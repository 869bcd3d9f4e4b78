// drec bench, export, hash and verify. In-process: frame lists, the
// fixed-rate image clock, frame-time statistics and the pixel hash. As the
// built program on recordings the tests write, both in a hidden window under
// X and with SDL's offscreen driver and no X server: exported pictures
// (probe colours frame by frame, layered in order, at the recorded size),
// the image sequence of --fps, hashes that are stable, equal the exported
// pixels and change with one triangle, verify naming the first different
// frame (as text and as JSON), bench's counts and statistics, damage, usage errors, and every
// subcommand on the bundled demo. Under X, the last exported frame equals a
// screenshot of the player's window, pixel for pixel.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <signal.h>
#include <unistd.h>

#include "recording/format.hpp"
#include "tests/support/drec_tool.hpp"
#include "tests/support/json_reader.hpp"
#include "tests/support/player_folder.hpp"
#include "tests/support/probe_scene.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/test_paths.hpp"
#include "tests/support/window_support.hpp"
#include "tests/support/x11_tools.hpp"
#include "tests/support/xwd_image.hpp"
#include "tools/drec/frame_plan.hpp"
#include "tools/writer/bmp_writer.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

using namespace test;  // the probe scene, the drec tool and its JSON

// In-process: frame lists and ranges.

TEST(DrecFramePlan, FrameListsAndRanges) {
  struct Row {
    const char* text;
    std::vector<FrameRange> ranges;
  };
  const Row valid[] = {
      {"0", {{0, 0}}},
      {"0,100-105", {{0, 0}, {100, 105}}},
      {"600-", {{600, kToLastFrame}}},
      {"7-7,3", {{7, 7}, {3, 3}}},
      {"999999999999999999", {{999999999999999999, 999999999999999999}}},
  };
  for (const Row& row : valid) {
    std::vector<FrameRange> ranges;
    std::string error;
    EXPECT_TRUE(parseFrameList(row.text, ranges, error)) << "list \"" << row.text << "\": " << error;
    ASSERT_EQ(row.ranges.size(), ranges.size()) << "list \"" << row.text << "\"";
    for (size_t i = 0; i < ranges.size(); ++i) {
      EXPECT_EQ(row.ranges[i].first, ranges[i].first) << "list \"" << row.text << "\" range " << i;
      EXPECT_EQ(row.ranges[i].last, ranges[i].last) << "list \"" << row.text << "\" range " << i;
    }
  }
  for (const char* text : {"", ",", "1,", ",1", "5-3", "-3", "a", "1-2-3", "1 ,2", "+1", "1.5",
                           "1000000000000000000"}) {
    std::vector<FrameRange> ranges;
    std::string error;
    EXPECT_FALSE(parseFrameList(text, ranges, error)) << "list \"" << text << "\"";
    EXPECT_FALSE(error.empty()) << "list \"" << text << "\" refused without a reason";
  }

  std::vector<FrameRange> list;
  std::string error;
  ASSERT_TRUE(parseFrameList("0,100-105,300-", list, error));
  const std::pair<int64_t, bool> membership[] = {{0, true},    {1, false},  {99, false},
                                                 {100, true},  {105, true}, {106, false},
                                                 {299, false}, {300, true}, {123456789, true}};
  for (const auto& [frame, inside] : membership)
    EXPECT_EQ(inside, frameInList(list, frame)) << "frame " << frame;
  EXPECT_EQ(kToLastFrame, lastListedFrame(list));
  ASSERT_TRUE(parseFrameList("4,100-105,7", list, error));
  EXPECT_EQ(105, lastListedFrame(list));

  FrameRange range{};
  ASSERT_TRUE(parseFrameRange("5-9", range, error));
  EXPECT_EQ(5, range.first);
  EXPECT_EQ(9, range.last);
  EXPECT_FALSE(parseFrameRange("5,9", range, error));
}

// In-process: the image clock of export --fps.

// The frame each image shows, for frames with these recorded times.
std::vector<int> imagesFor(const std::vector<float>& stamps, double rate) {
  ImageClock clock;
  startImageClock(clock, rate);
  std::vector<int> shown;
  for (size_t frame = 0; frame < stamps.size(); ++frame) {
    const int64_t count = imagesBeforeFrame(clock, stamps[frame]);
    shown.insert(shown.end(), static_cast<size_t>(count), static_cast<int>(frame) - 1);
  }
  const int64_t last = imagesOfLastFrame(clock);
  shown.insert(shown.end(), static_cast<size_t>(last), static_cast<int>(stamps.size()) - 1);
  return shown;
}

std::string listText(const std::vector<int>& values) {
  std::string text;
  for (int value : values) text += std::to_string(value) + " ";
  return text;
}

TEST(DrecFramePlan, ImageClockFollowsRecordedTimesAsThePlayerPacesThem) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float infinity = std::numeric_limits<float>::infinity();
  struct Row {
    const char* name;
    std::vector<float> stamps;
    double rate;
    std::vector<int> frames;  // the frame each image shows
  };
  const Row rows[] = {
      {"one image per frame", {0.0f, 0.125f, 0.25f, 0.375f}, 8, {0, 1, 2, 3}},
      {"twice the frame rate", {0.0f, 0.25f, 0.5f}, 8, {0, 0, 1, 1, 2}},
      {"half the frame rate skips frames", {0.0f, 0.125f, 0.25f, 0.375f, 0.5f}, 4, {0, 2, 4}},
      {"a pause of 3 s plays as 0.25 s", {0.0f, 0.125f, 0.25f, 0.375f, 3.375f, 3.5f}, 8,
       {0, 1, 2, 3, 3, 4, 5}},
      {"a gap of exactly 0.25 s is kept", {0.0f, 0.25f}, 8, {0, 0, 1}},
      {"a late first frame starts the sequence", {10.0f, 10.25f}, 4, {0, 1}},
      {"going backwards counts as no time", {0.0f, 0.5f, 0.25f, 0.375f}, 8, {0, 0, 2, 3}},
      {"not a number counts as no time, the next gap from the last number",
       {0.0f, nan, 0.125f}, 8, {1, 2}},
      {"an infinite stamp is a pause", {0.0f, infinity, 0.125f}, 8, {0, 0, 1, 2}},
      {"a frame due within the slack after an image shows in it", {0.0f, 0.1251f}, 8, {0, 1}},
      {"a frame due later than the slack waits for the next image", {0.0f, 0.1253f}, 8,
       {0, 0, 1}},
      {"thirds of a second as floats", {0.0f, 1.0f / 3.0f, 2.0f / 3.0f, 1.0f}, 3, {0, 1, 2, 3}},
      {"one frame gives one image", {4.0f}, 30, {0}},
      {"no frame gives no image", {}, 30, {}},
  };
  for (const Row& row : rows) {
    const std::vector<int> shown = imagesFor(row.stamps, row.rate);
    EXPECT_EQ(listText(row.frames), listText(shown)) << row.name;
  }
  EXPECT_EQ(0.0, frameGap(1.0f, 0.5f));
  EXPECT_EQ(kPauseThreshold, frameGap(0.0f, 100.0f));
  EXPECT_EQ(0.125, frameGap(0.25f, 0.375f));
}

// In-process: frame-time statistics.

TEST(DrecFramePlan, FrameTimeStatisticsByNearestRank) {
  struct Row {
    const char* name;
    std::vector<double> millis;
    double min, mean, p50, p95, p99, max;
  };
  std::vector<double> hundred;
  for (int i = 100; i >= 1; --i) hundred.push_back(i);
  std::vector<double> twoHundred;
  for (int i = 1; i <= 200; ++i) twoHundred.push_back(i);
  const Row rows[] = {
      {"1 to 100, given in reverse", hundred, 1, 50.5, 50, 95, 99, 100},
      {"1 to 200", twoHundred, 1, 100.5, 100, 190, 198, 200},
      {"1 to 10", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 1, 5.5, 5, 10, 10, 10},
      {"unsorted three", {3, 1, 2}, 1, 2, 2, 3, 3, 3},
      {"two", {4, 8}, 4, 6, 4, 8, 8, 8},
      {"one", {7}, 7, 7, 7, 7, 7, 7},
  };
  for (const Row& row : rows) {
    std::vector<double> seconds;
    double total = 0;
    for (double ms : row.millis) {
      seconds.push_back(ms / 1000.0);
      total += ms / 1000.0;
    }
    const FrameTimeStats stats = frameTimeStats(seconds);
    EXPECT_EQ(static_cast<int64_t>(row.millis.size()), stats.frames) << row.name;
    EXPECT_NEAR(total, stats.seconds, 1e-12) << row.name;
    EXPECT_NEAR(static_cast<double>(row.millis.size()) / total, stats.framesPerSecond, 1e-9) << row.name;
    EXPECT_NEAR(row.min, stats.minMs, 1e-9) << row.name << ": min";
    EXPECT_NEAR(row.mean, stats.meanMs, 1e-9) << row.name << ": mean";
    EXPECT_NEAR(row.p50, stats.p50Ms, 1e-9) << row.name << ": p50";
    EXPECT_NEAR(row.p95, stats.p95Ms, 1e-9) << row.name << ": p95";
    EXPECT_NEAR(row.p99, stats.p99Ms, 1e-9) << row.name << ": p99";
    EXPECT_NEAR(row.max, stats.maxMs, 1e-9) << row.name << ": max";
  }
  std::vector<double> none;
  const FrameTimeStats empty = frameTimeStats(none);
  EXPECT_EQ(0, empty.frames);
  EXPECT_EQ(0.0, empty.framesPerSecond);
}

// In-process: the pixel hash, against the published FNV-1a test vectors.

TEST(DrecFramePlan, Fnv1a64) {
  struct Row {
    const char* text;
    uint64_t hash;
  };
  const Row rows[] = {
      {"", 0xcbf29ce484222325ull},
      {"a", 0xaf63dc4c8601ec8cull},
      {"foobar", 0x85944171f73967e8ull},
  };
  for (const Row& row : rows)
    EXPECT_EQ(row.hash, fnv1a64(reinterpret_cast<const uint8_t*>(row.text), std::strlen(row.text)))
        << "\"" << row.text << "\"";
  const auto* bytes = reinterpret_cast<const uint8_t*>("foobar");
  EXPECT_EQ(0x85944171f73967e8ull, fnv1a64(bytes + 3, 3, fnv1a64(bytes, 3)));
}

// The recordings: quads of two triangles at known places.

constexpr int16_t kWidth = 640;
constexpr int16_t kHeight = 480;

// Five frames that draw over each other. Marks five seconds apart: the
// player cuts each wait to a quarter second and never drops a frame.
// `changed`: one triangle of frame 2 is tinted yellow.
std::vector<Frame> layeredFrames(bool changed = false) {
  return {
      {5.0f,
       {
           {0, 0, 20, 20, 70, 70, kRed},        // A
           {0, 0, 20, 150, 120, 230, kYellow},  // B
       }},
      {10.0f,
       {
           {0, 0, 185, 20, 235, 70, kLime},    // C
           {0, 0, 45, 20, 70, 70, kViolet},    // D, over the right half of A
       }},
      {15.0f,
       {
           {kQuadrantsSlot, 0, 90, 20, 165, 110, kOpaqueWhite, kNearDepth,
            changed ? kYellow : PackedColor16{0}},  // E
       }},
      {20.0f,
       {
           {kKeyedSlot, 1, 20, 150, 80, 230, kOpaqueWhite},    // F, over the left of B
           {kKeyedSlot, 0, 185, 150, 235, 230, kOpaqueWhite},  // G
       }},
      {25.0f,
       {
           {0, 2, 180, 15, 240, 75, kBlue},        // I: leaves C as it was
           {0, 1, 95, 150, 120, 230, kHalfWhite},  // J, half over the right of B
       }},
  };
}

// A probe shows `before` in frames before `from` and `after` from it on.
struct Probe {
  const char* name;
  double x, y;  // recorded screen, 1/255 units
  int from;
  unsigned before;
  unsigned after;
};

const Probe kLayeredProbes[] = {
    {"A, left of D", 30, 45, 0, 0x000000, 0xFF0000},
    {"D over the right of A", 60, 45, 1, 0xFF0000, 0x6600FF},
    {"C, kept by frame 4's blend modes 2", 210, 45, 1, 0x000000, 0x66FF00},
    {"E top-left texels", 108.75, 42.5, 2, 0x000000, kTopLeft},
    {"E bottom-right texels", 146.25, 87.5, 2, 0x000000, kBottomRight},
    {"F keyed texels let B through", 35, 190, 0, 0x000000, 0xFFFF00},
    {"F opaque texels over B", 65, 190, 3, 0xFFFF00, kOrange},
    {"G keyed texels drawn with blending off", 197.5, 190, 3, 0x000000, kNearBlack},
    {"G opaque texels", 222.5, 190, 3, 0x000000, kOrange},
    {"J half white over B", 107.5, 190, 4, 0xFFFF00, 0xFFFF80},
    {"nothing drawn between B and G", 150, 190, 0, 0x000000, 0x000000},
};
constexpr int kLayeredFrameCount = 5;

// The layered recording at ROOT/Video/Stream/ with its textures in
// ROOT/Video/TexDump/, where the player and the tool's default rule look.
void writeLayeredAtDefaultPlace(const std::string& root) {
  ASSERT_TRUE(writeBytesToFile(root + "/" + kDefaultSegment0, probeRecording(layeredFrames(), true)));
  ASSERT_TRUE(writeProbeTextures(root + "/Video/TexDump"));
}

// Reading the PNG files back.

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  unsigned pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return 0;
    const size_t at = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
    return static_cast<unsigned>(rgb[at]) << 16 | static_cast<unsigned>(rgb[at + 1]) << 8 | rgb[at + 2];
  }
};

bool readPng(const std::string& path, Picture& picture, std::string& error) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    error = path + ": " + image.message;
    return false;
  }
  if (image.format != PNG_FORMAT_RGB) {
    error = path + ": not an 8-bit RGB picture";
    png_image_free(&image);
    return false;
  }
  picture.width = static_cast<int>(image.width);
  picture.height = static_cast<int>(image.height);
  picture.rgb.assign(PNG_IMAGE_SIZE(image), 0);
  if (!png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr)) {
    error = path + ": " + image.message;
    return false;
  }
  return true;
}

void expectLayeredFrame(const Picture& picture, int frame, const std::string& where) {
  ASSERT_EQ(kWidth, picture.width) << where;
  ASSERT_EQ(kHeight, picture.height) << where;
  for (const Probe& probe : kLayeredProbes) {
    const unsigned expected = frame >= probe.from ? probe.after : probe.before;
    const unsigned actual = picture.pixel(landX(probe.x), landY(probe.y));
    EXPECT_TRUE(near(actual, expected, 4))
        << where << ", frame " << frame << ": " << probe.name << ": " << hex(actual)
        << ", expected " << hex(expected);
  }
}

bool fileExists(const std::string& path) { return !test::readFile(path).empty(); }

// Running the built tool on one surface.

struct Surface {
  const char* name;
  bool x11;  // a hidden window under the test's X server; else no X server at all
};
const Surface kSurfaces[] = {{"hidden X window", true}, {"offscreen driver", false}};

DrecResult runDrec(const Surface& surface, const std::vector<std::string>& arguments,
                   const std::string& workingDirectory) {
  return test::runDrec(arguments, workingDirectory, surface.x11 ? DrecDisplay::X11 : DrecDisplay::None, 60);
}

bool surfaceAvailable(const Surface& surface) { return !surface.x11 || test::haveDisplay(); }

#define FOR_EACH_SURFACE(surface)                                                      \
  for (const Surface& surface : kSurfaces)                                             \
    if (!surfaceAvailable(surface)) {                                                  \
      if (test::ciRun()) ADD_FAILURE() << "CI=true but no X server (DISPLAY unset)";   \
      std::printf("*** SKIPPED on a %s: no X server (DISPLAY unset) ***\n", surface.name); \
    } else

TEST(DrecExport, FramesLayeredInOrderAtTheRecordedSize) {
  test::TempDirectory folder;
  writeLayeredAtDefaultPlace(folder.path);
  FOR_EACH_SURFACE(surface) {
    SCOPED_TRACE(surface.name);
    const std::string out = std::string("out-") + (surface.x11 ? "x" : "offscreen");
    const DrecResult listed =
        runDrec(surface, {"export", kDefaultTemplate, "--out", out + "/list", "--frames", "0,2-4"},
                folder.path);
    ASSERT_FALSE(listed.timedOut);
    ASSERT_EQ(0, listed.status) << listed.out << listed.err;
    EXPECT_EQ("", listed.err);
    EXPECT_EQ(out + "/list/: 4 PNG files, 640 x 480, frame-000000.png to frame-000004.png\n",
              listed.out);
    for (int frame = 0; frame < kLayeredFrameCount; ++frame) {
      char name[32];
      std::snprintf(name, sizeof name, "/frame-%06d.png", frame);
      const std::string path = folder.path + "/" + out + "/list" + name;
      if (frame == 1) {
        EXPECT_FALSE(fileExists(path)) << "frame 1 was not asked for";
        continue;
      }
      Picture picture;
      std::string error;
      ASSERT_TRUE(readPng(path, picture, error)) << error;
      expectLayeredFrame(picture, frame, surface.name);
    }

    const DrecResult every =
        runDrec(surface, {"export", "--every", "2", "--out=" + out + "/every", kDefaultTemplate},
                folder.path);
    ASSERT_EQ(0, every.status) << every.out << every.err;
    for (int frame = 0; frame < kLayeredFrameCount; ++frame) {
      char name[32];
      std::snprintf(name, sizeof name, "/frame-%06d.png", frame);
      const std::string path = folder.path + "/" + out + "/every" + name;
      EXPECT_EQ(frame % 2 == 0, fileExists(path)) << name;
    }
    Picture third;
    std::string error;
    ASSERT_TRUE(readPng(folder.path + "/" + out + "/every/frame-000002.png", third, error)) << error;
    expectLayeredFrame(third, 2, std::string(surface.name) + ", --every 2");
  }
}

// Frame j covers the whole recorded screen in colour kFrameColors[j].
const PackedColor16 kFrameColors[] = {packColor(1, 15, 0, 0),  packColor(1, 6, 15, 0),
                                      packColor(1, 6, 0, 15),  packColor(1, 15, 15, 0),
                                      packColor(1, 6, 15, 15), packColor(1, 15, 0, 15)};

unsigned rgbOf(PackedColor16 color) {
  return (((color >> 8) & 15u) * 17u) << 16 | (((color >> 4) & 15u) * 17u) << 8 | (color & 15u) * 17u;
}

int frameShown(unsigned rgb) {
  for (int frame = 0; frame < 6; ++frame)
    if (near(rgb, rgbOf(kFrameColors[frame]), 3)) return frame;
  return -1;
}

TEST(DrecExport, FixedRateSequenceFollowsRecordedTimesWithPausesCut) {
  test::TempDirectory folder;
  const float stamps[] = {0.0f, 0.125f, 0.25f, 0.375f, 3.375f, 3.5f};
  RecordingWriter writer;
  beginRecording(writer, kWidth, kHeight, TextureTable{});
  for (int frame = 0; frame < 6; ++frame) {
    writeQuad(writer, Quad{0, 0, 0, 0, 255, 255, kFrameColors[frame]});
    writeFrameMark(writer, stamps[frame]);
  }
  ASSERT_TRUE(writeBytesToFile(folder.path + "/steps.rec", finishRecording(writer)));
  // 8 images per second: one per frame, the 3-second pause played as 0.25 s
  // (two images of frame 3), and the last frame shown once.
  const std::vector<int> expected = {0, 1, 2, 3, 3, 4, 5};
  FOR_EACH_SURFACE(surface) {
    SCOPED_TRACE(surface.name);
    const std::string out = surface.x11 ? "fps-x" : "fps-offscreen";
    const DrecResult result = runDrec(surface, {"export", "steps.rec", "--out", out, "--fps", "8"},
                                      folder.path);
    ASSERT_EQ(0, result.status) << result.out << result.err;
    EXPECT_EQ(out + "/: 7 PNG files, 640 x 480, image-000000.png to image-000006.png, "
                    "8 images per second over 6 frames\n",
              result.out);
    std::vector<int> shown;
    for (int image = 0; image < 8; ++image) {
      char name[32];
      std::snprintf(name, sizeof name, "/image-%06d.png", image);
      Picture picture;
      std::string error;
      if (!readPng(folder.path + "/" + out + name, picture, error)) {
        EXPECT_EQ(7, image) << error;
        break;
      }
      shown.push_back(frameShown(picture.pixel(kWidth / 2, kHeight / 2)));
    }
    EXPECT_EQ(listText(expected), listText(shown));
  }
}

// hash and verify.

struct HashLine {
  int64_t frame;
  std::string time;
  std::string hash;
};

std::vector<HashLine> hashLines(const std::string& out, std::string& header) {
  std::vector<HashLine> lines;
  std::istringstream stream(out);
  std::string line;
  std::getline(stream, header);
  while (std::getline(stream, line)) {
    HashLine parsed;
    std::istringstream fields(line);
    fields >> parsed.frame >> parsed.time >> parsed.hash;
    lines.push_back(parsed);
  }
  return lines;
}

uint64_t pictureHash(const std::string& path) {
  Picture picture;
  std::string error;
  EXPECT_TRUE(readPng(path, picture, error)) << error;
  return fnv1a64(picture.rgb.data(), picture.rgb.size());
}

TEST(DrecHash, StableEqualToThePixelsAndChangedByOneTriangle) {
  test::TempDirectory folder;
  // Textures named with --textures, away from the default place.
  ASSERT_TRUE(writeBytesToFile(folder.path + "/same.rec", probeRecording(layeredFrames(), true)));
  ASSERT_TRUE(writeBytesToFile(folder.path + "/changed.rec", probeRecording(layeredFrames(true), true)));
  ASSERT_TRUE(writeProbeTextures(folder.path + "/tex"));
  FOR_EACH_SURFACE(surface) {
    SCOPED_TRACE(surface.name);
    const DrecResult first = runDrec(surface, {"hash", "same.rec", "--textures", "tex"}, folder.path);
    ASSERT_EQ(0, first.status) << first.out << first.err;
    EXPECT_EQ("", first.err) << "the textures were not found through --textures";
    const DrecResult again = runDrec(surface, {"hash", "--textures=tex/", "same.rec"}, folder.path);
    ASSERT_EQ(0, again.status);
    EXPECT_EQ(first.out, again.out) << "two runs hash differently";

    std::string header;
    const std::vector<HashLine> lines = hashLines(first.out, header);
    EXPECT_EQ("# drec hash fnv1a-64 rgb 640x480", header);
    ASSERT_EQ(static_cast<size_t>(kLayeredFrameCount), lines.size()) << first.out;
    const char* const times[] = {"5.000000", "10.000000", "15.000000", "20.000000", "25.000000"};
    for (int frame = 0; frame < kLayeredFrameCount; ++frame) {
      EXPECT_EQ(frame, lines[static_cast<size_t>(frame)].frame);
      EXPECT_EQ(times[frame], lines[static_cast<size_t>(frame)].time);
      EXPECT_EQ(16u, lines[static_cast<size_t>(frame)].hash.size());
    }
    // Every frame adds something, so no two frames hash alike.
    for (int a = 0; a < kLayeredFrameCount; ++a)
      for (int b = a + 1; b < kLayeredFrameCount; ++b)
        EXPECT_NE(lines[static_cast<size_t>(a)].hash, lines[static_cast<size_t>(b)].hash)
            << "frames " << a << " and " << b;

    // The hash is FNV-1a of the pixels that export writes.
    const std::string out = surface.x11 ? "png-x" : "png-offscreen";
    ASSERT_EQ(0, runDrec(surface, {"export", "same.rec", "--textures", "tex", "--out", out,
                                   "--frames", "1,3"},
                         folder.path)
                     .status);
    for (int frame : {1, 3}) {
      char path[64];
      std::snprintf(path, sizeof path, "/frame-%06d.png", frame);
      char text[17];
      std::snprintf(text, sizeof text, "%016llx",
                    static_cast<unsigned long long>(pictureHash(folder.path + "/" + out + path)));
      EXPECT_EQ(text, lines[static_cast<size_t>(frame)].hash) << "frame " << frame;
    }

    // One triangle of frame 2 changed: frames 0 and 1 keep their hashes,
    // frame 2 and the frames drawn over it do not.
    const DrecResult changed = runDrec(surface, {"hash", "changed.rec", "--textures", "tex"}, folder.path);
    ASSERT_EQ(0, changed.status);
    std::string changedHeader;
    const std::vector<HashLine> changedLines = hashLines(changed.out, changedHeader);
    ASSERT_EQ(lines.size(), changedLines.size());
    for (int frame = 0; frame < kLayeredFrameCount; ++frame) {
      if (frame < 2)
        EXPECT_EQ(lines[static_cast<size_t>(frame)].hash, changedLines[static_cast<size_t>(frame)].hash)
            << "frame " << frame;
      else
        EXPECT_NE(lines[static_cast<size_t>(frame)].hash, changedLines[static_cast<size_t>(frame)].hash)
            << "frame " << frame;
    }

    ASSERT_TRUE(test::writeFile(folder.path + "/same.hashes",
                                std::vector<uint8_t>(first.out.begin(), first.out.end())));
    const DrecResult match =
        runDrec(surface, {"verify", "same.rec", "same.hashes", "--textures", "tex"}, folder.path);
    EXPECT_EQ(0, match.status) << match.out << match.err;
    EXPECT_EQ("same.rec: 5 frames match same.hashes\n", match.out);

    const DrecResult caught =
        runDrec(surface, {"verify", "changed.rec", "same.hashes", "--textures", "tex"}, folder.path);
    EXPECT_EQ(1, caught.status) << caught.out << caught.err;
    EXPECT_EQ("frame 2 (recorded time 15.000000 s) differs: hash " +
                  changedLines[2].hash + ", same.hashes has " + lines[2].hash + "\n",
              caught.out);
  }
}

TEST(DrecVerify, FramesMissingOnEitherSideAndBrokenLists) {
  test::TempDirectory folder;
  ASSERT_TRUE(writeBytesToFile(folder.path + "/flat.rec", probeRecording(layeredFrames(), false)));
  const Surface& offscreen = kSurfaces[1];
  const DrecResult hashed = runDrec(offscreen, {"hash", "flat.rec"}, folder.path);
  ASSERT_EQ(0, hashed.status) << hashed.err;
  std::string header;
  const std::vector<HashLine> lines = hashLines(hashed.out, header);
  ASSERT_EQ(5u, lines.size());
  auto listOf = [&](size_t count, const std::string& extra) {
    std::string text = header + "\n";
    for (size_t i = 0; i < count; ++i)
      text += std::to_string(lines[i].frame) + " " + lines[i].time + " " + lines[i].hash + "\n";
    return text + extra;
  };
  // A list of all five frames with frame 3's hash taken from frame 4.
  std::string changed = listOf(3, "3 20.000000 " + lines[4].hash + "\n");
  changed += "4 25.000000 " + lines[4].hash + "\n";
  // verify --json's first difference; reason "" when all match.
  struct Difference {
    const char* reason;
    int64_t frame;
    std::string hash;      // "null" when the recording lacks the frame
    std::string expected;  // "null" when the list lacks it
  };
  auto textOrNull = [](const Json& value) { return value.kind == Json::Null ? "null" : value.text; };
  struct Row {
    const char* name;
    std::string list;
    int status;
    std::string out;  // standard output, exactly
    std::string err;  // a part of standard error
    int64_t compared;
    int64_t listed;
    Difference difference;
  };
  const Row rows[] = {
      {"all match, blank lines and CR LF ends allowed", listOf(5, "\r\n\n"), 0,
       "flat.rec: 5 frames match list\n", "", 5, 5, {"", 0, "", ""}},
      {"one frame differs", changed, 1,
       "frame 3 (recorded time 20.000000 s) differs: hash " + lines[3].hash + ", list has " +
           lines[4].hash + "\n",
       "", 4, 5, {"different hash", 3, lines[3].hash, lines[4].hash}},
      {"the list stops early", listOf(3, ""), 1,
       "frame 3 (recorded time 20.000000 s) is not in list, which lists 3 frames\n", "", 4, 3,
       {"not in the list", 3, lines[3].hash, "null"}},
      {"the list has a frame more", listOf(5, "5 30.000000 0123456789abcdef\n"), 1,
       "frame 5 of list is not in flat.rec, which has 5 frames\n", "", 5, 6,
       {"not in the recording", 5, "null", "0123456789abcdef"}},
      {"upper-case digits", header + "\n0 5.000000 " + [&] {
         std::string upper = lines[0].hash;
         for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
         return upper;
       }() + "\n", 1,
       "frame 1 (recorded time 10.000000 s) is not in list, which lists 1 frame\n", "", 2, 1,
       {"not in the list", 1, lines[1].hash, "null"}},
      {"a frame out of order", listOf(1, "2 15.000000 0123456789abcdef\n"), 2, "",
       "list line 3: frame 2 where frame 1 comes next", 0, 0, {}},
      {"a short hash", listOf(1, "1 10.000000 0123\n"), 2, "", "list line 3: not \"FRAME TIME HASH\"", 0, 0, {}},
      {"a line too long", listOf(1, "1 " + std::string(300, '0') + " 0123456789abcdef\n"), 2, "",
       "list line 3: longer than 256 bytes", 0, 0, {}},
      {"another hash", "# drec hash sha-256 rgb 640x480\n", 2, "", "not a list of fnv1a-64 hashes", 0, 0, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(test::writeFile(folder.path + "/list", std::vector<uint8_t>(row.list.begin(), row.list.end())));
    const DrecResult result = runDrec(offscreen, {"verify", "flat.rec", "list"}, folder.path);
    EXPECT_EQ(row.status, result.status) << result.out << result.err;
    EXPECT_EQ(row.out, result.out);
    EXPECT_NE(std::string::npos, result.err.find(row.err)) << result.err;

    const DrecResult json = runDrec(offscreen, {"verify", "--json", "flat.rec", "list"}, folder.path);
    EXPECT_EQ(row.status, json.status) << json.out << json.err;
    if (row.status == 2) {
      EXPECT_EQ("", json.out);
      continue;
    }
    Json verified;
    ASSERT_TRUE(parseJson(json.out, verified)) << json.out;
    EXPECT_EQ("flat.rec", verified["recording"].text);
    EXPECT_EQ("list", verified["hashes"].text);
    EXPECT_EQ(row.compared, verified["frames_compared"].integer());
    EXPECT_EQ(row.listed, verified["frames_listed"].integer());
    EXPECT_EQ(row.status == 0, verified["match"].boolean);
    const Json& first = verified["first_difference"];
    if (*row.difference.reason == 0) {
      EXPECT_EQ(Json::Null, first.kind);
      continue;
    }
    EXPECT_EQ(row.difference.reason, first["reason"].text);
    EXPECT_EQ(row.difference.frame, first["frame"].integer());
    EXPECT_EQ(row.difference.hash, textOrNull(first["hash"]));
    EXPECT_EQ(row.difference.expected, textOrNull(first["expected_hash"]));
    if (row.difference.hash == "null") {
      EXPECT_EQ(Json::Null, first["time"].kind);
    } else {
      const float time = std::stof(lines[static_cast<size_t>(row.difference.frame)].time);
      EXPECT_EQ(time, static_cast<float>(first["time"].number));
    }
  }
}

// bench.

TEST(DrecBench, CountsAndStatistics) {
  test::TempDirectory folder;
  // 20 frames over 3 chunks, each frame a handful of triangles.
  RecordingWriter writer;
  beginRecording(writer, kWidth, kHeight, TextureTable{}, 400);
  for (int frame = 0; frame < 20; ++frame) {
    for (int quad = 0; quad < 3; ++quad)
      writeQuad(writer, Quad{0, 1, static_cast<uint8_t>(10 * quad), 10, static_cast<uint8_t>(10 * quad + 60),
                             200, kFrameColors[(frame + quad) % 6]});
    writeFrameMark(writer, static_cast<float>(frame) / 30.0f);
  }
  ASSERT_TRUE(writeBytesToFile(folder.path + "/bench.rec", finishRecording(writer)));
  ASSERT_GE(writer.chunks, 3);

  struct Row {
    std::vector<std::string> options;
    int64_t frames;  // timed: the first frame drawn is left out
    int64_t first, last, repeat;
    bool includeIo;
  };
  const Row rows[] = {
      {{}, 19, 0, 19, 1, false},
      {{"--repeat", "3"}, 59, 0, 19, 3, false},
      {{"--frames", "5-9", "--repeat", "3"}, 14, 5, 9, 3, false},
      {{"--frames", "15-"}, 4, 15, 19, 1, false},
      {{"--frames", "12-19"}, 7, 12, 19, 1, false},
      {{"--frames", "19", "--repeat", "2"}, 1, 19, 19, 2, false},
      {{"--include-io", "--repeat", "2"}, 39, 0, 19, 2, true},
      {{"--include-io", "--frames", "3-6"}, 3, 3, 6, 1, true},
  };
  FOR_EACH_SURFACE(surface) {
    SCOPED_TRACE(surface.name);
    for (const Row& row : rows) {
      std::string name = "bench";
      for (const std::string& option : row.options) name += " " + option;
      std::vector<std::string> arguments = {"bench", "bench.rec", "--json"};
      arguments.insert(arguments.end(), row.options.begin(), row.options.end());
      const DrecResult result = runDrec(surface, arguments, folder.path);
      ASSERT_EQ(0, result.status) << name << ": " << result.out << result.err;
      Json json;
      ASSERT_TRUE(parseJson(result.out, json)) << name << ": " << result.out;
      EXPECT_EQ(row.frames, json["frames"].integer()) << name;
      EXPECT_EQ(row.first, json["first_frame"].integer()) << name;
      EXPECT_EQ(row.last, json["last_frame"].integer()) << name;
      EXPECT_EQ(row.repeat, json["repeat"].integer()) << name;
      EXPECT_EQ(Json::Bool, json["include_io"].kind) << name;
      EXPECT_EQ(row.includeIo, json["include_io"].boolean) << name;
      EXPECT_EQ(surface.x11 ? "hidden window" : "offscreen", json["surface"].text) << name;
      EXPECT_EQ(kWidth, json["width"].integer());
      const double seconds = json["seconds"].number;
      const double fps = json["fps"].number;
      const Json& frameTime = json["frame_time_ms"];
      const double min = frameTime["min"].number;
      const double mean = frameTime["mean"].number;
      const double p50 = frameTime["p50"].number;
      const double p95 = frameTime["p95"].number;
      const double p99 = frameTime["p99"].number;
      const double max = frameTime["max"].number;
      EXPECT_GT(seconds, 0.0) << name;
      EXPECT_NEAR(static_cast<double>(row.frames) / seconds, fps, fps * 1e-9) << name;
      EXPECT_NEAR(mean * static_cast<double>(row.frames) / 1000.0, seconds, seconds * 1e-9) << name;
      EXPECT_GT(min, 0.0) << name;
      EXPECT_LE(min, p50) << name;
      EXPECT_LE(p50, p95) << name;
      EXPECT_LE(p95, p99) << name;
      EXPECT_LE(p99, max) << name;
      EXPECT_LE(min, mean) << name;
      EXPECT_LE(mean, max) << name;
      if (row.frames == 1) {
        EXPECT_EQ(min, max) << name << ": one frame timed";
        EXPECT_EQ(min, mean) << name;
      }
    }

    const std::pair<std::string, std::string> texts[] = {
        {"1", "frames 2-7, 1 pass\n"}, {"2", "frames 2-7, 2 passes\n"}};
    for (const auto& [repeat, passes] : texts) {
      const DrecResult text =
          runDrec(surface, {"bench", "bench.rec", "--frames", "2-7", "--repeat", repeat}, folder.path);
      ASSERT_EQ(0, text.status) << text.err;
      EXPECT_EQ(0u, text.out.find("recording  bench.rec, 640 x 480, " + passes)) << text.out;
      const std::string frames = repeat == "1" ? "5" : "11";
      EXPECT_NE(std::string::npos,
                text.out.find("\nframes     " + frames + " (the first frame drawn left out)\n"))
          << text.out;
      for (const char* label : {"\nseconds    ", "\nfps        ", "\nframe ms   min "})
        EXPECT_NE(std::string::npos, text.out.find(label)) << label << " in " << text.out;
    }
  }
}

TEST(DrecRenderCommands, UsageErrorsAndUnusableInput) {
  test::TempDirectory folder;
  ASSERT_TRUE(writeBytesToFile(folder.path + "/five.rec", probeRecording(layeredFrames(), false)));
  ASSERT_TRUE(writeBytesToFile(folder.path + "/not.rec", Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0}));
  ASSERT_TRUE(writeBytesToFile(folder.path + "/blocked", Bytes{'x'}));
  RecordingWriter writer;
  beginRecording(writer, 0, 480, TextureTable{});
  writeFrameMark(writer, 0.0f);
  ASSERT_TRUE(writeBytesToFile(folder.path + "/zero.rec", finishRecording(writer)));
  RecordingWriter wide;
  beginRecording(wide, 8193, 480, TextureTable{});
  writeFrameMark(wide, 0.0f);
  ASSERT_TRUE(writeBytesToFile(folder.path + "/wide.rec", finishRecording(wide)));
  struct Row {
    std::vector<std::string> arguments;
    std::string err;  // a part of standard error
  };
  const Row rows[] = {
      {{"export", "five.rec"}, "missing --out DIR"},
      {{"export", "five.rec", "--out", "o", "--every", "0"}, "--every needs a whole number"},
      {{"export", "five.rec", "--out", "o", "--fps", "0"}, "--fps needs a number above 0"},
      {{"export", "five.rec", "--out", "o", "--fps", "1001"}, "--fps needs a number above 0"},
      {{"export", "five.rec", "--out", "o", "--frames", "3-1"}, "'3-1' ends before it starts"},
      {{"export", "five.rec", "--out", "o", "--frames", "1", "--every", "2"}, "exclude each other"},
      {{"export", "five.rec", "--out", "o", "--frames", "2,4-9,12-"}, "has 5 frames (0 to 4): no frame 5-9,12-"},
      {{"export", "five.rec", "--out", "blocked/o"}, "cannot make the folder 'blocked/o'"},
      {{"export", "missing.rec", "--out", "o"}, "cannot open 'missing.rec'"},
      {{"hash", "not.rec"}, "is not a recording"},
      {{"hash", "zero.rec"}, "unusable screen size 0 x 480"},
      {{"bench", "wide.rec", "--repeat", "2"}, "unusable screen size 8193 x 480"},
      {{"hash"}, "missing REC"},
      {{"verify", "five.rec"}, "missing REC HASHES"},
      {{"verify", "five.rec", "absent.hashes"}, "cannot read 'absent.hashes'"},
      {{"bench", "five.rec", "--frames", "5-"}, "has 5 frames (0 to 4): no frame 5-"},
      {{"bench", "five.rec", "--frames", "3-400"}, "has 5 frames (0 to 4): no frame 5-400"},
      {{"hash", "five.rec", "--textures", "nowhere"},
       "cannot use the texture folder 'nowhere': No such file or directory"},
      {{"export", "five.rec", "--out", "o", "--textures", "not.rec"},
       "cannot use the texture folder 'not.rec': Not a directory"},
      {{"bench", "five.rec", "--frames", "4"}, "one frame alone leaves nothing to time"},
      {{"bench", "five.rec", "--repeat", "0"}, "--repeat needs a whole number"},
      {{"bench", "five.rec", "--frames", "x"}, "'x' is not a frame number"},
  };
  const Surface& offscreen = kSurfaces[1];
  for (const Row& row : rows) {
    const std::string name = argumentText(row.arguments);
    const DrecResult result = runDrec(offscreen, row.arguments, folder.path);
    EXPECT_FALSE(result.timedOut) << name;
    EXPECT_EQ(2, result.status) << name << ": " << result.out << result.err;
    EXPECT_NE(std::string::npos, result.err.find(row.err)) << name << ": " << result.err;
  }
  for (const char* subcommand : {"bench", "export", "hash", "verify"}) {
    const DrecResult help = runDrec(offscreen, {subcommand, "--help"}, folder.path);
    EXPECT_EQ(0, help.status) << subcommand;
    EXPECT_EQ(0u, help.out.find(std::string("Usage: drec ") + subcommand)) << help.out;
  }
}

// A chunk with an invalid record: the player skips the rest of that chunk
// and goes on; so do the subcommands, saying so on standard error with the
// frame, and they exit 1 (verify compares pictures only).
TEST(DrecRenderCommands, DamagedRecordingIsDrawnAsThePlayerDrawsIt) {
  test::TempDirectory folder;
  RecordingWriter writer;
  beginRecording(writer, kWidth, kHeight, TextureTable{});
  const std::vector<Frame> frames = layeredFrames();
  for (int frame = 0; frame < 2; ++frame) {
    for (const Quad& quad : frames[static_cast<size_t>(frame)].quads) writeQuad(writer, quad);
    writeFrameMark(writer, frames[static_cast<size_t>(frame)].timeStamp);
  }
  flushChunk(writer);
  writeQuad(writer, Quad{0, 0, 90, 20, 165, 110, kBlue});  // in frame 2, before the damage
  writer.records.push_back(9);
  writer.records.push_back(0);
  writeQuad(writer, Quad{0, 0, 20, 150, 120, 230, kLime});  // skipped with the chunk's rest
  writeFrameMark(writer, 15.0f);                             // skipped too
  flushChunk(writer);
  writeFrameMark(writer, 20.0f);  // closes frame 2
  ASSERT_TRUE(writeBytesToFile(folder.path + "/damaged.rec", finishRecording(writer)));

  const Surface& offscreen = kSurfaces[1];
  const DrecResult hashed = runDrec(offscreen, {"hash", "damaged.rec"}, folder.path);
  EXPECT_EQ(1, hashed.status) << hashed.out << hashed.err;
  EXPECT_EQ("drec: frame 2: Unknown record type 9\n", hashed.err);
  std::string header;
  const std::vector<HashLine> lines = hashLines(hashed.out, header);
  ASSERT_EQ(3u, lines.size()) << hashed.out;
  EXPECT_EQ("20.000000", lines[2].time);

  const DrecResult exported =
      runDrec(offscreen, {"export", "damaged.rec", "--out", "o", "--frames", "2"}, folder.path);
  EXPECT_EQ(1, exported.status) << exported.out << exported.err;
  EXPECT_EQ("o/: 1 PNG file, 640 x 480, frame-000002.png\n", exported.out);
  EXPECT_EQ("drec: frame 2: Unknown record type 9\n", exported.err);
  Picture picture;
  std::string error;
  ASSERT_TRUE(readPng(folder.path + "/o/frame-000002.png", picture, error)) << error;
  EXPECT_TRUE(near(picture.pixel(landX(120), landY(60)), rgbOf(kBlue), 3))
      << "the triangles before the damage are drawn: " << hex(picture.pixel(landX(120), landY(60)));
  EXPECT_TRUE(near(picture.pixel(landX(100), landY(190)), 0xFFFF00, 3))
      << "the triangles after it are not: " << hex(picture.pixel(landX(100), landY(190)));

  ASSERT_TRUE(test::writeFile(folder.path + "/damaged.hashes",
                              std::vector<uint8_t>(hashed.out.begin(), hashed.out.end())));
  const DrecResult verified = runDrec(offscreen, {"verify", "damaged.rec", "damaged.hashes"}, folder.path);
  EXPECT_EQ(0, verified.status) << verified.out << verified.err;
  EXPECT_EQ("damaged.rec: 3 frames match damaged.hashes\n", verified.out);

  const DrecResult bench = runDrec(offscreen, {"bench", "damaged.rec", "--json"}, folder.path);
  EXPECT_EQ(1, bench.status) << bench.out << bench.err;
  EXPECT_EQ("drec: frame 2: Unknown record type 9\n", bench.err);
  Json benchJson;
  ASSERT_TRUE(parseJson(bench.out, benchJson)) << bench.out;
  EXPECT_EQ(2, benchJson["frames"].integer());
}

// Missing textures give every drawing subcommand exit 1 after one warning,
// unless allowed; --quiet keeps the warning back, not the status.
TEST(DrecRenderCommands, MissingTexturesOneWarningAndExitOne) {
  test::TempDirectory folder;
  ASSERT_TRUE(writeBytesToFile(folder.path + "/same.rec", probeRecording(layeredFrames(), true)));
  ASSERT_TRUE(writeProbeTextures(folder.path + "/tex"));
  ASSERT_TRUE(writeBytesToFile(folder.path + "/part/" + textureName(kKeyedKey), keyedTexture()));
  const Surface& offscreen = kSurfaces[1];
  const DrecResult hashed = runDrec(offscreen, {"hash", "same.rec", "--textures", "tex"}, folder.path);
  ASSERT_EQ(0, hashed.status) << hashed.err;
  ASSERT_TRUE(test::writeFile(folder.path + "/same.hashes",
                              std::vector<uint8_t>(hashed.out.begin(), hashed.out.end())));
  const std::string warning = "drec: warning: 1 texture file does not open ('part/" +
                              textureName(kQuadrantsKey) +
                              "'): its triangles show their vertex colours alone\n";
  struct Row {
    std::vector<std::string> arguments;
    const char* textures;
    const char* extra;  // an added option, or ""
    int status;
    bool warned;
  };
  const Row rows[] = {
      {{"hash", "same.rec"}, "tex", "", 0, false},
      {{"hash", "same.rec"}, "part", "", 1, true},
      {{"hash", "same.rec"}, "part", "--allow-missing-textures", 0, true},
      {{"hash", "same.rec"}, "part", "--quiet", 1, false},
      {{"export", "same.rec", "--out", "o", "--frames", "4"}, "part", "", 1, true},
      {{"export", "same.rec", "--out", "a", "--frames", "4"}, "part", "--allow-missing-textures", 0, true},
      {{"bench", "same.rec"}, "part", "", 1, true},
      {{"bench", "same.rec"}, "part", "--allow-missing-textures", 0, true},
      // The pictures differ from the list, which has its own status.
      {{"verify", "same.rec", "same.hashes"}, "part", "--allow-missing-textures", 1, true},
      {{"verify", "same.rec", "same.hashes"}, "tex", "", 0, false},
  };
  for (const Row& row : rows) {
    std::vector<std::string> arguments = row.arguments;
    arguments.insert(arguments.end(), {"--textures", row.textures});
    if (*row.extra) arguments.push_back(row.extra);
    const std::string name = argumentText(arguments);
    const DrecResult result = runDrec(offscreen, arguments, folder.path);
    EXPECT_EQ(row.status, result.status) << name << result.err;
    EXPECT_EQ(row.warned ? warning : "", result.err) << name;
  }
}

// export writes whole files only: under a temporary name, renamed when
// complete, so an interrupt leaves complete files and no temporary one; an
// earlier sequence is refused, and --force removes it and nothing else.
TEST(DrecExport, WholeFilesOnlyAndAnEarlierSequenceRefused) {
  test::TempDirectory folder;
  ASSERT_TRUE(writeBytesToFile(folder.path + "/same.rec", probeRecording(layeredFrames(), false)));
  const Surface& offscreen = kSurfaces[1];
  ASSERT_EQ(0, runDrec(offscreen, {"export", "same.rec", "--out", "o", "--frames", "0-2"}, folder.path).status);
  ASSERT_TRUE(test::writeFile(folder.path + "/o/notes.txt", {'x'}));
  ASSERT_TRUE(test::writeFile(folder.path + "/o/frame-notes.txt", {'x'}));
  const DrecResult refused =
      runDrec(offscreen, {"export", "same.rec", "--out", "o", "--fps", "1"}, folder.path);
  EXPECT_EQ(2, refused.status);
  EXPECT_NE(std::string::npos,
            refused.err.find("'o' already holds 3 frame-*.png or image-*.png files; --force"))
      << refused.err;
  EXPECT_TRUE(fileExists(folder.path + "/o/frame-000002.png")) << "a refused export removed files";
  const DrecResult forced =
      runDrec(offscreen, {"export", "same.rec", "--out", "o", "--fps", "0.1", "--force"}, folder.path);
  ASSERT_EQ(0, forced.status) << forced.err;
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path + "/o"))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  // Five frames 5 s apart, each gap counted as 0.25 s: 1 s in all, and the
  // last frame shown for one image more.
  EXPECT_EQ((std::vector<std::string>{"frame-notes.txt", "image-000000.png", "image-000001.png",
                                      "notes.txt"}),
            names);

  // Interrupted: the bundled demo takes far longer than the wait.
  test::ProgramRun run;
  run.arguments = {test::buildDirectory() + "/tools/drec", "export", kDefaultTemplate, "--out",
                   folder.path + "/cut"};
  run.workingDirectory = test::buildDirectory() + "/player";
  run.environment = {"SDL_VIDEODRIVER=offscreen"};
  test::RunningProgram program;
  ASSERT_TRUE(test::startProgram(run, program));
  test::StopAtExit stop(program);
  const std::string third = folder.path + "/cut/frame-000002.png";
  for (int wait = 0; wait < 600 && !fileExists(third); ++wait) usleep(50000);
  ASSERT_TRUE(fileExists(third)) << "no frame written in 30 s";
  kill(program.pid, SIGINT);
  const test::ProgramResult result = test::finishProgram(program, 20.0);
  EXPECT_FALSE(result.timedOut) << "the export did not end at Ctrl+C";
  EXPECT_EQ(SIGINT, result.signal);
  int complete = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path + "/cut")) {
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(0u, name.find("frame-")) << name << " left behind";
    Picture picture;
    std::string error;
    EXPECT_TRUE(readPng(entry.path().string(), picture, error)) << error;
    ++complete;
  }
  EXPECT_GE(complete, 3);
}

// The bundled demo, beside the built player, with its textures found by the
// default rule: every subcommand works on it, without an X server.
TEST(DrecRenderCommands, EverySubcommandWorksOnTheDemo) {
  const std::string playerFolder = test::buildDirectory() + "/player";
  const Surface& offscreen = kSurfaces[1];
  const DrecResult hashed = runDrec(offscreen, {"hash", kDefaultTemplate}, playerFolder);
  ASSERT_EQ(0, hashed.status) << hashed.err;
  EXPECT_EQ("", hashed.err);
  std::string header;
  const std::vector<HashLine> lines = hashLines(hashed.out, header);
  ASSERT_EQ(1500u, lines.size());
  EXPECT_EQ("# drec hash fnv1a-64 rgb 640x480", header);

  test::TempDirectory folder;
  const DrecResult exported = runDrec(
      offscreen, {"export", kDefaultTemplate, "--frames", "600", "--out", folder.path}, playerFolder);
  ASSERT_EQ(0, exported.status) << exported.err;
  char text[17];
  std::snprintf(text, sizeof text, "%016llx",
                static_cast<unsigned long long>(pictureHash(folder.path + "/frame-000600.png")));
  EXPECT_EQ(text, lines[600].hash);

  ASSERT_TRUE(test::writeFile(folder.path + "/demo.hashes",
                              std::vector<uint8_t>(hashed.out.begin(), hashed.out.end())));
  const DrecResult verified =
      runDrec(offscreen, {"verify", kDefaultTemplate, folder.path + "/demo.hashes"}, playerFolder);
  EXPECT_EQ(0, verified.status) << verified.out << verified.err;

  const DrecResult bench =
      runDrec(offscreen, {"bench", kDefaultTemplate, "--frames", "0-99", "--json"}, playerFolder);
  ASSERT_EQ(0, bench.status) << bench.err;
  Json benchJson;
  ASSERT_TRUE(parseJson(bench.out, benchJson)) << bench.out;
  EXPECT_EQ(99, benchJson["frames"].integer());
}

// Under X: the picture export writes for the last frame is what the player's
// window shows when it has played the recording to the end.
TEST(DrecExportWindow, LastFrameEqualsThePlayersWindow) {
  DREC_REQUIRE_DISPLAY();
  test::PlayerFolder player;
  const test::TempDirectory& folder = player.folder;
  writeLayeredAtDefaultPlace(folder.path);
  ASSERT_TRUE(player.start(test::Keyboard::Window));
  test::RunningProgram& program = player.program;
  ASSERT_TRUE(test::waitForOutput(program, "Done.", 50.0)) << "no \"Done.\"; output: " << program.output;
  const test::XWindowId window = test::waitForWindowByPid(program.pid, 5.0);
  ASSERT_NE(window, 0u);
  test::RgbImage shot;
  std::string error;
  ASSERT_TRUE(test::captureWindow(window, shot, error)) << error;
  test::focusWindow(window);
  EXPECT_TRUE(test::xdotool({"key", "space"}));
  EXPECT_EQ(0, test::finishProgram(program, 10.0).exitStatus);

  const DrecResult exported =
      runDrec(kSurfaces[0], {"export", kDefaultTemplate, "--out", "last", "--frames", "4"}, folder.path);
  ASSERT_EQ(0, exported.status) << exported.out << exported.err;
  Picture picture;
  ASSERT_TRUE(readPng(folder.path + "/last/frame-000004.png", picture, error)) << error;
  ASSERT_EQ(shot.width, picture.width);
  ASSERT_EQ(shot.height, picture.height);
  expectLayeredFrame(picture, 4, "export");
  int differing = 0;
  int firstX = -1;
  int firstY = -1;
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x)
      if (picture.pixel(x, y) != shot.pixel(x, y) && differing++ == 0) {
        firstX = x;
        firstY = y;
      }
  EXPECT_EQ(0, differing) << "pixels differ from the player's window, the first at (" << firstX << ", "
                          << firstY << "): " << hex(picture.pixel(firstX, firstY)) << " exported, "
                          << hex(shot.pixel(firstX, firstY)) << " in the window";
}

}  // namespace
}  // namespace drec
