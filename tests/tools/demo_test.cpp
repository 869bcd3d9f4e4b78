// The bundled demo as the player reads it: the files that the real
// drec-make-demo writes, read back through the real segmented stream reader
// over the real file system and walked by the real record walk; the
// textures decoded by the real BMP decoder; and the same bytes on every run.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "recording/reader.hpp"
#include "recording/stream.hpp"
#include "render/bmp.hpp"
#include "tests/support/captured_console.hpp"
#include "tests/support/drec_tool.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/test_paths.hpp"
#include "tools/demo/demo_scene.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

using FileMap = std::map<std::string, Bytes>;  // path below the folder -> bytes

FileMap filesBelow(const std::string& folder) {
  FileMap files;
  std::error_code error;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, error)) {
    if (!entry.is_regular_file()) continue;
    files[std::filesystem::relative(entry.path(), folder).string()] = test::readFile(entry.path().string());
  }
  return files;
}

// Runs the built generator into a fresh folder.
struct GeneratedDemo {
  test::TempDirectory folder;
  test::ProgramResult result;
  GeneratedDemo() {
    test::ProgramRun run;
    run.arguments = {test::buildDirectory() + "/tools/drec-make-demo", folder.path};
    run.timeoutSeconds = 30;
    result = test::runProgram(run);
  }
};

// Coverage probes on the recorded screen: every 5 units across, every unit
// down (the seams of the sky, hills, ground and fields all run across), on
// every 5th frame.
constexpr int kProbeColumns = 52;
constexpr int kProbeRows = 256;
constexpr int kCoverageEvery = 5;

bool insideTriangle(const TexturedTriangle& tri, int px, int py) {
  auto edge = [&](const TriangleVertex& a, const TriangleVertex& b) {
    return (b.x - a.x) * (py - a.y) - (b.y - a.y) * (px - a.x);
  };
  int e0 = edge(tri.vertices[0], tri.vertices[1]);
  int e1 = edge(tri.vertices[1], tri.vertices[2]);
  int e2 = edge(tri.vertices[2], tri.vertices[0]);
  return (e0 >= 0 && e1 >= 0 && e2 >= 0) || (e0 <= 0 && e1 <= 0 && e2 <= 0);
}

// What the walk met, kept the way the player would see it.
struct Tally {
  int frames = 0;
  int triangles = 0;
  std::vector<float> times;
  std::array<int, 8> modes{};
  std::set<int> slots;
  int slotChanges = 0;
  int currentSlot = -1;
  int blendState = -1;  // the player's blend state: the last mode 0, 1 or 2
  int depthOutsideDrawable = 0;  // depth 0 or above 32767: not drawn or clipped
  int triangleWithVaryingDepth = 0;
  int untexturedWhite = 0;  // slot 0, opaque alpha nibble, red 5 or less
  int uncoveredFrames = 0;
  int firstUncoveredFrame = -1;
  std::vector<bool> covered = std::vector<bool>(kProbeColumns * kProbeRows, false);
};

void onTriangle(Tally& tally, const uint8_t* record) {
  TexturedTriangle tri = decodeTriangle(record);
  ++tally.triangles;
  int slot = textureSlotOf(tri.state);
  int mode = blendModeOf(tri.state);
  tally.modes[mode]++;
  tally.slots.insert(slot);
  if (slot != tally.currentSlot) ++tally.slotChanges;
  tally.currentSlot = slot;
  if (mode <= 2) tally.blendState = mode;
  for (const TriangleVertex& v : tri.vertices) {
    if (v.depth == 0 || v.depth > 32767) ++tally.depthOutsideDrawable;
    bool opaqueColour = (v.color >> 12) != 0;
    if (slot == 0 && opaqueColour && ((v.color >> 8) & 15) <= 5) ++tally.untexturedWhite;
  }
  if (tri.vertices[0].depth != tri.vertices[1].depth || tri.vertices[0].depth != tri.vertices[2].depth)
    ++tally.triangleWithVaryingDepth;
  if (tally.blendState != 0 || tally.frames % kCoverageEvery != 0) return;
  int left = 255, right = 0, top = 255, bottom = 0;
  for (const TriangleVertex& v : tri.vertices) {
    left = std::min<int>(left, v.x);
    right = std::max<int>(right, v.x);
    top = std::min<int>(top, v.y);
    bottom = std::max<int>(bottom, v.y);
  }
  for (int py = top; py <= bottom; ++py) {
    for (int column = (left + 4) / 5; column * 5 <= right; ++column) {
      if (insideTriangle(tri, column * 5, py)) tally.covered[py * kProbeColumns + column] = true;
    }
  }
}

