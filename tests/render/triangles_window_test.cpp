// Triangle drawing on a real context: the playback window's back buffer is
// read back after the set-up and the drawing run through the real code.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/display.hpp"
#include "recording/format.hpp"
#include "render/gl_api.hpp"
#include "render/setup.hpp"
#include "render/textures.hpp"
#include "render/triangles.hpp"
#include "tests/support/captured_console.hpp"
#include "tests/support/window_support.hpp"
#include "tools/writer/bmp_writer.hpp"
#include "tools/writer/memory_files.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

struct Rgb {
  int red, green, blue;
};

std::string describe(Rgb c) {
  char text[40];
  std::snprintf(text, sizeof text, "(%d, %d, %d)", c.red, c.green, c.blue);
  return text;
}

bool near(Rgb a, Rgb b, int tolerance) {
  return std::abs(a.red - b.red) <= tolerance && std::abs(a.green - b.green) <= tolerance &&
         std::abs(a.blue - b.blue) <= tolerance;
}

// A vertex by its recorded bytes.
struct V {
  int x, y;
  int s = 0, t = 0;
  int depth = 16384;  // w about 4: inside the clip volume (w must be 2 or more)
  PackedColor16 color = 0x1FFF;
};

// Where a recorded screen position lands in the window (top-left origin): the
// recorded screen is scaled about the window centre by H cot(30 degrees) / 1024.
struct Point {
  double x, y;
};
Point landing(int width, int height, double x, double y) {
  const double scale = height / std::tan(M_PI / 6) / 1024.0;
  const double screenX = x * width / 255.0;
  const double screenY = y * height / 255.0;
  return Point{width / 2.0 + (screenX - width / 2.0) * scale,
               height / 2.0 + (screenY - height / 2.0) * scale};
}

struct Frame {
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;  // bottom row first, as GL reads it
  Rgb at(int x, int yFromTop) const {
    const uint8_t* p = rgba.data() + 4 * (static_cast<size_t>(height - 1 - yFromTop) * width + x);
    return Rgb{p[0], p[1], p[2]};
  }
  Rgb at(Point p) const { return at(static_cast<int>(p.x), static_cast<int>(p.y)); }
};

// A triangle in window pixels with the colour expected inside it.
struct Covered {
  Point corners[3];
  Rgb color;
};

// Signed distance of `p` from each edge, positive inside; the smallest of the three.
double insideDistance(const Point (&c)[3], Point p) {
  const double area = (c[1].x - c[0].x) * (c[2].y - c[0].y) - (c[1].y - c[0].y) * (c[2].x - c[0].x);
  const double orientation = area >= 0 ? 1.0 : -1.0;
  double smallest = 1e30;
  for (int i = 0; i < 3; ++i) {
    const Point a = c[i];
    const Point b = c[(i + 1) % 3];
    const double length = std::hypot(b.x - a.x, b.y - a.y);
    const double d = orientation * ((b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x)) / length;
    smallest = std::min(smallest, d);
  }
  return smallest;
}

class TrianglesWindow : public ::testing::Test {
 protected:
  Display display{};
  GlApi gl = realGlApi();
  TextureSlots slots{};
  TriangleRenderer renderer{};
  int width = 0;
  int height = 0;

  // The player's start-up order: display, set-up, textures, scales, cache.
  bool start(int w, int h, const RecordingHeader* header = nullptr, MemoryFiles* files = nullptr) {
    width = w;
    height = h;
    if (!openDisplay(display, w, h, "drec triangles test")) return false;
    renderSetup(gl, w, h);
    if (header && files) {
      test::CapturedConsole console;
      loadAllTextures(slots, *header, kPlayerTexturesFolder, gl, memoryFileAccess(*files),
                      test::capturingConsole(console));
    }
    setupTriangleRenderer(renderer, gl, slots, w, h);
    resetTriangleCache(renderer);
    return true;
  }

  void TearDown() override {
    if (display.window) closeDisplay(display);
  }

  void draw(uint8_t state, const V& a, const V& b, const V& c) {
    const TriangleVertex vertices[3] = {
        {static_cast<uint8_t>(a.s), static_cast<uint8_t>(a.t), static_cast<uint8_t>(a.x),
         static_cast<uint8_t>(a.y), static_cast<uint16_t>(a.depth), a.color},
        {static_cast<uint8_t>(b.s), static_cast<uint8_t>(b.t), static_cast<uint8_t>(b.x),
         static_cast<uint8_t>(b.y), static_cast<uint16_t>(b.depth), b.color},
        {static_cast<uint8_t>(c.s), static_cast<uint8_t>(c.t), static_cast<uint8_t>(c.x),
         static_cast<uint8_t>(c.y), static_cast<uint16_t>(c.depth), c.color}};
    Bytes record;
    appendTriangle(record, state, vertices);
    ASSERT_EQ(record.size(), static_cast<size_t>(kTriangleSize));
    drawTriangle(renderer, record.data(), false);
  }

