// The CPU coverage and the dependency horizon against Mesa on a real
// context: pixels lit by the GL, read back, are the truth.
#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/display.hpp"
#include "recording/format.hpp"
#include "render/coverage.hpp"
#include "render/gl_api.hpp"
#include "render/horizon.hpp"
#include "render/setup.hpp"
#include "render/textures.hpp"
#include "render/triangles.hpp"
#include "tests/support/window_support.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

struct V {
  int x, y;
  int depth = 16384;
};

constexpr PackedColor16 kWhite = 0x1FFF;

Bytes triangle(uint8_t state, V a, V b, V c, PackedColor16 color = kWhite) {
  const V corners[3] = {a, b, c};
  TriangleVertex vertices[3];
  for (int i = 0; i < 3; ++i)
    vertices[i] = TriangleVertex{0, 0, static_cast<uint8_t>(corners[i].x), static_cast<uint8_t>(corners[i].y),
                                 static_cast<uint16_t>(corners[i].depth), color};
  Bytes record;
  appendTriangle(record, state, vertices);
  return record;
}

// Two triangles sharing the diagonal.
void addQuad(std::vector<Bytes>& list, uint8_t state, int x0, int y0, int x1, int y1, PackedColor16 color,
             uint8_t secondState) {
  list.push_back(triangle(state, {x0, y0}, {x1, y0}, {x1, y1}, color));
  list.push_back(triangle(secondState, {x0, y0}, {x1, y1}, {x0, y1}, color));
}

struct Random {
  uint32_t state;
  int next(int range) {
    state = state * 1664525u + 1013904223u;
    return static_cast<int>((state >> 8) % static_cast<uint32_t>(range));
  }
};

class HorizonWindow : public ::testing::Test {
 protected:
  Display display{};
  GlApi gl = realGlApi();
  TextureSlots slots{};
  TriangleRenderer renderer{};
  int width = 0, height = 0;

  // The playback set-up, drawing into the window's back buffer or, as drec
  // play does, into a framebuffer object.
  bool start(int w, int h, bool framebufferObject) {
    width = w;
    height = h;
    if (!openDisplay(display, w, h, "drec horizon test")) return false;
    if (framebufferObject) {
      GLuint buffer = 0, framebuffer = 0;
      glGenRenderbuffers(1, &buffer);
      glBindRenderbuffer(GL_RENDERBUFFER, buffer);
      glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, w, h);
      glGenFramebuffers(1, &framebuffer);
      glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
      glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, buffer);
      if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return false;
    }
    renderSetup(gl, w, h);
    setupTriangleRenderer(renderer, gl, slots, w, h);
    return true;
  }
  void TearDown() override {
    if (display.window) closeDisplay(display);
  }

  std::vector<uint8_t> readPicture() {
    std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
  }

  // The pixels the GL lights for these records drawn opaque white (rows bottom first).
  std::vector<uint8_t> litByGl(const std::vector<Bytes>& records) {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    resetTriangleCache(renderer);
    for (Bytes record : records) {
      record[1] = 0;
      for (int v = 0; v < 3; ++v) {
        record[2 + 8 * v + 6] = kWhite & 0xFF;
        record[2 + 8 * v + 7] = kWhite >> 8;
      }
      drawTriangle(renderer, record.data(), false);
    }
    const std::vector<uint8_t> rgba = readPicture();
    std::vector<uint8_t> lit(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < lit.size(); ++i) lit[i] = rgba[4 * i] != 0;
    return lit;
  }

  // Sets the GL to the blend state of mode 0, 1 or 2, as drawTriangle would.
  void applyBlend(int mode) {
    if (mode == 0) {
      glDisable(GL_BLEND);
    } else {
      glEnable(GL_BLEND);
      glBlendFunc(mode == 1 ? GL_SRC_ALPHA : GL_ZERO, mode == 1 ? GL_ONE_MINUS_SRC_ALPHA : GL_ONE);
    }
    resetTriangleCache(renderer);
    renderer.cache.currentBlend = mode;
  }
};

// Marks in `mask` the pixels of `span` within the picture; counts those already marked.
int markSpan(std::vector<int>& mask, int width, int row, PixelSpan span) {
  int twice = 0;
  for (int x = std::max(span.first, 0); x < std::min(span.end, width); ++x) twice += mask[row * width + x]++ > 0;
  return twice;
}

struct CoverageCase {
  const char* name;
  int width, height;
  bool framebufferObject;
};

