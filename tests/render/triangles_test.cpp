// Triangle drawing without a context: the colour rule, the vertex rebuild and
// the state calls, checked through a recording GL table.
#include "render/triangles.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/gl_recorder.hpp"

namespace drec {
namespace {

using test::GlCall;
using test::GlFunction;
using test::GlRecorder;

struct VertexBytes {
  uint8_t s, t, x, y;
  uint16_t depth;
  uint16_t color;
};

std::array<uint8_t, kTriangleSize> triangleRecord(uint8_t state, const VertexBytes (&vertices)[3]) {
  std::array<uint8_t, kTriangleSize> record{};
  record[0] = kRecordTriangle;
  record[1] = state;
  for (int i = 0; i < 3; ++i) {
    uint8_t* v = record.data() + 2 + kVertexSize * i;
    v[0] = vertices[i].s;
    v[1] = vertices[i].t;
    v[2] = vertices[i].x;
    v[3] = vertices[i].y;
    v[4] = static_cast<uint8_t>(vertices[i].depth & 0xFF);
    v[5] = static_cast<uint8_t>(vertices[i].depth >> 8);
    v[6] = static_cast<uint8_t>(vertices[i].color & 0xFF);
    v[7] = static_cast<uint8_t>(vertices[i].color >> 8);
  }
  return record;
}

// A plain visible triangle with the given state byte.
std::array<uint8_t, kTriangleSize> plainTriangle(uint8_t state) {
  return triangleRecord(state, {{0, 0, 10, 10, 40000, 0x1F00},
                                {0, 0, 200, 10, 40000, 0x1F00},
                                {0, 0, 10, 200, 40000, 0x1F00}});
}

TextureSlots testSlots() {
  TextureSlots slots{};
  for (int slot = 1; slot <= kTextureSlotCount; ++slot) slots.names[slot] = static_cast<GLuint>(100 + slot);
  slots.names[3] = 0;  // an empty slot
  return slots;
}

bool isStateCall(const GlCall& call) {
  return call.function == GlFunction::BindTexture || call.function == GlFunction::Enable ||
         call.function == GlFunction::Disable || call.function == GlFunction::BlendFunc;
}

std::vector<std::string> stateCalls(const GlRecorder& recorder) {
  std::vector<std::string> result;
  for (const GlCall& call : recorder.calls) {
    if (isStateCall(call)) result.push_back(call.text());
  }
  return result;
}

// Texts of the calls, as the recorder writes them.
const std::string kBindSlot1 = "BindTexture(0xde1, 0x65)";
const std::string kEnableBlend = "Enable(0xbe2)";
const std::string kDisableBlend = "Disable(0xbe2)";
const std::string kSourceAlpha = "BlendFunc(0x302, 0x303)";
const std::string kZeroOne = "BlendFunc(0x0, 0x1)";

TEST(TriangleColor, RuleTable) {
  const float n = 1.0f / 15.0f;
  struct Row {
    const char* name;
    PackedColor16 color;
    VertexColor expected;
  };
  const Row rows[] = {
      {"alpha 0, all zero", 0x0000, {0, 0, 0, 0.5f}},
      {"alpha 0, red 15", 0x0F00, {1, 0, 0, 0.5f}},
      {"alpha 0, red 3 keeps its colour", 0x0327, {3 * n, 2 * n, 7 * n, 0.5f}},
      {"alpha 0, red 5", 0x0500, {5 * n, 0, 0, 0.5f}},
      {"alpha 1, red 5 is white", 0x1500, {1, 1, 1, 1}},
      {"alpha 1, red 6 is opaque red", 0x1600, {6 * n, 0, 0, 1}},
      {"alpha 1, red 0 is white", 0x1000, {1, 1, 1, 1}},
      {"alpha 15, red 5, green and blue play no part", 0xF5FF, {1, 1, 1, 1}},
      {"alpha 8, red 15, green 1, blue 2", 0x8F12, {1, 1 * n, 2 * n, 1}},
      {"alpha 2, red 9, green 15, blue 4", 0x29F4, {9 * n, 1, 4 * n, 1}},
  };
  for (const Row& row : rows) {
    const VertexColor got = colorFromPacked(row.color);
    EXPECT_FLOAT_EQ(got.red, row.expected.red) << row.name;
    EXPECT_FLOAT_EQ(got.green, row.expected.green) << row.name;
    EXPECT_FLOAT_EQ(got.blue, row.expected.blue) << row.name;
    EXPECT_EQ(got.alpha, row.expected.alpha) << row.name;
  }
}

// Every 16-bit value against the rule written out plainly.
TEST(TriangleColor, EveryPackedValueFollowsTheRule) {
  int failures = 0;
  for (int value = 0; value <= 0xFFFF; ++value) {
    const int alpha = value >> 12, red = (value >> 8) & 15, green = (value >> 4) & 15, blue = value & 15;
    VertexColor want{static_cast<float>(red) / 15, static_cast<float>(green) / 15,
                     static_cast<float>(blue) / 15, alpha == 0 ? 0.5f : 1.0f};
    if (alpha != 0 && red <= 5) want = VertexColor{1, 1, 1, 1};
    const VertexColor got = colorFromPacked(static_cast<PackedColor16>(value));
    const bool same = std::fabs(got.red - want.red) < 1e-6f && std::fabs(got.green - want.green) < 1e-6f &&
                      std::fabs(got.blue - want.blue) < 1e-6f && got.alpha == want.alpha;
    if (!same && failures++ < 5) {
      ADD_FAILURE() << "colour 0x" << std::hex << value << std::dec << " gives (" << got.red << ", "
                    << got.green << ", " << got.blue << ", " << got.alpha << ")";
    }
  }
  EXPECT_EQ(failures, 0);
}

TEST(TriangleTexCoord, EndsAreExactAndStepsAreEven) {
  EXPECT_EQ(texCoordOf(0), 0.0f);
  EXPECT_EQ(texCoordOf(255), 1.0f);
  for (int value = 0; value < 256; ++value) {
    EXPECT_NEAR(texCoordOf(static_cast<uint8_t>(value)), value / 255.0, 6e-8) << "value " << value;
    if (value > 0) {
      EXPECT_GT(texCoordOf(static_cast<uint8_t>(value)), texCoordOf(static_cast<uint8_t>(value - 1)))
          << "value " << value;
    }
  }
}

TEST(TriangleVertexW, DepthTable) {
  struct Row {
    uint16_t depth;
    float expected;
  };
  const Row rows[] = {
      {65535, 1.0f}, {32768, 1.99996948f}, {32767, 2.00003052f}, {16384, 3.99993896f}, {1, 65535.0f},
  };
  for (const Row& row : rows) {
    EXPECT_FLOAT_EQ(vertexW(row.depth), row.expected) << "depth " << row.depth;
  }
  EXPECT_EQ(vertexW(65535), 1.0f);
  EXPECT_EQ(vertexW(0), std::numeric_limits<float>::infinity());
}

TEST(TriangleRenderer, SetupComputesScalesAndClearsCache) {
  const GlApi gl = test::recordingGlApi();
  const TextureSlots slots = testSlots();
  TriangleRenderer renderer{};
  renderer.cache = TriangleCache{7, 7};
  setupTriangleRenderer(renderer, gl, slots, 640, 480);
  EXPECT_EQ(renderer.screenWidth, 640);
  EXPECT_EQ(renderer.screenHeight, 480);
  EXPECT_EQ(renderer.xScale, static_cast<float>(640 / 255.0));
  EXPECT_EQ(renderer.yScale, static_cast<float>(480 / 255.0));
  EXPECT_EQ(renderer.cache.currentSlot, -1);
  EXPECT_EQ(renderer.cache.currentBlend, -1);
  renderer.cache = TriangleCache{4, 2};
  resetTriangleCache(renderer);
  EXPECT_EQ(renderer.cache.currentSlot, -1);
  EXPECT_EQ(renderer.cache.currentBlend, -1);
}

TEST(TriangleVertexPosition, CornerCentreAndExtremes) {
  const GlApi gl = test::recordingGlApi();
  const TextureSlots slots = testSlots();
  TriangleRenderer wide{};
  setupTriangleRenderer(wide, gl, slots, 640, 480);
  TriangleRenderer square{};
  setupTriangleRenderer(square, gl, slots, 255, 255);
  struct Row {
    const char* name;
    const TriangleRenderer* renderer;
    uint8_t x, y;
    float w;
    VertexPosition expected;
  };
  const Row rows[] = {
      {"top left, w 1", &wide, 0, 0, 1.0f, {-0.625f, 0.46875f, -1.0f}},
      {"bottom right, w 1", &wide, 255, 255, 1.0f, {0.625f, -0.46875f, -1.0f}},
      {"top right, w 2", &wide, 255, 0, 2.0f, {1.25f, 0.9375f, -2.0f}},
      {"bottom left, w 2", &wide, 0, 255, 2.0f, {-1.25f, -0.9375f, -2.0f}},
      {"left of centre, above it", &square, 127, 127, 4.0f, {-0.5f / 128, 0.5f / 128, -4.0f}},
      {"right of centre, below it", &square, 128, 128, 4.0f, {0.5f / 128, -0.5f / 128, -4.0f}},
      {"largest w (depth 1)", &wide, 255, 0, 65535.0f, {40959.375f, 30719.5312f, -65535.0f}},
  };
  for (const Row& row : rows) {
    const VertexPosition got = vertexPosition(*row.renderer, row.x, row.y, row.w);
    EXPECT_FLOAT_EQ(got.x, row.expected.x) << row.name;
    EXPECT_FLOAT_EQ(got.y, row.expected.y) << row.name;
    EXPECT_EQ(got.z, row.expected.z) << row.name;
  }
}

class TriangleDraw : public ::testing::Test {
 protected:
  GlRecorder recorder;
  GlApi gl = test::recordingGlApi();
  TextureSlots slots = testSlots();
  TriangleRenderer renderer{};