  // The whole recorded screen in one colour, as two triangles.
  void fill(uint8_t state, PackedColor16 color) {
    draw(state, V{0, 0, 0, 0, 16384, color}, V{255, 0, 0, 0, 16384, color}, V{0, 255, 0, 0, 16384, color});
    draw(state, V{255, 0, 0, 0, 16384, color}, V{255, 255, 0, 0, 16384, color},
         V{0, 255, 0, 0, 16384, color});
  }

  Frame readFrame() {
    Frame frame;
    frame.width = width;
    frame.height = height;
    frame.rgba.resize(static_cast<size_t>(width) * height * 4);
    glFinish();
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, frame.rgba.data());
    return frame;
  }

  Covered covered(const V& a, const V& b, const V& c, Rgb color) const {
    return Covered{{landing(width, height, a.x, a.y), landing(width, height, b.x, b.y),
                    landing(width, height, c.x, c.y)},
                   color};
  }
};

// Every pixel at least `margin` inside a triangle shows its colour (the later
// triangle wins); every pixel at least `margin` outside all shows `outside`.
void expectCoverage(const Frame& frame, const std::vector<Covered>& triangles, Rgb outside,
                    const char* name, double margin = 1.5, int tolerance = 3) {
  int insideCount = 0;
  int failures = 0;
  for (int y = 0; y < frame.height; ++y) {
    for (int x = 0; x < frame.width; ++x) {
      const Point centre{x + 0.5, y + 0.5};
      const Covered* top = nullptr;
      bool nearEdge = false;
      for (const Covered& triangle : triangles) {
        const double d = insideDistance(triangle.corners, centre);
        if (d >= margin) top = &triangle;
        else if (d > -margin) nearEdge = true;
      }
      if (!top && nearEdge) continue;
      const Rgb want = top ? top->color : outside;
      const Rgb got = frame.at(x, y);
      if (top) ++insideCount;
      if (!near(got, want, tolerance) && failures++ < 5) {
        ADD_FAILURE() << name << ": pixel (" << x << ", " << y << ") is " << describe(got)
                      << ", expected " << describe(want);
      }
    }
  }
  EXPECT_EQ(failures, 0) << name;
  EXPECT_GT(insideCount, 0) << name << ": no pixel lies inside the expected triangles";
}

const Rgb kBlack{0, 0, 0};

TEST_F(TrianglesWindow, OpaqueTriangleColoursItsInsideAndNothingElse) {
  DREC_REQUIRE_DISPLAY();
  ASSERT_TRUE(start(640, 480));
  const V a{60, 60, 0, 0, 16384, 0x1F80}, b{200, 60, 0, 0, 16384, 0x1F80}, c{60, 200, 0, 0, 16384, 0x1F80};
  draw(0x00, a, b, c);  // slot 0: no texture image, vertex colours alone
  const Frame frame = readFrame();
  const Rgb orange{255, 136, 0};  // (15, 8, 0) / 15
  const Point centre = landing(640, 480, (60 + 200 + 60) / 3.0, (60 + 60 + 200) / 3.0);
  EXPECT_TRUE(near(frame.at(centre), orange, 2)) << describe(frame.at(centre));
  expectCoverage(frame, {covered(a, b, c, orange)}, kBlack, "opaque triangle");
}

TEST_F(TrianglesWindow, ModeTwoAndModeThreeAfterItLeaveTheBufferAsItWas) {
  DREC_REQUIRE_DISPLAY();
  ASSERT_TRUE(start(640, 480));
  draw(0x00, V{30, 30, 0, 0, 16384, 0x1F00}, V{220, 40, 0, 0, 16384, 0x16F0}, V{100, 230, 0, 0, 16384, 0x160F});
  const Frame before = readFrame();

  fill(0x40, 0x1FFF);  // mode 2, opaque white over everything
  fill(0x60, 0x1FFF);  // mode 3 keeps mode 2's state
  const Frame after = readFrame();
  int changed = 0;
  for (size_t i = 0; i < before.rgba.size(); ++i) changed += before.rgba[i] != after.rgba[i] ? 1 : 0;
  EXPECT_EQ(changed, 0) << "bytes changed by the mode 2 and mode 3 triangles";

  fill(0x00, 0x1FFF);  // the same triangles drawn opaque do show
  const Frame opaque = readFrame();
  EXPECT_TRUE(near(opaque.at(320, 240), Rgb{255, 255, 255}, 1)) << describe(opaque.at(320, 240));
}

