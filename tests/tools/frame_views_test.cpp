// What drec play's views show, without a window: the window pixel to
// picture pixel mapping across scales and bars, overdraw counted with the
// GL's coverage rules, and the rows of the demo's texture slots.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/console.hpp"
#include "platform/files.hpp"
#include "render/triangles.hpp"
#include "tests/support/gl_recorder.hpp"
#include "tests/support/test_paths.hpp"
#include "tools/drec/frame_views.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

TEST(PicturePlacement, WindowPixelsMapToPicturePixelsUpToTheBars) {
  struct Case {
    int windowWidth, windowHeight;
    int x, y;  // window pixel, from the top-left
    bool onPicture;
    int pictureX, pictureY;
  };
  // A 640 x 480 picture: at its own size, doubled in a 1280 x 1024 window
  // (bars of 32 rows above and below), beside bars of 180 columns, at 1.25.
  const Case cases[] = {
      {640, 480, 639, 479, true, 639, 479}, {640, 480, 640, 0, false, 0, 0},
      {1280, 1024, 0, 31, false, 0, 0},     {1280, 1024, 1, 33, true, 0, 0},
      {1280, 1024, 2, 34, true, 1, 1},      {1280, 1024, 1279, 992, false, 0, 0},
      {1000, 480, 179, 10, false, 0, 0},    {1000, 480, 180, 10, true, 0, 10},
      {1000, 480, 819, 10, true, 639, 10},  {1000, 480, 820, 10, false, 0, 0},
      {800, 600, 799, 599, true, 639, 479}, {641, 481, 640, 480, true, 639, 479},
  };
  for (const Case& row : cases) {
    const PicturePlacement placement = placePicture(row.windowWidth, row.windowHeight, 640, 480);
    int x = -1, y = -1;
    const bool on = picturePixelAt(placement, 640, 480, row.x, row.y, x, y);
    const std::string name = std::to_string(row.windowWidth) + " x " + std::to_string(row.windowHeight) +
                             " at (" + std::to_string(row.x) + ", " + std::to_string(row.y) + ")";
    EXPECT_EQ(row.onPicture, on) << name;
    if (on && row.onPicture) {
      EXPECT_EQ(row.pictureX, x) << name;
      EXPECT_EQ(row.pictureY, y) << name;
    }
  }
  EXPECT_EQ(32, placePicture(1280, 1024, 640, 480).bottom) << "the blit counts rows from the bottom";
}

// A triangle record's 26 bytes, as the recording holds them.
std::vector<uint8_t> triangleOf(TriangleVertex a, TriangleVertex b, TriangleVertex c) {
  std::vector<uint8_t> record;
  appendTriangle(record, 0, {a, b, c});
  return record;
}

