// The viewer's window on a real X server: a framebuffer object through the
// loaded GL table, blitted scaled into the window, windowed and full screen
// on one context; the events of xdotool's keys and clicks and of the window
// manager's close; and the overlay leaving the GL state as it found it.
#include <GL/gl.h>
#include <gtest/gtest.h>
#include <imgui.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/view_window.hpp"
#include "render/gl_api.hpp"
#include "tests/support/monotonic_clock.hpp"
#include "tests/support/window_support.hpp"
#include "tests/support/x11_tools.hpp"

namespace drec {
namespace {

using test::nowSeconds;

constexpr int kWidth = 320;
constexpr int kHeight = 240;
// The picture: 80 x 40, red on the left half and green on the right.
constexpr int kFrameWidth = 80;
constexpr int kFrameHeight = 40;

// Sets an environment variable for one scope (null: unset), and puts it back.
struct ScopedVariable {
  std::string name;
  bool had;
  std::string old;
  ScopedVariable(const char* variable, const char* value) : name(variable), had(std::getenv(variable)) {
    if (had) old = std::getenv(variable);
    if (value) setenv(variable, value, 1);
    else unsetenv(variable);
  }
  ~ScopedVariable() {
    if (had) setenv(name.c_str(), old.c_str(), 1);
    else unsetenv(name.c_str());
  }
};

const char* const kKeyNames[] = {"None", "Character", "Escape", "Enter", "Backspace", "Home", "End", "Left",
                                 "Right", "Up", "Down", "PageUp", "PageDown", "F1", "F11"};

// "'p'", "Enter alt", "click 100,50", "close"; "" for redraws and the overlay's own events.
std::string describe(const ViewEvent& event) {
  const std::string at = std::to_string(event.x) + "," + std::to_string(event.y);
  std::string key = event.key == ViewKey::Character ? std::string("'") + event.character + "'"
                                                    : kKeyNames[static_cast<int>(event.key)];
  switch (event.kind) {
    case ViewEvent::Kind::Key: return event.alt ? key + " alt" : key;
    case ViewEvent::Kind::Close: return "close";
    case ViewEvent::Kind::Click: return "click " + at;
    case ViewEvent::Kind::DoubleClick: return "double " + at;
    default: return std::string();
  }
}

// Every key, close and click event until `seconds` have passed.
std::vector<std::string> eventsWithin(ViewWindow& window, double seconds) {
  std::vector<std::string> events;
  const double deadline = nowSeconds() + seconds;
  ViewEvent event;
  for (double left = seconds; left > 0; left = deadline - nowSeconds()) {
    if (waitViewEvent(window, event, left) && !describe(event).empty()) events.push_back(describe(event));
  }
  return events;
}

unsigned pixelAt(int x, int y) {
  unsigned char rgba[4] = {};
  glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  return (unsigned{rgba[0]} << 16) | (unsigned{rgba[1]} << 8) | rgba[2];
}

// A 320 x 240 window with an ImGui context of its own and the picture in a
// framebuffer object, closed however the test ends.
class ViewWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DREC_REQUIRE_DISPLAY();
    ImGui::GetIO().IniFilename = nullptr;  // nothing written into the test's folder
    ViewWindowOptions options{kWidth, kHeight, title.c_str(), false};
    std::string error;
    ASSERT_EQ(openViewWindow(view, options, error), ViewWindowOpen::Opened) << error;
    id = test::waitForWindowByTitle(title, 10.0);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(loadGlExtensions(view, gl));
    gl.GenTextures(1, &texture);
    gl.BindTexture(GL_TEXTURE_2D, texture);
    gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kFrameWidth, kFrameHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                  nullptr);
    gl.BindTexture(GL_TEXTURE_2D, 0);
    gl.GenFramebuffers(1, &framebuffer);
    gl.BindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    gl.FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    ASSERT_EQ(gl.CheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    gl.Viewport(0, 0, kFrameWidth, kFrameHeight);
    gl.Begin(GL_QUADS);
    for (const float left : {-1.0f, 0.0f}) {
      gl.Color4f(left < 0 ? 1.0f : 0.0f, left < 0 ? 0.0f : 1.0f, 0, 1);
      gl.Vertex3f(left, -1, 0);
      gl.Vertex3f(left + 1, -1, 0);
      gl.Vertex3f(left + 1, 1, 0);
      gl.Vertex3f(left, 1, 0);
    }
    gl.End();
    gl.BindFramebuffer(GL_FRAMEBUFFER, 0);
    ASSERT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  }
  void TearDown() override {
    closeViewWindow(view);
    ImGui::DestroyContext(imgui);
  }