  void SetUp() override { setupTriangleRenderer(renderer, gl, slots, 255, 255); }

  void draw(uint8_t state, bool skip = false) {
    const auto record = plainTriangle(state);
    drawTriangle(renderer, record.data(), skip);
  }
};

struct ExpectedCall {
  GlFunction function;
  std::vector<double> arguments;
};

TEST_F(TriangleDraw, SendsStateThenOneTriangleInRecordOrder) {
  const auto record = triangleRecord(0x21, {{0, 255, 0, 0, 65535, 0x1F00},
                                            {255, 0, 255, 255, 65535, 0x0F0F},
                                            {51, 102, 64, 200, 32768, 0x1500}});
  drawTriangle(renderer, record.data(), false);

  const double r = 127.5 / 512;
  const std::vector<ExpectedCall> expected = {
      {GlFunction::BindTexture, {GL_TEXTURE_2D, 101}},
      {GlFunction::Enable, {GL_BLEND}},
      {GlFunction::BlendFunc, {GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA}},
      {GlFunction::Begin, {GL_TRIANGLES}},
      {GlFunction::TexCoord2f, {0, 1}},
      {GlFunction::Color4f, {1, 0, 0, 1}},
      {GlFunction::Vertex3f, {-r, r, -1}},
      {GlFunction::TexCoord2f, {1, 0}},
      {GlFunction::Color4f, {1, 0, 1, 0.5}},
      {GlFunction::Vertex3f, {r, -r, -1}},
      {GlFunction::TexCoord2f, {0.2, 0.4}},
      {GlFunction::Color4f, {1, 1, 1, 1}},
      {GlFunction::Vertex3f, {-0.24804309, -0.283198804, -1.99996948}},
      {GlFunction::End, {}},
  };
  ASSERT_EQ(recorder.calls.size(), expected.size()) << ::testing::PrintToString(recorder.texts());
  for (size_t i = 0; i < expected.size(); ++i) {
    const GlCall& call = recorder.calls[i];
    ASSERT_EQ(call.function, expected[i].function) << "call " << i << ": " << call.text();
    ASSERT_EQ(call.arguments.size(), expected[i].arguments.size()) << call.text();
    for (size_t a = 0; a < expected[i].arguments.size(); ++a) {
      const double want = expected[i].arguments[a];
      const double got = call.arguments[a].kind == test::GlArgument::Kind::Real
                             ? call.real(a)
                             : static_cast<double>(call.integer(a));
      EXPECT_NEAR(got, want, 1e-7 * std::max(1.0, std::fabs(want)))
          << "call " << i << " argument " << a << ": " << call.text();
    }
  }
  EXPECT_EQ(renderer.cache.currentSlot, 1);
  EXPECT_EQ(renderer.cache.currentBlend, 1);
}

// The drawing reads the record's fields in place: it must agree with the
// format's decoder on every field of every vertex.
TEST_F(TriangleDraw, ReadsTheFieldsTheDecoderReads) {
  uint32_t random = 7;
  auto next = [&random](uint32_t range) {
    random = random * 1664525u + 1013904223u;
    return (random >> 8) % range;
  };
  for (int round = 0; round < 300; ++round) {
    std::array<uint8_t, kTriangleSize> record{};
    record[0] = kRecordTriangle;
    for (int i = 1; i < kTriangleSize; ++i) record[i] = static_cast<uint8_t>(next(256));
    for (int v = 0; v < 3; ++v) record[2 + kVertexSize * v + 5] |= 0x01;  // depth never 0
    const TexturedTriangle decoded = decodeTriangle(record.data());
    recorder.clear();
    resetTriangleCache(renderer);
    drawTriangle(renderer, record.data(), false);

    std::vector<const GlCall*> drawn;
    for (const GlCall& call : recorder.calls) {
      if (!isStateCall(call)) drawn.push_back(&call);
    }
    ASSERT_EQ(drawn.size(), 11u) << ::testing::PrintToString(recorder.texts());
    EXPECT_EQ(drawn[0]->function, GlFunction::Begin);
    EXPECT_EQ(drawn[10]->function, GlFunction::End);
    const auto binds = recorder.callsTo(GlFunction::BindTexture);
    ASSERT_EQ(binds.size(), 1u) << "round " << round;
    EXPECT_EQ(binds[0]->integer(1), slots.names[textureSlotOf(decoded.state)]) << "round " << round;
    for (int v = 0; v < 3; ++v) {
      const TriangleVertex& vertex = decoded.vertices[v];
      const GlCall& tex = *drawn[1 + 3 * v];
      const GlCall& color = *drawn[2 + 3 * v];
      const GlCall& position = *drawn[3 + 3 * v];
      const VertexColor c = colorFromPacked(vertex.color);
      const VertexPosition p = vertexPosition(renderer, vertex.x, vertex.y, vertexW(vertex.depth));
      const std::vector<double> want[3] = {{texCoordOf(vertex.s), texCoordOf(vertex.t)},
                                           {c.red, c.green, c.blue, c.alpha},
                                           {p.x, p.y, p.z}};
      const GlCall* got[3] = {&tex, &color, &position};
      for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(got[k]->arguments.size(), want[k].size()) << got[k]->text();
        for (size_t a = 0; a < want[k].size(); ++a) {
          EXPECT_EQ(got[k]->real(a), want[k][a])
              << "round " << round << ", vertex " << v << ": " << got[k]->text();
        }
      }
    }
  }
}

TEST_F(TriangleDraw, StateSequences) {
  struct Row {
    const char* name;
    std::vector<uint8_t> states;
    std::vector<std::string> expected;
    int lastSlot;
    int lastBlend;
  };
  const Row rows[] = {
      {"repeated state byte sends nothing more", {0x21, 0x21, 0x21}, {kBindSlot1, kEnableBlend, kSourceAlpha}, 1, 1},
      {"mode 3 first sends no blend call", {0x60}, {"BindTexture(0xde1, 0x0)"}, 0, 3},
      {"mode 3 after mode 2 keeps (ZERO, ONE)", {0x40, 0x60}, {"BindTexture(0xde1, 0x0)", kEnableBlend, kZeroOne}, 0, 3},
      {"mode 2 after mode 3 is sent again", {0x40, 0x60, 0x40},
       {"BindTexture(0xde1, 0x0)", kEnableBlend, kZeroOne, kEnableBlend, kZeroOne}, 0, 2},
      {"modes 0, 1, 0", {0x01, 0x21, 0x01}, {kBindSlot1, kDisableBlend, kEnableBlend, kSourceAlpha, kDisableBlend}, 1, 0},
      {"modes 7 then 4 send nothing", {0xE1, 0x81}, {kBindSlot1}, 1, 4},
      {"slot changes bind, slot back binds again", {0x01, 0x02, 0x01},
       {kBindSlot1, kDisableBlend, "BindTexture(0xde1, 0x66)", kBindSlot1}, 1, 0},
      {"empty slot binds name 0", {0x03}, {"BindTexture(0xde1, 0x0)", kDisableBlend}, 3, 0},
      {"slot 31 with mode 7", {0xFF}, {"BindTexture(0xde1, 0x83)"}, 31, 7},
      {"slot 0 then 1 in mode 1", {0x20, 0x21}, {"BindTexture(0xde1, 0x0)", kEnableBlend, kSourceAlpha, kBindSlot1}, 1, 1},
  };
  for (const Row& row : rows) {
    recorder.clear();
    resetTriangleCache(renderer);
    for (const uint8_t state : row.states) draw(state);
    EXPECT_EQ(stateCalls(recorder), row.expected) << row.name;
    EXPECT_EQ(recorder.count(GlFunction::Begin), static_cast<int>(row.states.size())) << row.name;
    EXPECT_EQ(recorder.count(GlFunction::End), static_cast<int>(row.states.size())) << row.name;
    EXPECT_EQ(renderer.cache.currentSlot, row.lastSlot) << row.name;
    EXPECT_EQ(renderer.cache.currentBlend, row.lastBlend) << row.name;
  }
}

TEST_F(TriangleDraw, SkippedTrianglesSendNothingAndKeepTheCache) {
  draw(0x42, true);  // skipped as the very first: the cache stays unset
  EXPECT_TRUE(recorder.calls.empty());
  EXPECT_EQ(renderer.cache.currentSlot, -1);
  EXPECT_EQ(renderer.cache.currentBlend, -1);

  draw(0x21);
  recorder.clear();
  draw(0x42, true);
  draw(0x03, true);
  EXPECT_TRUE(recorder.calls.empty()) << ::testing::PrintToString(recorder.texts());
  EXPECT_EQ(renderer.cache.currentSlot, 1);
  EXPECT_EQ(renderer.cache.currentBlend, 1);

  draw(0x21);  // the same state as the last drawn: still nothing to send
  EXPECT_TRUE(stateCalls(recorder).empty()) << ::testing::PrintToString(recorder.texts());
  EXPECT_EQ(recorder.count(GlFunction::Begin), 1);
}

TEST_F(TriangleDraw, DepthZeroSendsStateButDrawsNothing) {
  for (int zeroVertex = 0; zeroVertex < 3; ++zeroVertex) {
    recorder.clear();
    resetTriangleCache(renderer);
    VertexBytes vertices[3] = {{0, 0, 10, 10, 40000, 0x1F00},
                               {0, 0, 200, 10, 40000, 0x1F00},
                               {0, 0, 10, 200, 40000, 0x1F00}};
    vertices[zeroVertex].depth = 0;
    const auto record = triangleRecord(0x41, vertices);
    drawTriangle(renderer, record.data(), false);
    EXPECT_EQ(recorder.texts(), (std::vector<std::string>{kBindSlot1, kEnableBlend, kZeroOne}))
        << "depth 0 at vertex " << zeroVertex;
    EXPECT_EQ(renderer.cache.currentSlot, 1) << "depth 0 at vertex " << zeroVertex;
    EXPECT_EQ(renderer.cache.currentBlend, 2) << "depth 0 at vertex " << zeroVertex;

    recorder.clear();
    draw(0x41);  // the cache followed the dropped triangle
    EXPECT_TRUE(stateCalls(recorder).empty()) << "depth 0 at vertex " << zeroVertex;
    EXPECT_EQ(recorder.count(GlFunction::Vertex3f), 3) << "depth 0 at vertex " << zeroVertex;
  }
}

// The recorder itself, which other GL tests share.
int forwardedViewports = 0;

TEST(GlRecorder, RecordsAnswersCopiesTexelsAndForwards) {
  GlRecorder outer;
  const GlApi gl = test::recordingGlApi();
  {
    GlRecorder recorder;
    recorder.integers[GL_MAX_TEXTURE_SIZE] = 2048;
    GLuint names[3] = {};
    gl.GenTextures(3, names);
    EXPECT_EQ(names[0], 1u);
    EXPECT_EQ(names[2], 3u);
    GLint answer = -1;
    gl.GetIntegerv(GL_MAX_TEXTURE_SIZE, &answer);
    EXPECT_EQ(answer, 2048);
    gl.GetIntegerv(GL_UNPACK_ALIGNMENT, &answer);
    EXPECT_EQ(answer, 0);

    // 3 x 2 RGB texels: 9 bytes a row, padded to 12 at the default alignment of 4.
    const uint8_t padded[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 11, 12, 13, 14, 15, 16, 17, 18, 19};
    gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 3, 2, 0, GL_RGB, GL_UNSIGNED_BYTE, padded);
    gl.PixelStorei(GL_UNPACK_ALIGNMENT, 1);
    const uint8_t tight[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 18, 19};
    gl.TexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 3, 2, GL_RGB, GL_UNSIGNED_BYTE, tight);
    const std::vector<uint8_t> expected(std::begin(tight), std::end(tight));
    ASSERT_EQ(recorder.count(GlFunction::TexImage2D), 1);
    EXPECT_EQ(recorder.callsTo(GlFunction::TexImage2D)[0]->pixels, expected);
    EXPECT_EQ(recorder.callsTo(GlFunction::TexSubImage2D)[0]->pixels, expected);

    gl.ClearColor(0.25f, 0.5f, 1.0f, 1.0f);
    gl.Perspective(60.0, 4.0 / 3.0, -2.0, 2.0);
    gl.Viewport(0, -1, 640, 480);
    const std::vector<std::string> texts = recorder.texts();
    EXPECT_EQ(texts[0], "GenTextures(3, ptr)");
    EXPECT_EQ(texts[texts.size() - 3], "ClearColor(0.25, 0.5, 1, 1)");
    EXPECT_EQ(texts[texts.size() - 2], "Perspective(60, 1.33333333, -2, 2)");
    EXPECT_EQ(texts.back(), "Viewport(0, -1, 640, 480)");
  }
  EXPECT_TRUE(outer.calls.empty());  // the inner recorder took every call

  GlApi counting{};
  counting.Viewport = [](GLint, GLint, GLsizei, GLsizei) { ++forwardedViewports; };
  outer.forward = &counting;
  gl.Viewport(0, 0, 10, 10);
  EXPECT_EQ(forwardedViewports, 1);
  EXPECT_EQ(outer.count(GlFunction::Viewport), 1);
}

}  // namespace
}  // namespace drec
