// The display on a real X server: the window, its context, the keyboard as
// seen through it, full screen, the screen saver, and life without a display.
// Keys come from xdotool (the XTEST extension), close requests as the
// WM_DELETE_WINDOW message a window manager sends.
#include <GL/gl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/display.hpp"
#include "platform/program.hpp"
#include "tests/support/key_text.hpp"
#include "tests/support/monotonic_clock.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/window_support.hpp"
#include "tests/support/x11_tools.hpp"

namespace drec {
namespace {

using test::ClientArea;
using test::WindowManager;
using test::nowSeconds;
using test::XWindowId;

// The screen saver is checked on the X server. Where a desktop session's bus
// is reachable, SDL asks the session's screen-saver service instead, which
// this server never hears of; the tests keep SDL off that bus.
const bool kNoSessionBus = unsetenv("DBUS_SESSION_BUS_ADDRESS") == 0;

std::string uniqueTitle(const char* base) {
  static int counter = 0;
  return std::string(base) + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

// Closes the display however the test ends.
struct OpenedDisplay {
  Display display{};
  ~OpenedDisplay() { closeDisplay(display); }
};

template <typename Condition>
bool presentUntil(Display& display, const Condition& condition, double timeoutSeconds) {
  double deadline = nowSeconds() + timeoutSeconds;
  for (;;) {
    presentDisplay(display);
    if (condition()) return true;
    if (nowSeconds() > deadline) return false;
    usleep(10000);
  }
}

void presentFor(Display& display, double seconds) {
  presentUntil(display, [] { return false; }, seconds);
}

std::vector<std::string> takeAllKeys(Display& display) {
  std::vector<std::string> keys;
  for (KeyEntry entry = nextKey(display); entry.length != 0; entry = nextKey(display))
    keys.push_back(test::describeKey(entry));
  return keys;
}

// Runs xdotool while presenting, as the player does: xdotool lends a spare
// key code to a character missing from the keymap only for the moment of the
// key press, so its events must be read while the loan lasts.
bool xdotoolWhilePresenting(Display& display, const std::vector<std::string>& arguments) {
  test::ProgramRun run;
  run.arguments = {"/usr/bin/xdotool"};
  run.arguments.insert(run.arguments.end(), arguments.begin(), arguments.end());
  run.keepDisplay = true;
  test::RunningProgram program;
  if (!test::startProgram(run, program)) return false;
  presentFor(display, 0.3);
  test::ProgramResult result = test::finishProgram(program, 10.0);
  presentFor(display, 0.05);
  return result.exitStatus == 0;
}

// Opens a window, waits until the X server shows it, and gives it the focus.
XWindowId openFocused(OpenedDisplay& opened, int width, int height, const std::string& title) {
  if (!openDisplay(opened.display, width, height, title.c_str())) return 0;
  XWindowId window = test::waitForWindowByTitle(title, 10.0);
  if (!window) return 0;
  test::focusWindow(window);
  presentUntil(opened.display, [] { return false; }, 0.1);
  takeAllKeys(opened.display);
  return window;
}

// A 320 x 240 window opened for one test, shown, given the focus and with
// no key waiting; closed after the test.
class FocusedWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    DREC_REQUIRE_DISPLAY();
    window = openFocused(opened, 320, 240, title);
    ASSERT_NE(window, 0u) << "no focused window titled " << title;
  }