TEST_F(TrianglesWindow, ModeThreeFirstKeepsTheSetUpSourceAlphaBlending) {
  DREC_REQUIRE_DISPLAY();
  ASSERT_TRUE(start(640, 480));
  // Alpha nibble 0: red at alpha 0.5, over the black of the set-up's clear.
  draw(0x60, V{40, 40, 0, 0, 16384, 0x0F00}, V{215, 40, 0, 0, 16384, 0x0F00},
       V{40, 215, 0, 0, 16384, 0x0F00});
  const Frame frame = readFrame();
  const Rgb got = frame.at(landing(640, 480, 90, 90));
  EXPECT_TRUE(near(got, Rgb{128, 0, 0}, 2)) << describe(got);
}

TEST_F(TrianglesWindow, TexturedTriangleShowsTexelsTopRowFirstAndKeyedTexelsAreTransparent) {
  DREC_REQUIRE_DISPLAY();
  // A 4 x 4 picture, top row first. Texels (1, 1) and (0, 2) are near-black
  // and so keyed out; (0, 1) is dark but above the key.
  const std::vector<uint32_t> picture = {
      0xFF0000, 0x00FF00, 0x0000FF, 0x808080,  //
      0x040000, 0x030303, 0xFFFF00, 0x00FFFF,  //
      0x000000, 0xFF00FF, 0x804000, 0x408000,  //
      0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
  };
  BmpWriteSpec layout;
  layout.width = 4;
  layout.height = 4;
  layout.depth = 24;
  const TextureKey key = 0x00000000ABCDEF01ull;
  char hex[17];
  textureKeyHex(key, hex);
  MemoryFiles files{};
  addMemoryFile(files, std::string("Video/TexDump/") + hex + ".bmp", writeBmp(layout, picture));
  RecordingHeader header{};
  header.magic = kRecordingMagic;
  header.width = 640;
  header.height = 480;
  header.keys[1] = key;
  ASSERT_TRUE(start(640, 480, &header, &files));
  ASSERT_NE(slots.names[1], 0u);

  const Rgb background{102, 255, 153};  // (6, 15, 9) / 15
  fill(0x00, 0x16F9);
  // Slot 1, mode 1; s runs left to right, t top to bottom over 215 recorded units.
  draw(0x21, V{20, 20, 0, 0, 16384, 0x1FFF}, V{235, 20, 255, 0, 16384, 0x1FFF},
       V{20, 235, 0, 255, 16384, 0x1FFF});
  const Frame frame = readFrame();

  struct Probe {
    int column, row;
    Rgb expected;
  };
  const Probe probes[] = {
      {0, 0, {255, 0, 0}}, {1, 0, {0, 255, 0}}, {2, 0, {0, 0, 255}},
      {0, 1, {4, 0, 0}},   {1, 1, background},  {0, 2, background},
  };
  for (const Probe& probe : probes) {
    const double s = (probe.column + 0.5) / 4;
    const double t = (probe.row + 0.5) / 4;
    const Rgb got = frame.at(landing(640, 480, 20 + 215 * s, 20 + 215 * t));
    EXPECT_TRUE(near(got, probe.expected, 12))
        << "texel (" << probe.column << ", " << probe.row << "): " << describe(got) << ", expected "
        << describe(probe.expected);
  }
}

TEST_F(TrianglesWindow, LaterTriangleCoversEarlierWhateverTheDepths) {
  DREC_REQUIRE_DISPLAY();
  ASSERT_TRUE(start(640, 480));
  // Red above 5 keeps a colour opaque (red 5 or less draws white).
  const Rgb red{255, 0, 0}, violet{102, 0, 255};
  struct Row {
    const char* name;
    int left;
    int firstDepth, secondDepth;
    PackedColor16 firstColor, secondColor;
    Rgb expected;
  };
  const Row rows[] = {
      {"far red, then near violet", 10, 16384, 32000, 0x1F00, 0x160F, violet},
      {"near violet, then far red", 130, 32000, 16384, 0x160F, 0x1F00, red},
  };
  for (const Row& row : rows) {
    const int l = row.left;
    draw(0x00, V{l, 40, 0, 0, row.firstDepth, row.firstColor}, V{l + 100, 40, 0, 0, row.firstDepth, row.firstColor},
         V{l, 200, 0, 0, row.firstDepth, row.firstColor});
    draw(0x00, V{l + 10, 50, 0, 0, row.secondDepth, row.secondColor},
         V{l + 100, 60, 0, 0, row.secondDepth, row.secondColor},
         V{l + 10, 180, 0, 0, row.secondDepth, row.secondColor});
  }
  const Frame frame = readFrame();
  for (const Row& row : rows) {
    const Rgb got = frame.at(landing(640, 480, row.left + 30, 80));
    EXPECT_TRUE(near(got, row.expected, 2)) << row.name << ": " << describe(got);
  }
}