  // Takes the events until the drawable is `width` x `height` as SDL tells
  // it and as the X server has it (SDL can tell it first).
  bool drawableBecomes(int width, int height) {
    const double deadline = nowSeconds() + 5.0;
    for (;;) {
      ViewEvent event;
      while (pollViewEvent(view, event)) {
      }
      int shownWidth = 0, shownHeight = 0;
      viewDrawableSize(view, shownWidth, shownHeight);
      test::ClientArea area{};
      if (shownWidth == width && shownHeight == height && test::clientArea(id, area) &&
          area.width == width && area.height == height)
        return true;
      if (nowSeconds() > deadline) return false;
      usleep(20000);
    }
  }

  ImGuiContext* imgui = ImGui::CreateContext();
  const std::string title = "view-" + std::to_string(getpid()) + "-" +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name();
  ViewWindow view;
  test::XWindowId id = 0;
  GlApi gl = realGlApi();
  GLuint texture = 0;
  GLuint framebuffer = 0;
};

TEST(ViewDisplay, NeedsAWindowSystemUnlessAnotherDriverIsNamed) {
  struct Row {
    const char* display;
    const char* wayland;
    const char* driver;
    bool available;
  };
  const Row rows[] = {
      {nullptr, nullptr, nullptr, false},     {"", "", "", false},
      {":1", nullptr, nullptr, true},         {nullptr, "wayland-0", nullptr, true},
      {nullptr, nullptr, "x11", false},       {nullptr, nullptr, "x11,wayland", false},
      {nullptr, nullptr, "offscreen", true},  {nullptr, nullptr, "x11,offscreen", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.display ? row.display : "-") + " " + (row.wayland ? row.wayland : "-") +
                 " " + (row.driver ? row.driver : "-"));
    ScopedVariable display("DISPLAY", row.display);
    ScopedVariable wayland("WAYLAND_DISPLAY", row.wayland);
    ScopedVariable driver("SDL_VIDEODRIVER", row.driver);
    std::string reason = "stale";
    EXPECT_EQ(displayAvailable(reason), row.available);
    EXPECT_EQ(reason, row.available ? "" : "DISPLAY is not set");
    if (row.available) continue;
    ViewWindow window;
    std::string error;
    EXPECT_EQ(openViewWindow(window, ViewWindowOptions{kWidth, kHeight, "", false}, error),
              ViewWindowOpen::NoDisplay);
    EXPECT_EQ(error, "DISPLAY is not set");
    EXPECT_EQ(window.state, nullptr);
  }
}

// The software renderer rasterises in the window's own thread unless the
// user chose otherwise (an empty value is a choice too).
TEST(ViewDisplay, RendererThreadsAreNoneUnlessChosen) {
  DREC_REQUIRE_DISPLAY();
  struct Row {
    const char* given;
    const char* after;
  };
  const Row rows[] = {{nullptr, "0"}, {"2", "2"}, {"", ""}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.given ? row.given : "unset");
    ScopedVariable threads("LP_NUM_THREADS", row.given);
    ImGuiContext* imgui = ImGui::CreateContext();
    ImGui::GetIO().IniFilename = nullptr;
    ViewWindow window;
    std::string error;
    ASSERT_EQ(openViewWindow(window, ViewWindowOptions{kWidth, kHeight, "view-threads", false}, error),
              ViewWindowOpen::Opened)
        << error;
    closeViewWindow(window);
    ImGui::DestroyContext(imgui);
    const char* after = std::getenv("LP_NUM_THREADS");
    ASSERT_NE(after, nullptr);
    EXPECT_STREQ(after, row.after);
  }
}

// Windowed, full screen, windowed again: the picture scaled to the width
// with black bars above and below, each edge pixel on its side of the line.
TEST_F(ViewWindowTest, PictureIsScaledIntoTheWindowFullScreenOrNot) {
  test::WindowManager manager;
  ASSERT_TRUE(manager.running) << "openbox did not start";
  int screenWidth = 0, screenHeight = 0;
  ASSERT_TRUE(test::screenSize(screenWidth, screenHeight));
  for (const bool fullScreen : {false, true, false}) {
    SCOPED_TRACE(fullScreen ? "full screen" : "windowed");
    setViewFullScreen(view, fullScreen);
    EXPECT_EQ(viewFullScreen(view), fullScreen);
    const int width = fullScreen ? screenWidth : kWidth;
    const int height = fullScreen ? screenHeight : kHeight;
    ASSERT_TRUE(drawableBecomes(width, height)) << "not " << test::sizeText(width, height);
    swapViewWindow(view);  // the window's framebuffer takes the new size
    const int shownHeight = width * kFrameHeight / kFrameWidth;
    const int bar = (height - shownHeight) / 2;
    gl.ClearColor(0, 0, 0, 1);
    gl.Clear(GL_COLOR_BUFFER_BIT);
    gl.BindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    gl.BlitFramebuffer(0, 0, kFrameWidth, kFrameHeight, 0, bar, width, bar + shownHeight, GL_COLOR_BUFFER_BIT,
                       GL_NEAREST);
    gl.BindFramebuffer(GL_FRAMEBUFFER, 0);
    const int probes[][3] = {{0, bar - 1, 0},
                             {0, bar, 0xFF0000},
                             {width / 2 - 1, height / 2, 0xFF0000},
                             {width / 2, height / 2, 0x00FF00},
                             {width - 1, bar + shownHeight - 1, 0x00FF00},
                             {width - 1, bar + shownHeight, 0}};
    for (const auto& [x, y, rgb] : probes)
      EXPECT_EQ(pixelAt(x, y), static_cast<unsigned>(rgb)) << "at " << x << ", " << y;
    swapViewWindow(view);
  }
}