void onFrameMark(Tally& tally, float timeStamp) {
  bool whole = std::all_of(tally.covered.begin(), tally.covered.end(), [](bool c) { return c; });
  if (tally.frames % kCoverageEvery == 0 && !whole) {
    if (tally.firstUncoveredFrame < 0) tally.firstUncoveredFrame = tally.frames;
    ++tally.uncoveredFrames;
  }
  std::fill(tally.covered.begin(), tally.covered.end(), false);
  tally.blendState = -1;
  tally.times.push_back(timeStamp);
  ++tally.frames;
}

struct ReadBack : ReadHooks {
  Tally tally;
  std::string console;
  bool damaged = false;
  int segmentsOpened = 0;
  RecordingHeader header{};
  const Console* playerConsole = nullptr;

  void triangle(const uint8_t* record) { onTriangle(tally, record); }
  RecordAction frameMark(float timeStamp) {
    onFrameMark(tally, timeStamp);
    return RecordAction::Continue;
  }
  void walkEnded(const WalkEnd& end) {
    if (reportWalkEnd(end, *playerConsole)) damaged = true;
  }
};

ReadBack readThroughPlayer(const std::string& folder) {
  ReadBack back;
  test::CapturedConsole captured;
  const Console console = test::capturingConsole(captured);
  const FileAccess files = realFileAccess();
  const std::string segmentTemplate = folder + "/" + kDemoTemplate;
  SegmentedStream stream{};
  uint8_t header[kHeaderSize];
  if (startStream(stream, files, console, segmentTemplate.c_str(), header) != StartOutcome::Opened) {
    back.console = "segment 0 did not open";
    return back;
  }
  back.header = parseHeader(header);
  createStreamBuffers(stream);
  back.playerConsole = &console;
  RecordReader reader = startReader(stream);
  readRecords(reader, back);
  back.damaged = back.damaged || stream.damaged;
  back.segmentsOpened = stream.segmentNumber + 1;
  closeStream(stream);
  back.console = captured.text;
  return back;
}

// One run of the generator, read back once, for the checks of its content.
class DemoReadBack : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    generated = new GeneratedDemo;
    back = new ReadBack(readThroughPlayer(generated->folder.path));
  }
  static void TearDownTestSuite() {
    delete back;
    delete generated;
  }
  void SetUp() override {
    ASSERT_EQ(0, generated->result.exitStatus) << generated->result.output;
  }
  static GeneratedDemo* generated;
  static ReadBack* back;
};
GeneratedDemo* DemoReadBack::generated = nullptr;
ReadBack* DemoReadBack::back = nullptr;

TEST_F(DemoReadBack, PlaysThroughTheRealReaderToTheEnd) {

  Demo expected;
  std::string problem;
  ASSERT_TRUE(buildDemo(expected, problem)) << problem;

  EXPECT_EQ("", back->console);
  EXPECT_FALSE(back->damaged);
  EXPECT_TRUE(hasRecordingMagic(back->header));
  EXPECT_EQ(kDemoWidth, back->header.width);
  EXPECT_EQ(kDemoHeight, back->header.height);
  EXPECT_EQ(kDemoSegments, back->segmentsOpened);
  EXPECT_EQ(kDemoFrames, back->tally.frames);
  EXPECT_EQ(expected.frames, back->tally.frames);
  EXPECT_EQ(expected.triangles, back->tally.triangles);

  int segmentFiles = 0;
  for (const auto& [path, bytes] : filesBelow(generated->folder.path))
    segmentFiles += path.rfind("Video/Stream/", 0) == 0 ? 1 : 0;
  EXPECT_EQ(kDemoSegments, segmentFiles);
  EXPECT_GE(kDemoSegments, 3);
}

TEST_F(DemoReadBack, SceneUsesWhatRealRecordingsUse) {
  const Tally& tally = back->tally;
  ASSERT_EQ(kDemoFrames, tally.frames);

  // Every blend mode, the "keep" modes 3 to 7 included.
  for (int mode = 0; mode < 8; ++mode) EXPECT_GT(tally.modes[mode], 0) << "blend mode " << mode;
  // Every slot the header names is drawn with, and slot 0 too.
  std::set<int> named = {0};
  for (int slot = 1; slot <= kTextureSlotCount; ++slot)
    if (back->header.keys[slot] != 0) named.insert(slot);
  EXPECT_EQ(named, tally.slots);
  // The texture cache sees plenty of changes: several a frame.
  EXPECT_GT(tally.slotChanges, 10 * tally.frames);
  // Nothing is lost to the player's near clip or to depth 0, and the road's
  // triangles recede (their vertices differ in depth).
  EXPECT_EQ(0, tally.depthOutsideDrawable);
  EXPECT_GT(tally.triangleWithVaryingDepth, 20 * tally.frames);
  // Untextured surfaces are meant to show their colour, not plain white.
  EXPECT_EQ(0, tally.untexturedWhite);
  // The player never clears: opaque triangles cover the whole recorded
  // screen in every frame.
  EXPECT_EQ(0, tally.uncoveredFrames) << "first uncovered frame " << tally.firstUncoveredFrame;
}