// Each group is drawn alone; a group of several is a mesh (shared edges).
std::vector<std::vector<Bytes>> coverageGroups() {
  std::vector<std::vector<Bytes>> groups;
  Random random{321};
  for (int i = 0; i < 40; ++i) {  // random ones at random depths
    groups.push_back({triangle(0, {random.next(256), random.next(256), 1 + random.next(32767)},
                               {random.next(256), random.next(256), 1 + random.next(32767)},
                               {random.next(256), random.next(256), 1 + random.next(32767)})});
  }
  groups.push_back({triangle(0, {10, 10}, {250, 12}, {130, 11})});     // slivers
  groups.push_back({triangle(0, {40, 0}, {41, 255}, {42, 128})});
  groups.push_back({triangle(0, {100, 100}, {101, 100}, {100, 101})});  // tiny
  for (int i = 0; i < 12; ++i) {  // quads at random places, and the whole recorded screen
    std::vector<Bytes> quad;
    const int x0 = random.next(256), y0 = random.next(256);
    addQuad(quad, 0, x0, y0, random.next(256), random.next(256), kWhite, 0);
    groups.push_back(quad);
  }
  std::vector<Bytes> whole;
  addQuad(whole, 0, 0, 0, 255, 255, kWhite, 0);
  groups.push_back(whole);
  for (int i = 0; i < 6; ++i) {  // fans round a centre, closed
    std::vector<Bytes> fan;
    const V centre{random.next(256), random.next(256), 1 + random.next(32767)};
    const V rim[8] = {{0, 0}, {128, 0}, {255, 0}, {255, 128}, {255, 255}, {128, 255}, {0, 255}, {0, 128}};
    for (int k = 0; k < 8; ++k) fan.push_back(triangle(0, centre, rim[k], rim[(k + 1) % 8]));
    groups.push_back(fan);
  }
  groups.push_back({triangle(0, {20, 20}, {200, 40, 40000}, {60, 220})});  // w below 2: clipped
  groups.push_back({triangle(0, {20, 20}, {200, 40, 0}, {60, 220})});      // depth 0: not drawn
  return groups;
}

TEST_F(HorizonWindow, CpuCoverageLightsExactlyTheGlsPixels) {
  DREC_REQUIRE_DISPLAY();
  const CoverageCase cases[] = {{"640 x 480 window", 640, 480, false},
                                {"640 x 480 framebuffer object", 640, 480, true},
                                {"321 x 241 window", 321, 241, false},
                                {"321 x 241 framebuffer object", 321, 241, true},
                                {"200 x 700 window, partly off the picture", 200, 700, false}};
  const std::vector<std::vector<Bytes>> groups = coverageGroups();
  for (const CoverageCase& row : cases) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(start(row.width, row.height, row.framebufferObject));
    CoverageRules rules{};
    ASSERT_TRUE(findCoverageRules(renderer, gl, rules)) << "no rounding rules agree with the GL";
    EXPECT_TRUE(coverageAgreesWithGl(renderer, gl, rules));
    CoverageSetup setup;
    setupCoverage(setup, renderer, rules);
    int exactGroups = 0, offPictureGroups = 0;
    for (size_t g = 0; g < groups.size(); ++g) {
      const std::vector<uint8_t> lit = litByGl(groups[g]);
      // Exact groups: lit = covered. Others: shrunk <= lit <= allowed (grown, or the box when clipped).
      std::vector<int> covered(lit.size()), shrunk(lit.size()), allowed(lit.size()), boxed(lit.size());
      int twice = 0;
      bool exact = true;
      for (const Bytes& record : groups[g]) {
        CoverageTriangle shape;
        setupCoverageTriangle(setup, record.data(), shape);
        exact = exact && (shape.kind == CoverageKind::exact || shape.kind == CoverageKind::nothing);
        offPictureGroups += shape.kind == CoverageKind::offPicture;
        const PixelBox box = triangleBox(renderer, record.data());
        for (int y = std::max(box.y0, 0); y < box.y1; ++y) {
          markSpan(boxed, width, y, PixelSpan{box.x0, box.x1});
          if (shape.kind == CoverageKind::clipped) markSpan(allowed, width, y, PixelSpan{box.x0, box.x1});
        }
        if (shape.kind == CoverageKind::nothing || shape.kind == CoverageKind::clipped) continue;
        for (int y = 0; y < height; ++y) {
          twice += markSpan(covered, width, y, coveredSpan(shape, y));
          markSpan(shrunk, width, y, shrunkSpan(shape, y));
          markSpan(allowed, width, y, grownSpan(shape, y));
        }
      }
      exactGroups += exact;
      int wrong = 0;
      for (size_t i = 0; i < lit.size(); ++i) {
        const bool bad = exact ? lit[i] != (covered[i] > 0)
                               : (lit[i] && allowed[i] == 0) || (!lit[i] && shrunk[i] > 0);
        if (bad && wrong++ < 3)
          ADD_FAILURE() << "group " << g << ": pixel (" << i % width << ", " << i / width << ") lit " << int{lit[i]};
        const int x = static_cast<int>(i % width), y = static_cast<int>(i / width);
        const bool reached = x >= setup.reach.x0 && x < setup.reach.x1 && y >= setup.reach.y0 && y < setup.reach.y1;
        if (lit[i] && (boxed[i] == 0 || !reached) && wrong++ < 3)
          ADD_FAILURE() << "group " << g << ": lit outside the box or the reach";
      }
      EXPECT_EQ(wrong, 0) << "group " << g;
      if (exact) {
        EXPECT_EQ(twice, 0) << "group " << g << ": a shared edge lit twice";
      }
    }
    if (row.height > 600) {
      EXPECT_GT(offPictureGroups, 0);
    } else {
      EXPECT_GT(exactGroups, 60);
    }
    closeDisplay(display);
    display = Display{};
  }
}