TEST_F(TrianglesWindow, RecordedScreenLandsScaledAboutTheWindowCentre) {
  DREC_REQUIRE_DISPLAY();
  struct Row {
    int width, height;
  };
  const Row rows[] = {{640, 480}, {320, 240}, {800, 600}};
  for (const Row& row : rows) {
    const std::string name = std::to_string(row.width) + "x" + std::to_string(row.height);
    ASSERT_TRUE(start(row.width, row.height)) << name;
    const V a{0, 0, 0, 0, 16384, 0x1F00}, b{40, 0, 0, 0, 16384, 0x1F00}, c{0, 40, 0, 0, 16384, 0x1F00};
    const V d{255, 255, 0, 0, 16384, 0x16F0}, e{215, 255, 0, 0, 16384, 0x16F0}, f{255, 215, 0, 0, 16384, 0x16F0};
    draw(0x00, a, b, c);
    draw(0x00, d, e, f);
    const Frame frame = readFrame();
    expectCoverage(frame, {covered(a, b, c, Rgb{255, 0, 0}), covered(d, e, f, Rgb{102, 255, 0})}, kBlack,
                   name.c_str());
    closeDisplay(display);
  }
}

// The box a triangle can touch holds every pixel the GL lit for it, and is
// no more than the rounding margin larger (a box in the wrong place or
// flipped fails one side or the other).
TEST_F(TrianglesWindow, TriangleBoxHoldsWhatTheTriangleLitAndLittleMore) {
  DREC_REQUIRE_DISPLAY();
  struct Case {
    int width, height;
    V a, b, c;
  };
  const Case cases[] = {
      {640, 480, V{60, 60}, V{200, 60}, V{60, 200}},
      {640, 480, V{0, 0}, V{255, 0}, V{0, 255}},         // the recorded screen's corners
      {640, 480, V{130, 77}, V{131, 77}, V{130, 79}},     // a sliver of a pixel or two
      {321, 241, V{250, 3}, V{17, 128}, V{201, 254}},     // odd sizes, every direction
      {321, 241, V{255, 255}, V{254, 200}, V{180, 255}},  // bottom-right edge
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(std::to_string(test.width) + "x" + std::to_string(test.height) + " at " +
                 std::to_string(test.a.x) + "," + std::to_string(test.a.y));
    TearDown();
    display = Display{};
    ASSERT_TRUE(start(test.width, test.height));
    V a = test.a, b = test.b, c = test.c;
    a.color = b.color = c.color = 0x1FFF;
    draw(0x00, a, b, c);
    const Frame frame = readFrame();
    const TriangleVertex vertices[3] = {
        {0, 0, static_cast<uint8_t>(a.x), static_cast<uint8_t>(a.y), 16384, 0},
        {0, 0, static_cast<uint8_t>(b.x), static_cast<uint8_t>(b.y), 16384, 0},
        {0, 0, static_cast<uint8_t>(c.x), static_cast<uint8_t>(c.y), 16384, 0}};
    Bytes record;
    appendTriangle(record, 0x00, vertices);
    const PixelBox box = triangleBox(renderer, record.data());
    PixelBox lit{test.width, test.height, 0, 0};
    for (int y = 0; y < test.height; ++y)
      for (int x = 0; x < test.width; ++x) {
        const uint8_t* p = frame.rgba.data() + 4 * (static_cast<size_t>(y) * test.width + x);
        if (p[0] + p[1] + p[2] == 0) continue;
        EXPECT_TRUE(x >= box.x0 && x < box.x1 && y >= box.y0 && y < box.y1)
            << "lit pixel (" << x << ", " << y << ") from the bottom outside the box";
        lit = unitedBoxes(lit, PixelBox{x, y, x + 1, y + 1});
      }
    ASSERT_LT(lit.x0, lit.x1) << "the triangle lit nothing";
    EXPECT_LE(lit.x0 - box.x0, 3);
    EXPECT_LE(lit.y0 - box.y0, 3);
    EXPECT_LE(box.x1 - lit.x1, 3);
    EXPECT_LE(box.y1 - lit.y1, 3);
  }
  const uint8_t notDrawn[kTriangleSize] = {};  // every depth 0
  const PixelBox none = triangleBox(renderer, notDrawn);
  EXPECT_FALSE(none.x0 < none.x1 && none.y0 < none.y1);
}

}  // namespace
}  // namespace drec