TEST_F(DemoReadBack, FramesComeEverySixtiethOfASecondWithOnePause) {
  const std::vector<float>& times = back->tally.times;
  ASSERT_EQ(static_cast<size_t>(kDemoFrames), times.size());
  EXPECT_EQ(0.0f, times[0]);
  int pauses = 0;
  for (size_t i = 1; i < times.size(); ++i) {
    double gap = static_cast<double>(times[i]) - times[i - 1];
    if (gap >= 0.25) {
      ++pauses;
      EXPECT_LT(gap, 1.0) << "frame " << i;
    } else {
      EXPECT_NEAR(1.0 / 60, gap, 1e-5) << "frame " << i;
    }
  }
  EXPECT_EQ(1, pauses);
  EXPECT_GE(times.back(), 20.0f);
  EXPECT_LE(times.back(), 30.0f);
  // Frames before the pause carry exactly frame / 60.
  for (size_t i = 0; i < times.size() && times[i] < 5.0f; ++i)
    ASSERT_EQ(static_cast<float>(static_cast<double>(i) / 60), times[i]) << "frame " << i;
}

TEST_F(DemoReadBack, TexturesDecodeInEveryDepthWithColourKeyCutOuts) {
  const RecordingHeader& header = back->header;
  std::set<int> depths;
  bool bitFields16 = false;
  bool bitFields32 = false;
  bool palette = false;
  int withCutOuts = 0;
  int textures = 0;
  for (int slot = 1; slot <= kTextureSlotCount; ++slot) {
    if (header.keys[slot] == 0) continue;
    ++textures;
    std::string path = generated->folder.path + "/" + demoTexturePath(header.keys[slot]);
    Bytes file = test::readFile(path);
    ASSERT_FALSE(file.empty()) << path;
    BmpHeader bmp = readBmpHeader(file.data(), file.size());
    ASSERT_EQ(BmpProblem::None, bmp.problem) << path;
    std::vector<uint8_t> rgba(static_cast<size_t>(bmp.width) * bmp.height * 4, 0);
    EXPECT_EQ(bmp.height, decodeBmp(file.data(), file.size(), rgba.data(), rgba.size())) << path;
    applyColourKey(rgba.data(), rgba.size() / 4);
    int clear = 0;
    for (size_t i = 3; i < rgba.size(); i += 4) clear += rgba[i] == 0 ? 1 : 0;
    EXPECT_LT(clear, bmp.width * bmp.height) << path << " is all colour key";
    withCutOuts += clear > 0 ? 1 : 0;
    depths.insert(bmp.depth);
    bitFields16 = bitFields16 || (bmp.depth == 16 && bmp.compression == 3);
    bitFields32 = bitFields32 || (bmp.depth == 32 && bmp.compression == 3);
    palette = palette || bmp.depth == 8;
  }
  EXPECT_EQ(12, textures);
  EXPECT_EQ((std::set<int>{4, 8, 16, 24, 32}), depths);
  EXPECT_TRUE(bitFields16);
  EXPECT_TRUE(bitFields32);
  EXPECT_TRUE(palette);
  // Hills, cloud, trees, sign, bridge, cars and font have see-through parts.
  EXPECT_EQ(9, withCutOuts);
}

TEST(Demo, EveryRunWritesTheSameBytesAsTheBuild) {
  GeneratedDemo first;
  GeneratedDemo second;
  ASSERT_EQ(0, first.result.exitStatus) << first.result.output;
  ASSERT_EQ(0, second.result.exitStatus) << second.result.output;
  FileMap a = filesBelow(first.folder.path);
  FileMap b = filesBelow(second.folder.path);
  ASSERT_EQ(static_cast<size_t>(kDemoSegments + 12), a.size());
  EXPECT_TRUE(a == b) << "two runs of drec-make-demo differ";
  // The build wrote the same demo beside the player.
  const std::string built = test::buildDirectory() + "/player/";
  for (const auto& [path, bytes] : a) EXPECT_TRUE(test::readFile(built + path) == bytes) << built + path;
}

