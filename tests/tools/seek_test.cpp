// The frame index and seeking against the tool's straight reading: every
// seek, from a horizon or a key frame, gives the picture `drec hash` gives
// for that frame, on a recording over three segments with frames spanning
// chunks, a pause, a damaged chunk, textures, every blend mode, and
// clipped and depth-0 triangles.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/sdl_setup.hpp"
#include "tests/support/drec_tool.hpp"
#include "tests/support/json_reader.hpp"
#include "tests/support/probe_scene.hpp"
#include "tests/support/test_paths.hpp"
#include "tools/drec/frame_index.hpp"
#include "tools/drec/frame_plan.hpp"
#include "tools/drec/recording_files.hpp"
#include "tools/drec/seek.hpp"

namespace drec {
namespace {

using test::kKeyedKey;
using test::kKeyedSlot;
using test::kQuadrantsKey;
using test::kQuadrantsSlot;
using test::Quad;

constexpr int kFrames = 160;
constexpr int kPauseFrame = 50;  // follows a gap of 0.4 s

// Frames of random quads over a 160 x 120 picture: now and then an opaque
// cover of the whole recorded screen, layers of every slot and blend mode,
// half-transparent ones, and triangles clipped (w below 2) or not drawn
// (depth 0). Chunks of 300 record bytes, so that frames span chunks.
Bytes seekRecording() {
  std::mt19937 random(1234);
  TextureTable keys{};
  keys[kQuadrantsSlot] = kQuadrantsKey;
  keys[kKeyedSlot] = kKeyedKey;
  RecordingWriter writer;
  beginRecording(writer, 160, 120, keys, 300);
  float time = 0;
  for (int frame = 0; frame < kFrames; ++frame) {
    if (frame % 37 == 5) {
      writeQuad(writer, Quad{0, 0, 0, 0, 255, 255, packColor(1, 7, 3, 9)});
    }
    const int quads = static_cast<int>(random() % 4);
    for (int i = 0; i < quads; ++i) {
      const auto left = static_cast<uint8_t>(random() % 200);
      const auto top = static_cast<uint8_t>(random() % 200);
      Quad quad{static_cast<int>(random() % 3), static_cast<int>(random() % 8), left, top,
                static_cast<uint8_t>(left + 10 + random() % 45),
                static_cast<uint8_t>(top + 10 + random() % 45),
                packColor(static_cast<int>(random() % 2), static_cast<int>(random() % 16),
                          static_cast<int>(random() % 16), static_cast<int>(random() % 16))};
      if (random() % 9 == 0) quad.depth = 40000;  // w about 1.6: clipped
      if (random() % 11 == 0) quad.depth = 0;     // not drawn; its state still counts
      writeQuad(writer, quad);
    }
    time += frame == kPauseFrame ? 0.4f : 1.0f / 60.0f;
    writeFrameMark(writer, time);
  }
  return finishRecording(writer);
}

// RGBA rows as the target stores them, hashed as drec hash does (red,
// green, blue, top row first).
uint64_t hashOfRgba(const std::vector<uint8_t>& rgba, const PictureTarget& target) {
  uint64_t hash = kFnv1a64Offset;
  const int width = target.width;
  for (int line = 0; line < target.height; ++line) {
    const int y = target.rowsTopFirst ? line : target.height - 1 - line;
    const uint8_t* row = rgba.data() + static_cast<size_t>(y) * width * 4;
    for (int x = 0; x < width; ++x) hash = fnv1a64(row + 4 * x, 3, hash);
  }
  return hash;
}

struct Reference {
  std::vector<std::string> times;
  std::vector<uint64_t> hashes;
};

TEST(Seeking, EverySeekGivesTheStraightReadingsPicture) {
  test::TempDirectory root;
  Bytes whole = seekRecording();
  // One chunk that does not decompress, in the middle.
  std::vector<ChunkSpan> spans = chunkSpans(whole);
  ASSERT_GT(spans.size(), 40u);
  whole[spans[spans.size() / 2].dataOffset + 3] ^= 0x5A;
  ASSERT_TRUE(writeSegmentFiles(root.path + "/Video/Stream", "s.%i.rec",
                                splitAt(whole, planSegmentCuts(whole, 3))));
  ASSERT_TRUE(test::writeProbeTextures(root.path + "/Video/TexDump"));
  const std::string name = root.path + "/Video/Stream/s.%i.rec";

  const test::DrecResult hashed = test::runDrec({"hash", name, "--quiet"}, root.path);
  ASSERT_EQ(1, hashed.status) << "the damaged chunk is damage: " << hashed.err;
  Reference reference;
  for (const std::string& line : test::lines(hashed.out)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t first = line.find(' '), second = line.rfind(' ');
    reference.times.push_back(line.substr(first + 1, second - first - 1));
    reference.hashes.push_back(std::stoull(line.substr(second + 1), nullptr, 16));
  }
  ASSERT_GT(reference.hashes.size(), 100u);
  ASSERT_LT(reference.hashes.size(), static_cast<size_t>(kFrames)) << "the damage lost no frame";

  OpenedRecording recording, indexed;
  ASSERT_TRUE(openRecording(recording, name.c_str(), nullptr));
  ASSERT_TRUE(openRecording(indexed, name.c_str(), nullptr));
  FrameRenderer renderer;
  ASSERT_TRUE(openRendererFor(renderer, recording));
  ASSERT_TRUE(loadGlExtensionEntries(renderer.gl));
  PictureTarget target{};
  ASSERT_TRUE(makePictureTarget(renderer.gl, 160, 120, target));
  HorizonTracker tracker{};
  EXPECT_TRUE(prepareHorizonTracker(tracker, renderer)) << "the GL rounds in a way not known";

  FrameIndex index{};
  startFrameIndex(index, indexed.stream, 0, &tracker);
  while (!indexFrames(index, 7)) {
  }
  ASSERT_EQ(reference.hashes.size(), index.frames.size());
  for (size_t frame = 0; frame < index.frames.size(); ++frame) {
    char time[32];
    std::snprintf(time, sizeof time, "%.6f", static_cast<double>(index.frames[frame].recordedTime));
    EXPECT_EQ(reference.times[frame], time) << "frame " << frame;
  }
  EXPECT_EQ(std::vector<int64_t>{kPauseFrame}, index.pausedFrames);
  ASSERT_EQ(1u, index.damagedFrames.size());
  EXPECT_EQ(ReadEnd::Complete, index.end);

  // The opaque covers cut the history short: later frames start after them.
  int64_t latestHorizon = 0;
  for (size_t frame = 0; frame < index.frames.size(); ++frame) {
    EXPECT_LE(index.frames[frame].horizon, static_cast<int64_t>(frame));
    EXPECT_GE(index.frames[frame].horizon, latestHorizon) << "the horizon went back at " << frame;
    latestHorizon = index.frames[frame].horizon;
  }
  EXPECT_GE(latestHorizon, 100) << "no cover cut the history short";
  const int64_t frames = static_cast<int64_t>(index.frames.size());
  // A key frame of this recording takes about 3 KB compressed.
  struct Budget {
    const char* name;
    size_t memory;
    size_t disk;
    std::string folder;
  };
  test::TempDirectory cache;
  const Budget budgets[] = {
      {"memory alone, room for about a dozen", 12 * 3000, 0, ""},
      {"3 in memory, about 8 on disk", 3 * 3000, 8 * 3000, cache.path + "/drec"},
      {"a disk that cannot be used", 3 * 3000, 8 * 3000, "/proc/no-such-folder/drec"},
  };
  for (const Budget& budget : budgets) {
    SCOPED_TRACE(budget.name);
    Seeker seeker{};
    startSeeker(seeker, renderer, target, recording.stream, index, budget.memory, budget.disk,
                budget.folder);
    auto expectPicture = [&](int64_t frame, const char* how) {
      ASSERT_TRUE(seekToFrame(seeker, frame)) << how << " " << frame;
      renderer.gl.ReadPixels(0, 0, 160, 120, GL_RGBA, GL_UNSIGNED_BYTE, seeker.rgba.data());
      EXPECT_EQ(reference.hashes[static_cast<size_t>(frame)], hashOfRgba(seeker.rgba, target))
          << how << " to frame " << frame << " (drawn " << seeker.lastSeekFrames << " frames"
          << (seeker.lastSeekFromKeyFrame ? " from a key frame)" : " from the horizon)");
    };
    // In order, as playback goes, offering every picture as a key frame.
    for (int64_t frame = 0; frame < frames; ++frame) {
      expectPicture(frame, "in order");
      offerKeyFrame(seeker, frame, stateAfterFrame(index, frame));
      EXPECT_LE(seeker.keys.usedBytes, budget.memory);
      EXPECT_LE(seeker.keys.diskUsedBytes, budget.disk);
    }
    ASSERT_GE(seeker.keys.keys.size(), 3u);
    size_t onDisk = 0;
    for (const KeyFrame& key : seeker.keys.keys) {
      EXPECT_EQ(0, key.frame % seeker.keys.spacing);
      onDisk += key.diskOffset >= 0;
    }
    EXPECT_GT(seeker.keys.spacing, 1) << "the store never thinned out";
    if (budget.folder == cache.path + "/drec") {
      EXPECT_GE(onDisk, 3u);
      EXPECT_TRUE(std::filesystem::is_empty(budget.folder)) << "the disk file is left in the folder";
    } else {
      EXPECT_EQ(0u, onDisk);
      EXPECT_EQ(budget.disk > 0, !seeker.keys.diskProblem.empty());
    }

    std::mt19937 random(99);
    std::vector<int64_t> targets = {frames - 1, 0, 1, kPauseFrame, kPauseFrame - 1,
                                    index.damagedFrames[0], index.damagedFrames[0] - 1};
    for (int i = 0; i < 40; ++i) targets.push_back(static_cast<int64_t>(random() % frames));
    for (int64_t frame : targets) expectPicture(frame, "a seek");
    closeKeyFrameStore(seeker.keys);
  }
  // Drawing ahead from frame 10 into a second target: the picture of frame
  // 10 stays, and the key frames of the frames after it are exact.
  {
    Seeker seeker{};
    startSeeker(seeker, renderer, target, recording.stream, index, 40 * 3000);
    OpenedRecording aheadRecording;
    ASSERT_TRUE(openRecording(aheadRecording, name.c_str(), nullptr));
    PictureTarget aheadTarget{};
    ASSERT_TRUE(makePictureTarget(renderer.gl, 160, 120, aheadTarget));
    DrawAhead ahead{};
    startDrawAhead(ahead, aheadTarget, aheadRecording.stream);
    ASSERT_TRUE(seekToFrame(seeker, 10));
    aimDrawAhead(ahead, seeker, 10);
    int drawn = 0;
    while (drawAheadOne(ahead, seeker, stateAfterFrame(index, 10))) ++drawn;
    EXPECT_GT(drawn, 20) << "drawing ahead stopped early";
    EXPECT_LT(drawn, frames - 11) << "drawing ahead went past the full budget";
    EXPECT_TRUE(keyFramesFull(seeker.keys));
    renderer.gl.ReadPixels(0, 0, 160, 120, GL_RGBA, GL_UNSIGNED_BYTE, seeker.rgba.data());
    EXPECT_EQ(reference.hashes[10], hashOfRgba(seeker.rgba, target)) << "the picture on screen changed";
    for (const KeyFrame& key : seeker.keys.keys) {
      ASSERT_TRUE(seekToFrame(seeker, key.frame));
      EXPECT_EQ(0, seeker.lastSeekFrames) << "frame " << key.frame << " not restored from its key frame";
      renderer.gl.ReadPixels(0, 0, 160, 120, GL_RGBA, GL_UNSIGNED_BYTE, seeker.rgba.data());
      EXPECT_EQ(reference.hashes[static_cast<size_t>(key.frame)], hashOfRgba(seeker.rgba, target))
          << "the key frame drawn ahead of frame " << key.frame;
    }
  }
  closeFrameRenderer(renderer);
}


// drec info's horizon spread: an opaque cover of the whole recorded screen
// every fifth frame and a half-transparent quad inside it on every frame, so
// frame f depends on frame f - f % 5 alone.
TEST(Seeking, InfoTellsHowFarBackFramesDepend) {
  test::TempDirectory root;
  std::vector<test::Frame> frames;
  for (int frame = 0; frame < 20; ++frame) {
    test::Frame row{static_cast<float>(frame) / 60.0f, {}};
    if (frame % 5 == 0) row.quads.push_back(Quad{0, 0, 0, 0, 255, 255, packColor(1, 7, 3, 9)});
    row.quads.push_back(Quad{0, 1, 100, 100, 150, 150, packColor(0, 15, 0, 0)});
    frames.push_back(row);
  }
  ASSERT_TRUE(writeBytesToFile(root.path + "/r.rec", test::probeRecording(frames, false)));
  const test::DrecResult info = test::runDrec({"info", "--json", "r.rec"}, root.path);
  ASSERT_EQ(0, info.status) << info.err;
  test::Json json;
  ASSERT_TRUE(test::parseJson(info.out, json)) << info.out;
  const test::Json& horizon = json["horizon"];
  ASSERT_EQ(test::Json::Object, horizon.kind) << info.out;
  EXPECT_TRUE(horizon["exact_coverage"].boolean);
  // Frames back: 0, 1, 2, 3, 4, four times each.
  EXPECT_EQ(2, horizon["frames_back"]["median"].integer());
  EXPECT_EQ(4, horizon["frames_back"]["p99"].integer());
  EXPECT_EQ(4, horizon["frames_back"]["max"].integer());
  EXPECT_NEAR(4.0 / 60.0, horizon["seconds_back"]["max"].number, 1e-4);
  EXPECT_EQ(4, horizon["deepest_frame"].integer());
  EXPECT_EQ(4, horizon["standalone_frames"].integer());
  EXPECT_EQ(4, horizon["frames_back_to_first"].integer());
}

}  // namespace
}  // namespace drec