  const std::string title = uniqueTitle("focused");
  OpenedDisplay opened;
  Display& display = opened.display;
  XWindowId window = 0;
};

TEST(DisplayWindow, ClientAreaIsTheRequestedSizeCentredAndPinned) {
  DREC_REQUIRE_DISPLAY();
  int screenWidth = 0, screenHeight = 0;
  ASSERT_TRUE(test::screenSize(screenWidth, screenHeight));
  const int sizes[][2] = {{640, 480}, {320, 200}, {1024, 768}, {333, 177}};
  for (const auto& [width, height] : sizes) {
    SCOPED_TRACE(test::sizeText(width, height));
    std::string title = uniqueTitle("size");
    OpenedDisplay opened;
    ASSERT_TRUE(openDisplay(opened.display, width, height, title.c_str()));
    EXPECT_EQ(opened.display.width, width);
    EXPECT_EQ(opened.display.height, height);
    XWindowId window = test::waitForWindowByTitle(title, 10.0);
    ASSERT_NE(window, 0u) << "no viewable window titled " << title;
    ClientArea area{};
    ASSERT_TRUE(test::clientArea(window, area));
    EXPECT_EQ(area.width, width);
    EXPECT_EQ(area.height, height);
    // One monitor and no window manager: centred on the screen.
    EXPECT_EQ(area.x, (screenWidth - width) / 2);
    EXPECT_EQ(area.y, (screenHeight - height) / 2);
    int minWidth = 0, minHeight = 0, maxWidth = 0, maxHeight = 0;
    ASSERT_TRUE(test::sizeLimits(window, minWidth, minHeight, maxWidth, maxHeight));
    EXPECT_EQ(minWidth, width);
    EXPECT_EQ(maxWidth, width);
    EXPECT_EQ(minHeight, height);
    EXPECT_EQ(maxHeight, height);
    closeDisplay(opened.display);
    EXPECT_EQ(opened.display.window, nullptr);
    EXPECT_FALSE(test::windowWithTitleExists(title)) << "the window outlived closeDisplay";
  }
}

TEST(DisplayWindow, TitleIsTheProgramName) {
  DREC_REQUIRE_DISPLAY();
  struct Row {
    const char* path;
    const char* title;
  };
  const Row rows[] = {
      {"/opt/drec/drec-player", "drec-player"},
      {"/opt/drec/drec.player.bin", "drec.player"},
      {"relative/player.exe", "player"},
  };
  for (const Row& row : rows) {
    char title[256];
    titleFromPath(row.path, title, sizeof title);
    ASSERT_STREQ(title, row.title) << "title rule for " << row.path;
    OpenedDisplay opened;
    ASSERT_TRUE(openDisplay(opened.display, 200, 100, title));
    XWindowId window = test::waitForWindowByPid(getpid(), 10.0);
    ASSERT_NE(window, 0u);
    EXPECT_EQ(test::windowTitle(window), row.title) << "window title for " << row.path;
  }
}

TEST(DisplayWindow, SizesOfZeroOrLessOpenNothing) {
  DREC_REQUIRE_DISPLAY();
  const int sizes[][2] = {{0, 480}, {640, 0}, {-640, 480}, {640, -1}, {0, 0}};
  for (const auto& [width, height] : sizes) {
    std::string title = uniqueTitle("refused");
    Display display{};
    display.window = reinterpret_cast<DisplayWindow*>(&display);  // left over from before
    EXPECT_FALSE(openDisplay(display, width, height, title.c_str())) << test::sizeText(width, height);
    EXPECT_EQ(display.window, nullptr);
    EXPECT_FALSE(test::windowWithTitleExists(title));
    closeDisplay(display);  // closing what never opened is harmless
  }
}

TEST(DisplayWindow, ContextHasTheAskedAttributesAndDraws) {
  DREC_REQUIRE_DISPLAY();
  std::string title = uniqueTitle("context");
  OpenedDisplay opened;
  ASSERT_TRUE(openDisplay(opened.display, 320, 240, title.c_str()));
  XWindowId window = test::waitForWindowByTitle(title, 10.0);
  ASSERT_NE(window, 0u);
  auto integer = [](GLenum name) {
    GLint value = -1;
    glGetIntegerv(name, &value);
    return value;
  };
  EXPECT_EQ(integer(GL_RED_BITS), 8);
  EXPECT_EQ(integer(GL_GREEN_BITS), 8);
  EXPECT_EQ(integer(GL_BLUE_BITS), 8);
  EXPECT_EQ(integer(GL_ALPHA_BITS), 8);
  EXPECT_GE(integer(GL_DEPTH_BITS), 16);
  EXPECT_EQ(integer(GL_STENCIL_BITS), 0);
  EXPECT_EQ(integer(GL_ACCUM_RED_BITS), 0);
  EXPECT_EQ(integer(GL_SAMPLE_BUFFERS), 0);
  GLboolean doubleBuffered = GL_FALSE;
  glGetBooleanv(GL_DOUBLEBUFFER, &doubleBuffered);
  EXPECT_EQ(doubleBuffered, GL_TRUE);

  // Immediate mode draws into the back buffer; present shows it.
  glViewport(0, 0, 320, 240);
  glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  glBegin(GL_TRIANGLES);
  glColor4f(1.0f, 0.0f, 0.0f, 1.0f);
  glVertex3f(-1.0f, -1.0f, 0.0f);
  glVertex3f(1.0f, -1.0f, 0.0f);
  glVertex3f(-1.0f, 1.0f, 0.0f);
  glEnd();
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  presentDisplay(opened.display);
  unsigned lowerLeft = 0, upperRight = 0;
  ASSERT_TRUE(test::windowPixel(window, 10, 230, lowerLeft));
  ASSERT_TRUE(test::windowPixel(window, 310, 10, upperRight));
  EXPECT_EQ(lowerLeft, 0xFF0000u);
  EXPECT_EQ(upperRight, 0x0000FFu);
}

TEST_F(FocusedWindow, CloseRequestQueuesOneEntryAndTheWindowStays) {
  ASSERT_TRUE(test::sendCloseRequest(window));
  // Events wait for a present: nothing is queued until then.
  usleep(200000);
  EXPECT_EQ(nextKey(display).length, 0);
  ASSERT_TRUE(presentUntil(display, [&] { return display.keys.count > 0; }, 5.0));
  presentFor(display, 0.3);  // a second entry (a quit event counted twice) would come now
  EXPECT_EQ(takeAllKeys(display), std::vector<std::string>{"FF 6B"});
  EXPECT_TRUE(test::windowWithTitleExists(title));

  // Two clicks of the close button: two requests, and still open.
  ASSERT_TRUE(test::sendCloseRequest(window));
  ASSERT_TRUE(test::sendCloseRequest(window));
  ASSERT_TRUE(presentUntil(display, [&] { return display.keys.count >= 2; }, 5.0));
  presentFor(display, 0.3);
  EXPECT_EQ(takeAllKeys(display), (std::vector<std::string>{"FF 6B", "FF 6B"}));
  EXPECT_TRUE(test::windowWithTitleExists(title));
}

TEST_F(FocusedWindow, EscapeHeldIsSeenAfterAPresent) {
  EXPECT_FALSE(keyHeld(display, kScanCodeEscape));
  ASSERT_TRUE(test::xdotool({"keydown", "Escape"}));
  usleep(100000);  // longer than one present
  EXPECT_FALSE(keyHeld(display, kScanCodeEscape)) << "seen before any present";
  bool seen = presentUntil(display, [&] { return keyHeld(display, kScanCodeEscape); }, 3.0);
  bool otherHeld = keyHeld(display, 28) || keyHeld(display, 57);
  bool outOfRange = keyHeld(display, 128) || keyHeld(display, -1) || keyHeld(display, 1000);
  ASSERT_TRUE(test::xdotool({"keyup", "Escape"}));
  EXPECT_TRUE(seen);
  EXPECT_FALSE(otherHeld);
  EXPECT_FALSE(outOfRange);
  EXPECT_TRUE(presentUntil(display, [&] { return !keyHeld(display, kScanCodeEscape); }, 3.0))
      << "still held after the release";
  // The press also typed one Escape character.
  EXPECT_EQ(takeAllKeys(display), std::vector<std::string>{"1B"});
}

TEST_F(FocusedWindow, ShortTapBetweenPresentsIsNotHeldButIsTyped) {
  ASSERT_TRUE(test::xdotool({"keydown", "Escape"}));
  ASSERT_TRUE(test::xdotool({"keyup", "Escape"}));
  usleep(100000);
  presentDisplay(display);
  EXPECT_FALSE(keyHeld(display, kScanCodeEscape));
  EXPECT_EQ(takeAllKeys(display), std::vector<std::string>{"1B"});
}

TEST_F(FocusedWindow, LosingTheFocusClearsTheKeyState) {
  ASSERT_TRUE(test::xdotool({"keydown", "Escape"}));
  bool heldBefore = presentUntil(display, [&] { return keyHeld(display, kScanCodeEscape); }, 3.0);
  test::removeFocus();
  bool clearedWhileDown =
      presentUntil(display, [&] { return !keyHeld(display, kScanCodeEscape); }, 3.0);
  presentFor(display, 0.2);
  bool stillClear = !keyHeld(display, kScanCodeEscape);  // not copied while inactive
  ASSERT_TRUE(test::xdotool({"keyup", "Escape"}));
  EXPECT_TRUE(heldBefore);
  EXPECT_TRUE(clearedWhileDown);
  EXPECT_TRUE(stillClear);
}

struct TypedRow {
  const char* name;
  std::vector<std::string> xdotoolArguments;
  std::vector<std::string> entries;
};

TEST_F(FocusedWindow, TypedKeysBecomeEntries) {
  const TypedRow rows[] = {
      {"letter", {"key", "a"}, {"61"}},
      {"shifted letter", {"key", "shift+a"}, {"41"}},
      {"digit", {"key", "7"}, {"37"}},
      {"space", {"key", "space"}, {"20"}},
      {"Enter", {"key", "Return"}, {"0D"}},
      {"Backspace", {"key", "BackSpace"}, {"08"}},
      {"Tab", {"key", "Tab"}, {"09"}},
      {"Ctrl+C", {"key", "ctrl+c"}, {"03"}},
      {"Up", {"key", "Up"}, {"FF 48"}},
      {"F1", {"key", "F1"}, {"FF 3B"}},
      {"Delete", {"key", "Delete"}, {"FF 53"}},
      {"8-bit character", {"key", "eacute"}, {"E9"}},
      {"Alt+x adds nothing", {"key", "alt+x"}, {}},
      {"Shift alone adds nothing", {"key", "shift"}, {}},
      {"two letters", {"key", "k", "q"}, {"6B", "71"}},
  };
  const test::SpareKey eacute("eacute");
  presentFor(display, 0.2);  // the window reads the new keymap
  for (const TypedRow& row : rows) {
    ASSERT_TRUE(xdotoolWhilePresenting(display, row.xdotoolArguments)) << row.name;
    EXPECT_EQ(takeAllKeys(display), row.entries) << "entries differ for " << row.name;
  }
}

TEST_F(FocusedWindow, AutoRepeatAddsOneEntryPerRepeat) {
  // Held through no present at all: every repeat waits for the next one.
  ASSERT_TRUE(test::xdotool({"keydown", "Left"}));
  usleep(1200000);
  ASSERT_TRUE(test::xdotool({"keyup", "Left"}));
  presentFor(display, 0.1);
  std::vector<std::string> keys = takeAllKeys(display);
  EXPECT_GE(keys.size(), 3u) << "no auto-repeat seen";
  EXPECT_LE(keys.size(), 15u);
  for (const std::string& entry : keys) EXPECT_EQ(entry, "FF 4B");
}

TEST_F(FocusedWindow, SixteenKeysBetweenPresentsLeaveTheLastFifteen) {
  ASSERT_TRUE(test::xdotool({"key", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n",
                             "o", "p"}));
  usleep(200000);
  presentDisplay(display);
  std::vector<std::string> keys = takeAllKeys(display);
  ASSERT_EQ(keys.size(), 15u);
  EXPECT_EQ(keys.front(), "62");
  EXPECT_EQ(keys.back(), "70");
}

TEST(DisplayWindow, ScreenSaverIsOffWhileOpenAndBackAfterwards) {
  DREC_REQUIRE_DISPLAY();
  ASSERT_TRUE(kNoSessionBus);
  // A one-second screen saver, so that idleness shows within the test.
  ASSERT_TRUE(test::runTool({"xset", "s", "1", "1"}));
  struct RestoreSaver {
    ~RestoreSaver() {
      test::runTool({"xset", "s", "default"});
      test::runTool({"xset", "s", "reset"});
    }
  } restoreSaver;
  ASSERT_TRUE(test::runTool({"xset", "s", "reset"}));
  usleep(2500000);
  ASSERT_EQ(test::screenSaverState(), test::ScreenSaverState::On)
      << "the server's screen saver does not start: nothing to test against";

  ASSERT_TRUE(test::runTool({"xset", "s", "reset"}));
  std::string title = uniqueTitle("saver");
  OpenedDisplay opened;
  ASSERT_TRUE(openDisplay(opened.display, 320, 240, title.c_str()));
  presentFor(opened.display, 2.5);  // presents are no input: only the switch keeps it off
  EXPECT_EQ(test::screenSaverState(), test::ScreenSaverState::Off) << "started while open";

  closeDisplay(opened.display);
  ASSERT_TRUE(test::runTool({"xset", "s", "reset"}));
  usleep(2500000);
  EXPECT_EQ(test::screenSaverState(), test::ScreenSaverState::On) << "still off after the close";
  std::string settings;
  ASSERT_TRUE(test::runTool({"xset", "q"}, 10.0, &settings));
  EXPECT_NE(settings.find("timeout:  1    cycle:  1"), std::string::npos)
      << "the user's setting was changed:\n" << settings;
}

// Full-screen modes: Xvfb has only its screen size until one is added.
struct ScreenMode {
  std::string name;
  std::string output;
  bool added = false;
  ScreenMode(int width, int height) {
    name = "drec-test-" + std::to_string(width) + "x" + std::to_string(height);
    std::string listing;
    if (!test::runTool({"xrandr"}, 10.0, &listing)) return;
    size_t connected = listing.find(" connected");
    if (connected == std::string::npos) return;
    size_t lineStart = listing.rfind('\n', connected);
    lineStart = lineStart == std::string::npos ? 0 : lineStart + 1;
    output = listing.substr(lineStart, connected - lineStart);
    // Timings do not matter to Xvfb; they only have to be consistent.
    std::string w = std::to_string(width), h = std::to_string(height);
    test::runTool({"xrandr", "--newmode", name, "25.175", w, std::to_string(width + 16),
                   std::to_string(width + 112), std::to_string(width + 160), h,
                   std::to_string(height + 10), std::to_string(height + 12),
                   std::to_string(height + 45)});
    test::runTool({"xrandr", "--addmode", output, name});
    std::string after;
    added = test::runTool({"xrandr"}, 10.0, &after) && after.find(name) != std::string::npos;
  }
  ~ScreenMode() {
    if (output.empty()) return;
    test::runTool({"xrandr", "--delmode", output, name});
    test::runTool({"xrandr", "--rmmode", name});
  }
};

bool screenIs(int width, int height) {
  int w = 0, h = 0;
  return test::screenSize(w, h) && w == width && h == height;
}

bool areaIs(XWindowId window, int x, int y, int width, int height) {
  ClientArea area{};
  return test::clientArea(window, area) && area.x == x && area.y == y && area.width == width &&
         area.height == height;
}

unsigned shownAtCentre(Display& display, XWindowId window, float red, float green, float blue) {
  glClearColor(red, green, blue, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  presentDisplay(display);
  unsigned rgb = 0x123456;
  test::windowPixel(window, display.width / 2, display.height / 2, rgb);
  return rgb;
}

TEST(DisplayFullScreen, FallbackWhenTheWindowCannotBeMade) {
  DREC_REQUIRE_DISPLAY();
  int screenWidth = 0, screenHeight = 0;
  ASSERT_TRUE(test::screenSize(screenWidth, screenHeight));
  DisplayOpenOptions failWindowed;
  failWindowed.failWindowed = true;

  {
    // The screen's own size: full screen without a mode change.
    std::string title = uniqueTitle("fallback");
    OpenedDisplay opened;
    ASSERT_TRUE(openDisplayWith(opened.display, screenWidth, screenHeight, title.c_str(), failWindowed));
    EXPECT_TRUE(displayFullScreen(opened.display));
    XWindowId window = test::waitForWindowByTitle(title, 10.0);
    ASSERT_NE(window, 0u);
    EXPECT_TRUE(presentUntil(
        opened.display, [&] { return areaIs(window, 0, 0, screenWidth, screenHeight); }, 5.0));
    EXPECT_EQ(shownAtCentre(opened.display, window, 0.0f, 1.0f, 0.0f), 0x00FF00u);
    closeDisplay(opened.display);
    EXPECT_FALSE(test::windowWithTitleExists(title));
  }
  {
    // A size the screen has a mode for: the mode changes, and comes back on close.
    ScreenMode mode(640, 480);
    ASSERT_TRUE(mode.added) << "xrandr could not add a 640x480 mode";
    std::string title = uniqueTitle("fallback-mode");
    OpenedDisplay opened;
    ASSERT_TRUE(openDisplayWith(opened.display, 640, 480, title.c_str(), failWindowed));
    EXPECT_TRUE(displayFullScreen(opened.display));
    EXPECT_TRUE(screenIs(640, 480));
    XWindowId window = test::waitForWindowByTitle(title, 10.0);
    ASSERT_NE(window, 0u);
    EXPECT_TRUE(presentUntil(opened.display, [&] { return areaIs(window, 0, 0, 640, 480); }, 5.0));
    EXPECT_EQ(shownAtCentre(opened.display, window, 1.0f, 0.0f, 0.0f), 0xFF0000u);
    closeDisplay(opened.display);
    EXPECT_TRUE(screenIs(screenWidth, screenHeight)) << "the display mode was not restored";
  }
  {
    // No mode of that size: both set-ups fail and nothing is left behind.
    std::string title = uniqueTitle("fallback-none");
    OpenedDisplay opened;
    EXPECT_FALSE(openDisplayWith(opened.display, 700, 500, title.c_str(), failWindowed));
    EXPECT_EQ(opened.display.window, nullptr);
    EXPECT_FALSE(test::windowWithTitleExists(title));
    EXPECT_TRUE(screenIs(screenWidth, screenHeight));
    presentDisplay(opened.display);  // a failed open behaves as no display
  }
}

TEST(DisplayFullScreen, AltEnterSwitchesToFullScreenAndBack) {
  DREC_REQUIRE_DISPLAY();
  int screenWidth = 0, screenHeight = 0;
  ASSERT_TRUE(test::screenSize(screenWidth, screenHeight));
  ScreenMode mode(640, 480);
  ASSERT_TRUE(mode.added) << "xrandr could not add a 640x480 mode";
  WindowManager manager;
  ASSERT_TRUE(manager.running) << "openbox did not start";

  std::string title = uniqueTitle("switch");
  OpenedDisplay opened;
  Display& display = opened.display;
  ASSERT_TRUE(openDisplay(display, 640, 480, title.c_str()));
  XWindowId window = test::waitForWindowByTitle(title, 10.0);
  ASSERT_NE(window, 0u);
  // Shown and brought to the foreground: the window manager gives it the focus.
  EXPECT_TRUE(presentUntil(display, [&] { return test::focusedWindow() == window; }, 5.0));
  presentFor(display, 0.3);  // let the window manager frame and place it
  test::focusWindow(window);
  presentFor(display, 0.2);
  ClientArea before{};
  ASSERT_TRUE(test::clientArea(window, before));
  EXPECT_EQ(before.width, 640);
  EXPECT_EQ(before.height, 480);
  EXPECT_GT(before.y, 0) << "no title bar above the client area";
  EXPECT_FALSE(displayFullScreen(display));

  // State set before the switch must still be there after it.
  glClearColor(0.2f, 0.4f, 0.6f, 1.0f);
  ASSERT_TRUE(xdotoolWhilePresenting(display, {"key", "alt+Return"}));
  EXPECT_TRUE(presentUntil(display, [&] {
    return displayFullScreen(display) && screenIs(640, 480) && areaIs(window, 0, 0, 640, 480);
  }, 5.0)) << "not full screen at 640x480";
  GLfloat clearColour[4] = {0, 0, 0, 0};
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clearColour);
  EXPECT_FLOAT_EQ(clearColour[1], 0.4f) << "the context's state was lost";
  glClear(GL_COLOR_BUFFER_BIT);
  presentDisplay(display);
  unsigned rgb = 0;
  ASSERT_TRUE(test::windowPixel(window, 320, 240, rgb));
  EXPECT_EQ(rgb, 0x336699u);

  ASSERT_TRUE(xdotoolWhilePresenting(display, {"key", "alt+Return"}));
  EXPECT_TRUE(presentUntil(display, [&] {
    return !displayFullScreen(display) && screenIs(screenWidth, screenHeight) &&
           areaIs(window, before.x, before.y, 640, 480);
  }, 5.0)) << "not back in the window where it was";
  EXPECT_EQ(shownAtCentre(display, window, 1.0f, 1.0f, 0.0f), 0xFFFF00u) << "drawing stopped";
  EXPECT_TRUE(takeAllKeys(display).empty()) << "Alt+Enter typed something";

  // Full screen again, then the program ends: the desktop's mode comes back.
  ASSERT_TRUE(xdotoolWhilePresenting(display, {"key", "alt+Return"}));
  EXPECT_TRUE(presentUntil(display, [&] { return displayFullScreen(display) && screenIs(640, 480); }, 5.0));
  closeDisplay(display);
  EXPECT_TRUE(screenIs(screenWidth, screenHeight)) << "the display mode was not restored";
}

TEST(DisplayFullScreen, WithoutAModeTheWindowStaysAsItWas) {
  DREC_REQUIRE_DISPLAY();
  WindowManager manager;
  ASSERT_TRUE(manager.running) << "openbox did not start";
  int screenWidth = 0, screenHeight = 0;
  ASSERT_TRUE(test::screenSize(screenWidth, screenHeight));
  std::string title = uniqueTitle("no-mode");
  OpenedDisplay opened;
  ASSERT_TRUE(openDisplay(opened.display, 700, 500, title.c_str()));
  XWindowId window = test::waitForWindowByTitle(title, 10.0);
  ASSERT_NE(window, 0u);
  presentFor(opened.display, 0.5);
  test::focusWindow(window);
  presentFor(opened.display, 0.2);
  ClientArea before{};
  ASSERT_TRUE(test::clientArea(window, before));
  ASSERT_TRUE(xdotoolWhilePresenting(opened.display, {"key", "alt+Return"}));
  presentFor(opened.display, 0.5);
  EXPECT_FALSE(displayFullScreen(opened.display));
  EXPECT_TRUE(areaIs(window, before.x, before.y, 700, 500));
  EXPECT_TRUE(screenIs(screenWidth, screenHeight));
}

TEST(DisplayFullScreen, MaximisedByTheWindowManagerSwitchesToFullScreen) {
  DREC_REQUIRE_DISPLAY();
  // Openbox offers no maximise for a window of fixed size, so the test plays
  // a window manager that does: it marks the window maximised, as one does
  // after the maximise button. With no window manager running the window is
  // not moved, so only the flag and the screen's mode are checked.
  ASSERT_FALSE(test::windowManagerRunning()) << "needs a server without a window manager";
  ScreenMode mode(640, 480);
  ASSERT_TRUE(mode.added) << "xrandr could not add a 640x480 mode";
  int screenWidth = 0, screenHeight = 0;
  ASSERT_TRUE(test::screenSize(screenWidth, screenHeight));
  std::string title = uniqueTitle("maximise");
  OpenedDisplay opened;
  XWindowId window = openFocused(opened, 640, 480, title);
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(test::markMaximised(window));
  EXPECT_TRUE(presentUntil(opened.display, [&] {
    return displayFullScreen(opened.display) && screenIs(640, 480);
  }, 5.0)) << "the maximised window did not switch to full screen";
  EXPECT_TRUE(takeAllKeys(opened.display).empty());
  closeDisplay(opened.display);
  EXPECT_TRUE(screenIs(screenWidth, screenHeight)) << "the display mode was not restored";
}

TEST(DisplayWithout, NoServerMeansNoWindowAndNoKeys) {
  // Runs with or without a server: the display variables are taken away.
  const char* saved = std::getenv("DISPLAY");
  std::string savedDisplay = saved ? saved : "";
  const char* savedWayland = std::getenv("WAYLAND_DISPLAY");
  std::string savedWaylandDisplay = savedWayland ? savedWayland : "";
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  Display display{};
  bool opened = openDisplay(display, 640, 480, "no-display");
  presentDisplay(display);  // does nothing, and must not crash
  bool escape = keyHeld(display, kScanCodeEscape);
  bool enter = keyHeld(display, 28);
  KeyEntry key = nextKey(display);
  closeDisplay(display);
  if (saved) setenv("DISPLAY", savedDisplay.c_str(), 1);
  if (savedWayland) setenv("WAYLAND_DISPLAY", savedWaylandDisplay.c_str(), 1);
  EXPECT_FALSE(opened);
  EXPECT_EQ(display.window, nullptr);
  // Standard input under CTest is no terminal with keys waiting.
  if (!isatty(STDIN_FILENO)) {
    EXPECT_FALSE(escape);
    EXPECT_EQ(key.length, 0);
  }
  EXPECT_FALSE(enter);
}

}  // namespace
}  // namespace drec