TEST_F(HorizonWindow, StartUpCheckAgreesAndCatchesAShiftedViewport) {
  DREC_REQUIRE_DISPLAY();
  ASSERT_TRUE(start(640, 480, false));
  CoverageRules rules{};
  ASSERT_TRUE(findCoverageRules(renderer, gl, rules));
  EXPECT_TRUE(coverageAgreesWithGl(renderer, gl, rules));
  const std::vector<uint8_t> after = readPicture();
  EXPECT_TRUE(std::all_of(after.begin(), after.end(), [i = 0](uint8_t value) mutable {
    return (i++ % 4 == 3) || value == 0;
  })) << "the check leaves a cleared picture";
  GLint blending = 0;
  glGetIntegerv(GL_BLEND, &blending);
  EXPECT_EQ(blending, GL_TRUE) << "the check leaves the set-up blend state";
  glViewport(1, 0, 640, 480);  // the GL now lands everything a pixel to the right
  EXPECT_FALSE(coverageAgreesWithGl(renderer, gl, rules));
}

// Frames that make the horizon move: partial and full opaque covers, alpha
// layers, mode 2, modes 3 to 7 after 0 and after 1, clipped and depth-0
// triangles, a fan, random triangles.
std::vector<std::vector<Bytes>> horizonFrames() {
  constexpr PackedColor16 kRed = 0x1F00, kGreen = 0x18F0, kBlue = 0x180F, kHalfYellow = 0x0FF0,
                          kHalfCyan = 0x00FF;
  std::vector<std::vector<Bytes>> frames(12);
  addQuad(frames[0], 0x00, 0, 0, 128, 255, kRed, 0x00);
  addQuad(frames[0], 0x20, 64, 64, 192, 192, kHalfYellow, 0x20);
  frames[1].push_back(triangle(0x20, {160, 0}, {255, 0}, {255, 255}, kHalfCyan));
  addQuad(frames[2], 0x00, 0, 0, 255, 255, kGreen, 0x00);
  addQuad(frames[3], 0x20, 30, 30, 100, 100, kHalfYellow, 0x20);
  addQuad(frames[4], 0x00, 128, 0, 255, 255, kBlue, 0x80);  // mode 4 after 0: opaque
  addQuad(frames[5], 0x00, 0, 0, 128, 255, kRed, 0x00);     // shares x = 128 with frame 4
  addQuad(frames[6], 0x40, 0, 0, 255, 255, kRed, 0x60);     // mode 2, then 3 after 2
  frames[7].push_back(triangle(0x00, {0, 0, 0}, {255, 0}, {0, 255}, kRed));  // depth 0: blending off
  addQuad(frames[7], 0x60, 0, 0, 255, 255, kBlue, 0x60);                       // mode 3 after 0: opaque
  frames[8].push_back(triangle(0x00, {0, 0}, {255, 0, 50000}, {0, 255}, kGreen));  // clipped: touches
  frames[8].push_back(triangle(0x20, {10, 10}, {90, 10}, {10, 90}, kHalfCyan));
  frames[8].push_back(triangle(0xA0, {100, 10}, {190, 10}, {100, 90}, kHalfYellow));  // mode 5 after 1
  addQuad(frames[9], 0x00, 0, 0, 200, 255, kRed, 0x00);
  const V rim[8] = {{0, 0}, {128, 0}, {255, 0}, {255, 128}, {255, 255}, {128, 255}, {0, 255}, {0, 128}};
  for (int k = 0; k < 8; ++k) frames[10].push_back(triangle(0x00, {100, 140, 3000}, rim[k], rim[(k + 1) % 8], kBlue));
  Random random{11};
  for (int i = 0; i < 10; ++i) {
    const uint8_t state = i < 6 ? 0x00 : 0x20;
    frames[11].push_back(triangle(state, {random.next(256), random.next(256), 1 + random.next(32767)},
                                  {random.next(256), random.next(256), 1 + random.next(32767)},
                                  {random.next(256), random.next(256), 1 + random.next(32767)},
                                  static_cast<PackedColor16>(random.next(65536))));
  }
  return frames;
}