TEST_F(ViewWindowTest, KeysClicksAndCloseComeOnceEach) {
  ASSERT_TRUE(test::focusWindow(id));
  eventsWithin(view, 0.2);
  const std::string window = std::to_string(id);
  const std::vector<std::string> rows[][2] = {
      {{"key", "p"}, {"'p'"}},
      {{"key", "question"}, {"'?'"}},
      {{"key", "bracketright"}, {"']'"}},
      {{"key", "Escape"}, {"Escape"}},
      {{"key", "F11"}, {"F11"}},
      {{"key", "Left"}, {"Left"}},
      {{"key", "alt+Return"}, {"Enter alt"}},
      {{"key", "KP_Enter"}, {"Enter"}},
      {{"key", "alt+p"}, {"'p' alt"}},
      {{"key", "ctrl+q"}, {"'q'"}},
      {{"key", "shift"}, {}},
      {{"mousemove", "--window", window, "100", "50", "click", "1"}, {"click 100,50"}},
      // Away from the first click, so that its press does not count as a second.
      {{"mousemove", "--window", window, "200", "150", "click", "--repeat", "2", "--delay", "50", "1"},
       {"click 200,150", "double 200,150"}},
  };
  for (const auto& [arguments, events] : rows) {
    SCOPED_TRACE("xdotool " + arguments[0] + " " + arguments[1]);
    ASSERT_TRUE(test::xdotool(arguments));
    EXPECT_EQ(eventsWithin(view, 0.3), events);
  }
  ASSERT_TRUE(test::sendCloseRequest(id));
  EXPECT_EQ(eventsWithin(view, 0.5), std::vector<std::string>{"close"});
  EXPECT_TRUE(test::windowWithTitleExists(title)) << "the window went with the close";

  // Nothing pending: the wait lasts its time, and no longer.
  const double start = nowSeconds();
  ViewEvent event;
  EXPECT_FALSE(waitViewEvent(view, event, 0.25)) << "kind " << static_cast<int>(event.kind);
  EXPECT_GE(nowSeconds() - start, 0.24);
  EXPECT_LT(nowSeconds() - start, 2.0);
}

// One GL state as glGet* gives it; all of them differ from what the overlay
// draws with once setUnusualState has run.
struct StateQuery {
  const char* name;
  enum Kind { Integers, Floats, Enabled, TextureEnvironment } kind;
  GLenum parameter;
  int count;
};
#define DREC_STATE(kind, parameter, count) {#parameter, StateQuery::kind, parameter, count}
const StateQuery kOverlayState[] = {
    DREC_STATE(Integers, GL_TEXTURE_BINDING_2D, 1),      DREC_STATE(Enabled, GL_BLEND, 1),
    DREC_STATE(Integers, GL_BLEND_SRC, 1),               DREC_STATE(Integers, GL_BLEND_DST, 1),
    DREC_STATE(TextureEnvironment, GL_TEXTURE_ENV_MODE, 1), DREC_STATE(Integers, GL_MATRIX_MODE, 1),
    DREC_STATE(Floats, GL_PROJECTION_MATRIX, 16),        DREC_STATE(Floats, GL_MODELVIEW_MATRIX, 16),
    DREC_STATE(Integers, GL_PROJECTION_STACK_DEPTH, 1),  DREC_STATE(Integers, GL_MODELVIEW_STACK_DEPTH, 1),
    DREC_STATE(Integers, GL_ATTRIB_STACK_DEPTH, 1),
    DREC_STATE(Integers, GL_CLIENT_ATTRIB_STACK_DEPTH, 1),
    DREC_STATE(Integers, GL_VIEWPORT, 4),                DREC_STATE(Enabled, GL_SCISSOR_TEST, 1),
    DREC_STATE(Integers, GL_SCISSOR_BOX, 4),             DREC_STATE(Integers, GL_DRAW_FRAMEBUFFER_BINDING, 1),
    DREC_STATE(Integers, GL_READ_FRAMEBUFFER_BINDING, 1), DREC_STATE(Enabled, GL_TEXTURE_2D, 1),
    DREC_STATE(Enabled, GL_DEPTH_TEST, 1),               DREC_STATE(Enabled, GL_CULL_FACE, 1),
    DREC_STATE(Enabled, GL_LIGHTING, 1),                 DREC_STATE(Enabled, GL_ALPHA_TEST, 1),
    DREC_STATE(Enabled, GL_COLOR_MATERIAL, 1),           DREC_STATE(Enabled, GL_VERTEX_ARRAY, 1),
    DREC_STATE(Enabled, GL_TEXTURE_COORD_ARRAY, 1),      DREC_STATE(Enabled, GL_COLOR_ARRAY, 1),
    DREC_STATE(Integers, GL_SHADE_MODEL, 1),             DREC_STATE(Integers, GL_POLYGON_MODE, 2),
    DREC_STATE(Floats, GL_CURRENT_COLOR, 4),             DREC_STATE(Floats, GL_CURRENT_TEXTURE_COORDS, 4),
    DREC_STATE(Integers, GL_UNPACK_ROW_LENGTH, 1),
};
#undef DREC_STATE

