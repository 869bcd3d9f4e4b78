// The fixed render state: every call with its exact values, and the orders
// among them that matter.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "render/setup.hpp"
#include "tests/support/gl_recorder.hpp"

namespace drec {
namespace {

using test::GlFunction;
using test::GlRecorder;

// Every call with its exact values, each once (but the two identities), in
// any order but for the orders that matter.
TEST(RenderSetup, ExactStateAndTheOrdersThatMatter) {
  GlRecorder recorder;
  renderSetup(test::recordingGlApi(), 640, 480);
  const std::vector<std::string> calls = recorder.texts();
  std::vector<std::string> expected = {
      "Viewport(0, 0, 640, 480)",
      "MatrixMode(0x1701)",  // GL_PROJECTION
      "LoadIdentity()",
      "Perspective(60, 1.33333333, -2, 2)",
      "MatrixMode(0x1700)",  // GL_MODELVIEW
      "LoadIdentity()",
      "Enable(0xde1)",       // GL_TEXTURE_2D
      "ShadeModel(0x1d01)",  // GL_SMOOTH
      "ClearDepth(0)",
      "Hint(0xc50, 0x1101)",   // GL_PERSPECTIVE_CORRECTION_HINT, GL_FASTEST
      "Hint(0x84ef, 0x1101)",  // GL_TEXTURE_COMPRESSION_HINT, GL_FASTEST
      "Hint(0xc51, 0x1102)",   // GL_POINT_SMOOTH_HINT, GL_NICEST
      "Hint(0xc52, 0x1102)",   // GL_LINE_SMOOTH_HINT, GL_NICEST
      "ClearColor(0, 0, 0, 1)",
      "Clear(0x4100)",                  // GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT, the only clear
      "Enable(0xbe2)",                  // GL_BLEND
      "BlendFunc(0x302, 0x303)",        // GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA
      "TexEnvi(0x2300, 0x2200, 8448)",  // GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE
      "Disable(0xb71)",                 // GL_DEPTH_TEST, never enabled again
  };
  std::vector<std::string> sorted = calls;
  std::sort(sorted.begin(), sorted.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(sorted, expected);

  // Each row in this order, other calls between them allowed.
  const std::vector<std::string> orders[] = {
      // The projection is an identity, then the perspective, set in projection
      // mode; then the model-view identity, and model-view mode stays current.
      {"MatrixMode(0x1701)", "LoadIdentity()", "Perspective(60, 1.33333333, -2, 2)", "MatrixMode(0x1700)",
       "LoadIdentity()"},
      // The viewport is set by the model-view identity (the last identity).
      {"Viewport(0, 0, 640, 480)", "LoadIdentity()"},
      // The clear uses the clear values set for it.
      {"ClearColor(0, 0, 0, 1)", "Clear(0x4100)"},
      {"ClearDepth(0)", "Clear(0x4100)"},
  };
  std::string all;
  for (const std::string& call : calls) all += "\n  " + call;
  for (const std::vector<std::string>& order : orders) {
    auto at = calls.begin();
    for (const std::string& call : order) {
      at = std::find(at, calls.end(), call);
      ASSERT_NE(at, calls.end()) << call << " is missing or out of order in:" << all;
      ++at;
    }
  }
}

struct AspectRow {
  int width;
  int height;
  double aspect;
};

TEST(RenderSetup, AspectIsAFloatingPointDivision) {
  // Integer division would give 1 for 640 x 480 and 0 for 480 x 640.
  const AspectRow rows[] = {
      {640, 480, 640.0 / 480.0}, {480, 640, 0.75}, {1280, 720, 1280.0 / 720.0}, {1, 3, 1.0 / 3.0}};
  for (const AspectRow& row : rows) {
    GlRecorder recorder;
    renderSetup(test::recordingGlApi(), row.width, row.height);
    std::vector<const test::GlCall*> perspective = recorder.callsTo(GlFunction::Perspective);
    ASSERT_EQ(perspective.size(), 1u);
    EXPECT_EQ(perspective[0]->real(0), 60.0);
    EXPECT_EQ(perspective[0]->real(1), row.aspect) << row.width << " x " << row.height;
    EXPECT_EQ(perspective[0]->real(2), -2.0);
    EXPECT_EQ(perspective[0]->real(3), 2.0);
    std::vector<const test::GlCall*> viewport = recorder.callsTo(GlFunction::Viewport);
    ASSERT_EQ(viewport.size(), 1u);
    EXPECT_EQ(viewport[0]->integer(2), row.width);
    EXPECT_EQ(viewport[0]->integer(3), row.height);
  }
}

}  // namespace
}  // namespace drec