TEST_F(HorizonWindow, HorizonMatchesAPixelExactReferenceAndRedrawsEachFrame) {
  DREC_REQUIRE_DISPLAY();
  ASSERT_TRUE(start(320, 240, false));
  CoverageRules rules{};
  ASSERT_TRUE(findCoverageRules(renderer, gl, rules));
  const std::vector<std::vector<Bytes>> frames = horizonFrames();
  const int64_t frameCount = static_cast<int64_t>(frames.size());

  // The reference: each triangle's own lit pixels, read back from the GL.
  const size_t pixels = static_cast<size_t>(width) * height;
  std::vector<int64_t> dependency(pixels, -1);
  std::vector<int64_t> reference;
  std::vector<int> blendAtStart;  // the mode 0, 1 or 2 in force when each frame starts
  int blend = 1;                  // the set-up's source-alpha blending
  for (const std::vector<Bytes>& frame : frames) {
    blendAtStart.push_back(blend);
    for (const Bytes& record : frame) {
      const int mode = blendModeOf(record[1]);
      if (mode <= 2) blend = mode;
      bool clipped = false;
      for (int v = 0; v < 3; ++v) clipped = clipped || vertexW(loadU16(record.data() + 2 + 8 * v + 4)) < 2.0f;
      const std::vector<uint8_t> lit = litByGl({record});
      for (size_t i = 0; i < pixels; ++i) {
        if (!lit[i]) continue;
        if ((blend == 0 && !clipped) || dependency[i] < 0) dependency[i] = static_cast<int64_t>(reference.size());
      }
    }
    int64_t horizon = static_cast<int64_t>(reference.size());
    for (int64_t d : dependency)
      if (d >= 0) horizon = std::min(horizon, d);
    reference.push_back(horizon);
  }
  const int64_t expected[] = {0, 0, 2, 2, 2, 4, 4, 7, 7, 7, 10};
  for (size_t n = 0; n < std::size(expected); ++n) EXPECT_EQ(reference[n], expected[n]) << "reference, frame " << n;

  // The pictures of a straight drawing from frame 0.
  std::vector<std::vector<uint8_t>> pictures;
  glClear(GL_COLOR_BUFFER_BIT);
  applyBlend(1);
  for (const std::vector<Bytes>& frame : frames) {
    for (const Bytes& record : frame) drawTriangle(renderer, record.data(), false);
    pictures.push_back(readPicture());
  }

  for (const bool exact : {true, false}) {
    SCOPED_TRACE(exact ? "exact coverage" : "margins");
    HorizonTracker tracker;
    startHorizonTracker(tracker, renderer, exact, rules);
    int64_t previous = 0;
    blend = 1;
    for (int64_t n = 0; n < frameCount; ++n) {
      for (const Bytes& record : frames[n]) {
        const int mode = blendModeOf(record[1]);
        if (mode <= 2) blend = mode;
        addHorizonTriangle(tracker, record.data(), blend == 0);
      }
      const int64_t horizon = endHorizonFrame(tracker, n);
      EXPECT_LE(horizon, reference[n]) << "frame " << n << ": later than the truth";
      if (exact) {
        EXPECT_EQ(horizon, reference[n]) << "frame " << n;
      }
      EXPECT_GE(horizon, previous) << "frame " << n;
      previous = horizon;
      // Frames horizon to n over a cleared picture give frame n's picture.
      glClear(GL_COLOR_BUFFER_BIT);
      applyBlend(blendAtStart[horizon]);
      for (int64_t m = horizon; m <= n; ++m)
        for (const Bytes& record : frames[m]) drawTriangle(renderer, record.data(), false);
      EXPECT_TRUE(readPicture() == pictures[n]) << "frame " << n << " redrawn from " << horizon;
    }
    resetHorizonTracker(tracker);
    addHorizonTriangle(tracker, frames[1][0].data(), false);
    EXPECT_EQ(endHorizonFrame(tracker, 0), 0) << "after a reset";
    EXPECT_EQ(endHorizonFrame(tracker, 1), 0) << "a touched pixel holds the horizon";
  }
}

}  // namespace
}  // namespace drec
