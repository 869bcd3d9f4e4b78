// The fixed render state as a real OpenGL context (Mesa) reports it.
#include <GL/gl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <string>

#include "platform/display.hpp"
#include "render/gl_api.hpp"
#include "render/setup.hpp"
#include "tests/support/window_support.hpp"
#include "tests/support/x11_tools.hpp"

namespace drec {
namespace {

struct OpenedDisplay {
  Display display{};
  ~OpenedDisplay() { closeDisplay(display); }
};

GLint integer(GLenum name) {
  GLint value = -12345;
  glGetIntegerv(name, &value);
  return value;
}

// gluPerspective(60, aspect, -2, 2) written out, column-major: with
// f = cot(30 degrees), x gets f / aspect, y gets f, z' = (far + near) /
// (near - far) z + 2 far near / (near - far) = 0 z + 2, and w' = -z.
void expectedProjection(double aspect, double matrix[16]) {
  const double f = 1.0 / std::tan(30.0 * M_PI / 180.0);
  for (int i = 0; i < 16; ++i) matrix[i] = 0.0;
  matrix[0] = f / aspect;
  matrix[5] = f;
  matrix[10] = 0.0;
  matrix[11] = -1.0;
  matrix[14] = 2.0;
}

TEST(RenderSetupWindow, StateReadBackFromTheContext) {
  DREC_REQUIRE_DISPLAY();
  const int sizes[][2] = {{640, 480}, {400, 700}};
  for (const auto& [width, height] : sizes) {
    SCOPED_TRACE(test::sizeText(width, height));
    std::string title = "setup-" + std::to_string(getpid()) + "-" + std::to_string(width);
    OpenedDisplay opened;
    ASSERT_TRUE(openDisplay(opened.display, width, height, title.c_str()));
    test::XWindowId window = test::waitForWindowByTitle(title, 10.0);
    ASSERT_NE(window, 0u);

    // Something else on screen first, so that the set-up's clear shows.
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    presentDisplay(opened.display);

    renderSetup(realGlApi(), width, height);

    GLint viewport[4] = {-1, -1, -1, -1};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[0], 0);
    EXPECT_EQ(viewport[1], 0);
    EXPECT_EQ(viewport[2], width);
    EXPECT_EQ(viewport[3], height);

    double projection[16];
    double expected[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    expectedProjection(static_cast<double>(width) / height, expected);
    for (int i = 0; i < 16; ++i)
      EXPECT_NEAR(projection[i], expected[i], 1e-5) << "projection element " << i;

    double modelView[16];
    glGetDoublev(GL_MODELVIEW_MATRIX, modelView);
    for (int i = 0; i < 16; ++i)
      EXPECT_EQ(modelView[i], i % 5 == 0 ? 1.0 : 0.0) << "model-view element " << i;
    EXPECT_EQ(integer(GL_MATRIX_MODE), GL_MODELVIEW);

    EXPECT_EQ(glIsEnabled(GL_TEXTURE_2D), GL_TRUE);
    EXPECT_EQ(glIsEnabled(GL_BLEND), GL_TRUE);
    EXPECT_EQ(glIsEnabled(GL_DEPTH_TEST), GL_FALSE);
    EXPECT_EQ(integer(GL_BLEND_SRC), GL_SRC_ALPHA);
    EXPECT_EQ(integer(GL_BLEND_DST), GL_ONE_MINUS_SRC_ALPHA);
    GLint environment = -1;
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &environment);
    EXPECT_EQ(environment, GL_MODULATE);
    EXPECT_EQ(integer(GL_SHADE_MODEL), GL_SMOOTH);

    GLfloat clearColour[4] = {-1, -1, -1, -1};
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clearColour);
    EXPECT_EQ(clearColour[0], 0.0f);
    EXPECT_EQ(clearColour[1], 0.0f);
    EXPECT_EQ(clearColour[2], 0.0f);
    EXPECT_EQ(clearColour[3], 1.0f);
    GLdouble clearDepth = -1;
    glGetDoublev(GL_DEPTH_CLEAR_VALUE, &clearDepth);
    EXPECT_EQ(clearDepth, 0.0);

    EXPECT_EQ(integer(GL_PERSPECTIVE_CORRECTION_HINT), GL_FASTEST);
    EXPECT_EQ(integer(GL_TEXTURE_COMPRESSION_HINT), GL_FASTEST);
    EXPECT_EQ(integer(GL_POINT_SMOOTH_HINT), GL_NICEST);
    EXPECT_EQ(integer(GL_LINE_SMOOTH_HINT), GL_NICEST);

    // The one clear: black over the white, corner to corner.
    presentDisplay(opened.display);
    EXPECT_TRUE(test::filledWith(window, width, height, 0x000000));
  }
}

}  // namespace
}  // namespace drec