// Two overlapping quads of two triangles each, and a triangle with a vertex
// of depth 0 over everything, which the GL does not draw. Each pixel counts
// the quads whose landing rectangle holds its centre, the top row first.
TEST(Overdraw, CountsEachPixelOncePerQuadWithTheTopRowFirst) {
  test::GlRecorder recorder;
  const GlApi gl = test::recordingGlApi();
  TextureSlots slots{};
  TriangleRenderer renderer{};
  constexpr int kWidth = 200, kHeight = 150;
  setupTriangleRenderer(renderer, gl, slots, kWidth, kHeight);
  CoverageSetup coverage{};
  setupCoverage(coverage, renderer, CoverageRules{false, false});
  OverdrawMap map{};
  startOverdrawMap(map, kWidth, kHeight);
  constexpr uint16_t kDepth = 16384;  // w = 4: inside the clip volume
  struct Quad {
    uint8_t left, top, right, bottom;
  };
  const Quad quads[] = {{20, 30, 140, 160}, {90, 100, 250, 230}};
  for (int pass = 0; pass < 2; ++pass) {
    clearOverdraw(map);  // a second frame counts from zero again
    for (const Quad& quad : quads) {
      const TriangleVertex topLeft{0, 0, quad.left, quad.top, kDepth, 0};
      const TriangleVertex topRight{0, 0, quad.right, quad.top, kDepth, 0};
      const TriangleVertex bottomLeft{0, 0, quad.left, quad.bottom, kDepth, 0};
      const TriangleVertex bottomRight{0, 0, quad.right, quad.bottom, kDepth, 0};
      addToOverdraw(map, coverage, triangleOf(topLeft, topRight, bottomLeft).data());
      addToOverdraw(map, coverage, triangleOf(topRight, bottomRight, bottomLeft).data());
    }
    addToOverdraw(map, coverage,
                  triangleOf({0, 0, 0, 0, 0, 0}, {0, 0, 255, 0, kDepth, 0}, {0, 0, 0, 255, kDepth, 0}).data());
  }
  std::vector<uint16_t> expected(map.counts.size(), 0);
  int most = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const float centreX = static_cast<float>(x) + 0.5f, centreY = static_cast<float>(y) + 0.5f;
      uint16_t& count = expected[static_cast<size_t>(y) * kWidth + static_cast<size_t>(x)];
      for (const Quad& quad : quads) {
        // y down from the top: the landing tables count up from the bottom.
        if (centreX > renderer.xPixels[quad.left] && centreX < renderer.xPixels[quad.right] &&
            centreY > kHeight - renderer.yPixels[quad.top] && centreY < kHeight - renderer.yPixels[quad.bottom])
          ++count;
      }
      most = std::max<int>(most, count);
    }
  }
  ASSERT_EQ(2, most) << "the quads overlap";
  EXPECT_EQ(most, map.most);
  size_t wrong = 0;
  for (size_t i = 0; i < expected.size(); ++i) {
    if (expected[i] == map.counts[i]) continue;
    if (++wrong <= 5)
      ADD_FAILURE() << "pixel (" << i % kWidth << ", " << i / kWidth << "): " << map.counts[i] << ", not "
                    << expected[i];
  }
  EXPECT_EQ(0u, wrong) << "pixels counted wrong";
  EXPECT_EQ(0, map.clipped);

  std::vector<uint8_t> rgba(map.counts.size() * 4);
  overdrawPixels(map, rgba.data());
  for (size_t i = 0; i < expected.size(); i += 97) {
    const uint8_t* heat = kHeatScale[expected[i]].rgba;
    EXPECT_EQ(std::vector<uint8_t>(heat, heat + 4), std::vector<uint8_t>(&rgba[4 * i], &rgba[4 * i] + 4));
  }
}

RecordingHeader demoHeader() {
  const std::vector<uint8_t> segment0 =
      test::readFile(test::buildDirectory() + "/player/Video/Stream/Recording_12_01_2013_13_41_13.0.rec");
  std::vector<uint8_t> bytes(kHeaderSize, 0);
  std::copy_n(segment0.begin(), std::min<size_t>(segment0.size(), kHeaderSize), bytes.begin());
  return parseHeader(bytes.data());
}

void ignoreText(void*, const char*, size_t) {}

// The demo's twelve keyed slots, all decoded, and a thirteenth whose file
// is missing.
TEST(TextureSlotRows, TheDemosSlotsInOrderWithTheirFilesAndSizes) {
  RecordingHeader header = demoHeader();
  ASSERT_TRUE(hasRecordingMagic(header));
  header.keys[20] = 0x0123456789ABCDEFull;
  const std::string folder = test::buildDirectory() + "/player/Video/TexDump/";
  test::GlRecorder recorder;
  recorder.integers[GL_MAX_TEXTURE_SIZE] = 8192;
  TextureSlots slots{};
  loadAllTextures(slots, header, folder.c_str(), test::recordingGlApi(), realFileAccess(),
                  Console{nullptr, ignoreText});
  const std::vector<TextureSlotRow> rows = textureSlotRows(header, slots, folder);
  ASSERT_EQ(13u, rows.size());
  for (size_t i = 0; i < 12; ++i) {
    const TextureSlotRow& row = rows[i];
    EXPECT_EQ(static_cast<int>(i) + 1, row.slot);
    char key[17];
    textureKeyHex(header.keys[row.slot], key);
    EXPECT_STREQ(key, row.key);
    EXPECT_EQ(folder + key + ".bmp", row.file);
    EXPECT_EQ("decoded", row.decoded) << "slot " << row.slot;
    EXPECT_NE(0u, row.texture) << "slot " << row.slot;
  }
  // As drec info describes them.
  EXPECT_EQ("16 x 32, 16-bit", rows[1].size);
  EXPECT_EQ("240 x 60, 8-bit", rows[11].size);
  EXPECT_EQ(20, rows[12].slot);
  EXPECT_STREQ("0123456789ABCDEF", rows[12].key);
  EXPECT_EQ("no image", rows[12].size);
  EXPECT_EQ("file missing", rows[12].decoded);
  EXPECT_EQ(0u, rows[12].texture);
}

}  // namespace
}  // namespace drec