std::vector<std::vector<double>> overlayState() {
  std::vector<std::vector<double>> values;
  for (const StateQuery& query : kOverlayState) {
    GLint integers[16] = {};
    GLfloat floats[16] = {};
    switch (query.kind) {
      case StateQuery::Integers: glGetIntegerv(query.parameter, integers); break;
      case StateQuery::Floats: glGetFloatv(query.parameter, floats); break;
      case StateQuery::Enabled: integers[0] = glIsEnabled(query.parameter); break;
      case StateQuery::TextureEnvironment: glGetTexEnviv(GL_TEXTURE_ENV, query.parameter, integers); break;
    }
    std::vector<double>& value = values.emplace_back();
    for (int i = 0; i < query.count; ++i)
      value.push_back(query.kind == StateQuery::Floats ? static_cast<double>(floats[i]) : integers[i]);
  }
  return values;
}

void setUnusualState(const GlApi& gl, GLuint framebuffer, GLuint texture) {
  gl.BindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  gl.BindTexture(GL_TEXTURE_2D, texture);
  gl.BlendFunc(GL_ONE, GL_ONE);
  gl.TexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
  gl.MatrixMode(GL_PROJECTION);
  glOrtho(-2, 3, -4, 5, -6, 7);
  gl.MatrixMode(GL_MODELVIEW);
  glTranslatef(0.5f, 0.25f, 0.125f);
  gl.Viewport(3, 5, 70, 30);
  glScissor(1, 2, 30, 40);
  for (GLenum capability : {GL_DEPTH_TEST, GL_CULL_FACE, GL_LIGHTING, GL_ALPHA_TEST, GL_COLOR_MATERIAL})
    gl.Enable(capability);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_COLOR_ARRAY);
  gl.ShadeModel(GL_FLAT);
  glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
  gl.Color4f(0.25f, 0.5f, 0.75f, 1.0f);
  glTexCoord4f(0.5f, 0.25f, 0.0f, 1.0f);
  gl.PixelStorei(GL_UNPACK_ROW_LENGTH, 7);
}

TEST_F(ViewWindowTest, OverlayLeavesTheGlStateAsItFoundIt) {
  ASSERT_TRUE(drawableBecomes(kWidth, kHeight));
  gl.ClearColor(0, 0, 0, 1);
  gl.Clear(GL_COLOR_BUFFER_BIT);
  setUnusualState(gl, framebuffer, texture);
  for (const char* frame : {"the first frame, which makes the font texture", "the second frame"}) {
    SCOPED_TRACE(frame);
    const std::vector<std::vector<double>> before = overlayState();
    beginOverlayFrame(view);
    // Over the bound framebuffer's corner too: what it would draw there shows.
    ImGui::SetNextWindowPos(ImVec2(10, kHeight - 60));
    ImGui::SetNextWindowSize(ImVec2(200, 50));
    ImGui::Begin("Frame");
    ImGui::Text("frame 12 of 250");
    ImGui::End();
    renderOverlayFrame(view);
    ASSERT_GT(ImGui::GetDrawData()->TotalVtxCount, 0) << "the overlay drew nothing";
    const std::vector<std::vector<double>> after = overlayState();
    for (size_t i = 0; i < before.size(); ++i)
      EXPECT_EQ(after[i], before[i]) << kOverlayState[i].name << " changed";
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  }
  gl.BindFramebuffer(GL_READ_FRAMEBUFFER, 0);
  EXPECT_NE(pixelAt(100, 30), 0u) << "no panel in the window";
  gl.BindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
  EXPECT_EQ(pixelAt(20, 20), 0xFF0000u) << "the overlay drew into the bound framebuffer";
}

}  // namespace
}  // namespace drec
