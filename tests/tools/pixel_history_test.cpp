// drec pixel and the pixel history under it, on a recording of known
// geometry: the triangles listed at a pixel, in order, with those that leave
// its colour as it was; where their records lie; the colours before and
// after each against drec export's picture; a pixel on the edge two
// triangles share claimed by exactly one; usage errors before any drawing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "platform/sdl_setup.hpp"
#include "tests/support/drec_tool.hpp"
#include "tests/support/json_reader.hpp"
#include "tests/support/probe_scene.hpp"
#include "tests/support/test_paths.hpp"
#include "tests/support/window_support.hpp"
#include "tools/drec/frame_index.hpp"
#include "tools/drec/pixel_history.hpp"
#include "tools/drec/png_file.hpp"
#include "tools/drec/recording_files.hpp"
#include "tools/drec/seek.hpp"

namespace drec {
namespace {

using namespace test;

const PackedColor16 kBrown = packColor(1, 8, 4, 2);  // #884422

TriangleVertex at(uint8_t x, uint8_t y, PackedColor16 color, uint8_t s = 0, uint16_t depth = kNearDepth) {
  return TriangleVertex{s, 0, x, y, depth, color};
}

// The recorded screen's top-left half, where the pixel asked about lies.
void writeTopLeft(RecordingWriter& writer, int slot, int blend, PackedColor16 color, uint8_t s = 0,
                  uint16_t depth = kNearDepth) {
  const TriangleVertex vertices[3] = {at(0, 0, color, s, depth), at(255, 0, color, s, depth),
                                      at(0, 255, color, s, depth)};
  writeTriangle(writer, triangleState(slot, blend), vertices);
}

// Chunks are cut once 40 record bytes are pending: frame 1 starts at byte 8
// of chunk 1 (after frame 0's mark) and its triangles fall two to a chunk.
Bytes historyRecording() {
  TextureTable keys{};
  keys[kQuadrantsSlot] = kQuadrantsKey;
  keys[kKeyedSlot] = kKeyedKey;
  RecordingWriter writer;
  beginRecording(writer, kProbeWidth, kProbeHeight, keys, 40);
  writeQuad(writer, Quad{0, 0, 0, 0, 255, 255, kBrown});
  writeFrameMark(writer, 0.0f);
  // Frame 1: 0 lies elsewhere; 1 half black; 2 opaque red; 3 has a vertex
  // of depth 0; 4 blend mode 2; 5 the keyed texture's near-black half;
  // 6 half white.
  const TriangleVertex corner[3] = {at(200, 200, kRed), at(255, 200, kRed), at(255, 255, kRed)};
  writeTriangle(writer, triangleState(0, 0), corner);
  writeTopLeft(writer, 0, 1, packColor(0, 0, 0, 0));
  writeTopLeft(writer, 0, 0, kRed);
  writeTopLeft(writer, 0, 1, kBlue, 0, 0);
  writeTopLeft(writer, 0, 2, kBlue);
  writeTopLeft(writer, kKeyedSlot, 1, kOpaqueWhite, 48);  // between texels 1 and 2
  writeTopLeft(writer, 0, 1, kHalfWhite);
  writeFrameMark(writer, 1.0f / 60);
  // Frame 2: a quad of lime and violet halves, split along its diagonal.
  Quad quad{0, 0, 40, 40, 215, 215, kViolet};
  quad.firstTriangleColor = kLime;
  writeQuad(writer, quad);
  writeFrameMark(writer, 2.0f / 60);
  return finishRecording(writer);
}

const char* const kRecording = "Video/Stream/h.%i.rec";
const int kX = landX(60);
const int kY = landY(60);

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  std::string color(int x, int y) const {
    const uint8_t* p = rgb.data() + (static_cast<size_t>(y) * width + x) * 3;
    char text[8];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", p[0], p[1], p[2]);
    return text;
  }
};

// Frame `frame` as drec export draws it.
Picture exported(const std::string& root, int frame, DrecDisplay display) {
  const DrecResult run = runDrec({"export", kRecording, "--frames", std::to_string(frame), "--out",
                                  "png", "--force", "--quiet"},
                                 root, display, 60);
  EXPECT_EQ(0, run.status) << run.err;
  Picture picture;
  std::string error;
  char name[32];
  std::snprintf(name, sizeof name, "/png/frame-%06d.png", frame);
  EXPECT_TRUE(readPngFile(root + name, picture.width, picture.height, picture.rgb, error)) << error;
  return picture;
}

struct Folder {
  TempDirectory root;
  Folder() {
    EXPECT_TRUE(writeSegmentFiles(root.path + "/Video/Stream", "h.%i.rec", {historyRecording()}));
    EXPECT_TRUE(writeProbeTextures(root.path + "/Video/TexDump"));
    EXPECT_TRUE(makeDirectories(root.path + "/empty"));
  }
};

TEST(DrecPixel, ListsEveryTriangleThatReachedThePixelInOrder) {
  Folder folder;
  const std::string at = std::to_string(kX) + "," + std::to_string(kY);
  for (const DrecDisplay display : {DrecDisplay::None, DrecDisplay::X11}) {
    if (display == DrecDisplay::X11 && !haveDisplay()) {
      if (ciRun()) ADD_FAILURE() << "CI=true but no X server (DISPLAY unset)";
      continue;
    }
    SCOPED_TRACE(display == DrecDisplay::X11 ? "hidden X window" : "offscreen driver");
    const Picture picture = exported(folder.root.path, 1, display);
    const DrecResult run = runDrec({"pixel", kRecording, "--frame", "1", "--at", at, "--json"},
                                   folder.root.path, display, 60);
    ASSERT_FALSE(run.timedOut);
    ASSERT_EQ(0, run.status) << run.err;
    Json json;
    ASSERT_TRUE(parseJson(run.out, json)) << run.out;
    const std::vector<ChunkSpan> chunks = chunkSpans(historyRecording());
    struct Row {
      int64_t index, chunk, recordOffset, slot, blendMode, blendInForce;
      unsigned after;  // within 1 a channel: half alpha rounds either way
    };
    const Row rows[] = {
        {1, 1, 34, 0, 1, 1, 0x442211},          {2, 2, 0, 0, 0, 0, 0xFF0000},
        {4, 3, 0, 0, 2, 2, 0xFF0000},           {5, 3, 26, kKeyedSlot, 1, 1, 0xFF0000},
        {6, 4, 0, 0, 1, 1, 0xFF8080},
    };
    EXPECT_EQ("#884422", json["color_before"].text);
    EXPECT_EQ(picture.color(kX, kY), json["final_color"].text) << "not the exported picture's pixel";
    std::string before = json["color_before"].text;
    const Json& triangles = json["triangles"];
    ASSERT_EQ(std::size(rows), triangles.size()) << run.out;
    for (size_t i = 0; i < std::size(rows); ++i) {
      const Row& row = rows[i];
      const Json& triangle = triangles[i];
      SCOPED_TRACE("triangle " + std::to_string(row.index));
      EXPECT_EQ(row.index, triangle["index"].integer());
      EXPECT_EQ(0, triangle["segment"].integer());
      EXPECT_EQ(static_cast<int64_t>(chunks[static_cast<size_t>(row.chunk)].lengthWordOffset),
                triangle["chunk_offset"].integer());
      EXPECT_EQ(row.recordOffset, triangle["record_offset"].integer());
      EXPECT_EQ(row.slot, triangle["slot"].integer());
      EXPECT_EQ(row.blendMode, triangle["blend_mode"].integer());
      EXPECT_EQ(row.blendInForce, triangle["blend_in_force"].integer());
      EXPECT_EQ(before, triangle["color_before"].text);
      before = triangle["color_after"].text;
      EXPECT_TRUE(near(static_cast<unsigned>(std::stoul(before.substr(1), nullptr, 16)), row.after, 1))
          << before << ", expected " << hex(row.after);
      EXPECT_EQ(kNearDepth, triangle["vertices"][2]["depth"].integer());
    }
    EXPECT_EQ("A1B2C3D4E5F60718", triangles[3]["texture_key"].text);
    EXPECT_EQ(0.5, triangles[4]["vertices"][0]["color_drawn"][3].number);
    EXPECT_NEAR(landX(0), triangles[4]["vertices"][0]["landing_x"].number, 1.0);
    EXPECT_NEAR(landY(0), triangles[4]["vertices"][0]["landing_y"].number, 1.0) << "y from the top";

    const DrecResult text = runDrec({"pixel", kRecording, "--frame", "1", "--at", at},
                                    folder.root.path, display, 60);
    ASSERT_EQ(0, text.status) << text.err;
    const std::vector<std::string> lines = test::lines(text.out);
    ASSERT_GT(lines.size(), 2u);
    EXPECT_EQ("frame 1, pixel " + at + " of 640 x 480: #884422 from the frames before", lines.front());
    EXPECT_EQ("final colour " + picture.color(kX, kY) + " (5 triangles)", lines.back());
  }
}

TEST(DrecPixel, RefusesWhatItCannotAnswer) {
  Folder folder;
  struct Row {
    std::vector<std::string> arguments;
    int status;
  };
  const Row rows[] = {
      {{"--frame", "1", "--at", "640,0"}, 2},
      {{"--frame", "1", "--at", "0,480"}, 2},
      {{"--frame", "1", "--at", "-1,0"}, 2},
      {{"--frame", "1", "--at", "5"}, 2},
      {{"--frame", "3", "--at", "0,0"}, 2},
      {{"--at", "0,0"}, 2},
      {{"--frame", "1", "--at", "639,479", "--textures", "empty"}, 1},
      {{"--frame", "1", "--at", "639,479", "--textures", "empty", "--allow-missing-textures"}, 0},
  };
  for (const Row& row : rows) {
    std::vector<std::string> arguments = {"pixel", kRecording};
    arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
    const DrecResult run = runDrec(arguments, folder.root.path, DrecDisplay::None, 60);
    EXPECT_EQ(row.status, run.status) << argumentText(arguments) << run.err;
    EXPECT_EQ(row.status == 2, run.out.empty()) << argumentText(arguments) << run.out;
  }
}

// In the program's own process, as a viewer calls it: along the diagonal two
// triangles share, each pixel is claimed by one of them, the one whose colour
// drec export shows there; the seeker is left holding the frame's picture.
TEST(PixelHistory, AnEdgeSharedByTwoTrianglesIsClaimedOnce) {
  Folder folder;
  const std::string name = folder.root.path + "/" + kRecording;
  const Picture picture = exported(folder.root.path, 2, haveDisplay() ? DrecDisplay::X11 : DrecDisplay::None);
  OpenedRecording recording, indexed;
  ASSERT_TRUE(openRecording(recording, name.c_str(), nullptr));
  ASSERT_TRUE(openRecording(indexed, name.c_str(), nullptr));
  FrameRenderer renderer;
  ASSERT_TRUE(openRendererFor(renderer, recording));
  ASSERT_TRUE(loadGlExtensionEntries(renderer.gl));
  PictureTarget target{};
  ASSERT_TRUE(makePictureTarget(renderer.gl, kProbeWidth, kProbeHeight, target));
  FrameIndex index{};
  startFrameIndex(index, indexed.stream, 0);
  while (!indexFrames(index, 16)) {
  }
  ASSERT_EQ(3u, index.frames.size());
  Seeker seeker{};
  startSeeker(seeker, renderer, target, recording.stream, index, 0);
  RecordReader reader = startReader(indexed.stream);
  PixelHistory history{};
  const char* const colors[2] = {"#66FF00", "#6600FF"};  // lime, violet
  int claimed[2] = {0, 0};
  // From the quad's top-right corner to its bottom-left one, and a pixel to each side.
  for (int step = 1; step < 40; ++step) {
    const int x0 = landX(215 - 175.0 * step / 40), y = landY(40 + 175.0 * step / 40);
    for (int x = x0 - 1; x <= x0 + 1; ++x) {
      ASSERT_TRUE(findPixelHistory(seeker, reader, 2, x, y, history));
      ASSERT_EQ(1u, history.touches.size()) << "pixel " << x << "," << y;
      const PixelTouch& touch = history.touches[0];
      ASSERT_LT(touch.triangle.index, 2u);
      ++claimed[touch.triangle.index];
      char after[8];
      std::snprintf(after, sizeof after, "#%02X%02X%02X", touch.after.red, touch.after.green,
                    touch.after.blue);
      EXPECT_EQ(colors[touch.triangle.index], picture.color(x, y)) << "pixel " << x << "," << y;
      EXPECT_EQ(picture.color(x, y), after) << "pixel " << x << "," << y;
    }
  }
  EXPECT_GT(claimed[0], 5);
  EXPECT_GT(claimed[1], 5);
  std::vector<uint8_t> rgba(static_cast<size_t>(kProbeWidth) * kProbeHeight * 4);
  renderer.gl.ReadPixels(0, 0, kProbeWidth, kProbeHeight, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  size_t different = 0;
  for (int y = 0; y < kProbeHeight; ++y)
    for (int x = 0; x < kProbeWidth; ++x)
      different += std::memcmp(&rgba[(static_cast<size_t>(target.rowsTopFirst ? y : kProbeHeight - 1 - y) *
                                           kProbeWidth + x) * 4],
                               &picture.rgb[(static_cast<size_t>(y) * kProbeWidth + x) * 3], 3) != 0;
  EXPECT_EQ(0u, different) << "the target does not hold the frame's picture";
  releasePixelHistory(renderer.gl, history);
  closeFrameRenderer(renderer);
}

}  // namespace
}  // namespace drec