// Help and usage errors, run in an empty folder: nothing may be written
// there, whatever the arguments (a "--help" folder least of all). Standard
// error goes to a file elsewhere, so that it can be told from the output.
TEST(Demo, GeneratorHelpAndUsageErrorsWriteNothing) {
  const struct {
    std::vector<std::string> arguments;
    int status;
    const char* output;  // the start of standard output
    const char* error;   // part of standard error
  } rows[] = {
      {{"--help"}, 0, "Usage: drec-make-demo DIR\n", ""},
      {{"-h"}, 0, "Usage: drec-make-demo DIR\n", ""},
      {{"out", "--help"}, 0, "Usage: drec-make-demo DIR\n", ""},
      {{}, 2, "", "drec-make-demo: missing DIR\n"},
      {{"-x"}, 2, "", "drec-make-demo: unknown option '-x'\n"},
      {{"--folder=out"}, 2, "", "drec-make-demo: unknown option '--folder=out'\n"},
      {{"out", "more"}, 2, "", "drec-make-demo: more than one DIR\n"},
  };
  for (const auto& row : rows) {
    test::TempDirectory folder;
    test::TempDirectory errors;
    const std::string errFile = errors.path + "/stderr";
    test::ProgramRun run;
    run.arguments = {"/bin/sh", "-c", "f=$1; shift; exec \"$@\" 2>\"$f\"", "sh", errFile,
                     test::buildDirectory() + "/tools/drec-make-demo"};
    run.arguments.insert(run.arguments.end(), row.arguments.begin(), row.arguments.end());
    run.workingDirectory = folder.path;
    run.timeoutSeconds = 10;
    const test::ProgramResult result = test::runProgram(run);
    const std::string name = test::argumentText(row.arguments);
    const std::vector<uint8_t> errBytes = test::readFile(errFile);
    const std::string err(errBytes.begin(), errBytes.end());
    EXPECT_EQ(row.status, result.exitStatus) << name;
    EXPECT_EQ(0u, result.output.rfind(row.output, 0)) << name << ": " << result.output;
    EXPECT_NE(std::string::npos, err.find(row.error)) << name << ": " << err;
    // Help says nothing on standard error, a usage error nothing on standard output.
    EXPECT_EQ("", row.status == 0 ? err : result.output) << name;
    for (const std::string& line : test::lines(result.output)) EXPECT_LE(line.size(), 80u) << line;
    EXPECT_TRUE(std::filesystem::is_empty(folder.path)) << name << ": wrote into its folder";
  }
}

// The generator's own check of a split, against the reader's rules, on a
// stream of known chunks: six small ones, one long one, two small ones.
TEST(Demo, SegmentCutCheckFollowsTheReader) {
  auto records = [](size_t bytes) {
    Bytes r;
    while (r.size() + kFrameMarkSize <= bytes) appendFrameMark(r, 0.5f);
    return r;
  };
  Bytes stream = headerBytes(64, 48, TextureTable{});
  for (int i = 0; i < 6; ++i) appendChunk(stream, records(160), 0);  // level 0: stored, not shrunk
  appendChunk(stream, records(4000), 0);
  for (int i = 0; i < 2; ++i) appendChunk(stream, records(160), 0);
  std::vector<ChunkSpan> spans = chunkSpans(stream);
  ASSERT_EQ(9u, spans.size());
  auto middle = [&](size_t chunk) { return spans[chunk].dataOffset + spans[chunk].length / 2; };
  const size_t longChunk = spans[6].dataOffset;

  struct Row {
    const char* name;
    std::vector<size_t> cuts;
    bool followable;
  };
  const Row rows[] = {
      {"planned by the writer", planSegmentCuts(stream, 3), true},
      {"inside compressed bytes", {middle(2)}, true},
      {"right after a length word", {spans[2].dataOffset}, true},
      {"on a chunk's last byte", {spans[2].dataOffset + spans[2].length - 1}, true},
      {"no cut", {}, true},
      {"between two chunks", {spans[2].lengthWordOffset}, false},
      {"inside a length word", {spans[2].lengthWordOffset + 2}, false},
      {"middle segment shorter than segment 0", {middle(3), middle(4)}, false},
      {"a chunk over three segments", {longChunk + 10, longChunk + 10 + longChunk + 10}, false},
      {"long chunk cut, then a later one", {longChunk + 10, middle(8)}, true},
      {"descending", {middle(4), middle(2)}, false},
      {"at the end", {stream.size()}, false},
  };
  for (const Row& row : rows) {
    std::string problem;
    EXPECT_EQ(row.followable, segmentCutsFollowable(stream, row.cuts, problem)) << row.name << ": " << problem;
  }
}

}  // namespace
}  // namespace drec
