// drec play REC: plays a recording in a window, paced as the player paces
// it, with the keys of a media player: pause, step, speed, loop, back to the
// start, a screenshot, full screen and an on-screen display.
//
// The recording is read, walked and drawn by the player's own code, into a
// framebuffer of the recorded size that holds the recorded picture exactly
// as the player's window would (every frame drawn over what the ones before
// it left). Each present shows that picture scaled to the window, with the
// on-screen display over it, never in it.
//
// Pacing keeps the player's rules (present at the mark, hold to the due
// time, drop the next frame when late, move the time base when more than
// half a second late, cut pauses of a quarter second or more) on a play
// clock in recorded seconds that runs at the chosen speed and stops while
// paused. The hold waits to the due time itself, by an absolute-deadline
// sleep rather than whole milliseconds, looking at the window's events
// along the way.
//
// The present of frame N is due when the hold of mark N - 1 ends. Scaling
// the picture to the window costs the software renderer about 2 ms, so
// while playing the hold of mark N - 1 is kept until frame N has been drawn
// and composed in the back buffer: what is left after the due time is the
// swap alone. While paused the hold happens at the mark itself, so that
// nothing is drawn beyond the frame on screen.
#include <imgui.h>

#include <limits.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include "platform/clock.hpp"
#include "platform/program.hpp"
#include "platform/spill_file.hpp"
#include "platform/view_window.hpp"
#include "player/pacer.hpp"
#include "player/playback.hpp"
#include "recording/reader.hpp"
#include "recording/stream.hpp"
#include "tools/drec/command_line.hpp"
#include "tools/drec/frame_index.hpp"
#include "tools/drec/frame_plan.hpp"
#include "tools/drec/frame_renderer.hpp"
#include "tools/drec/frame_triangles.hpp"
#include "tools/drec/frame_views.hpp"
#include "tools/drec/pixel_history.hpp"
#include "tools/drec/output.hpp"
#include "tools/drec/play_overlay.hpp"
#include "tools/drec/play_timing.hpp"
#include "tools/drec/play_views.hpp"
#include "tools/drec/png_file.hpp"
#include "tools/drec/recording_files.hpp"
#include "tools/drec/seek.hpp"
#include "tools/drec/subcommands.hpp"

namespace drec {
namespace {

const OptionSpec kPlayOptions[] = {
    {"--start", "T", "start at the first frame recorded at T seconds or later"},
    {"--start-frame", "N", "start at frame N (the frames before it are drawn unseen)"},
    {"--speed", "X", "play X times as fast, 1/16 to 16 (default 1)"},
    {"--paused", nullptr, "start paused"},
    {"--loop", nullptr, "at the end start again from frame 0"},
    {"--wait", nullptr, "at the end stay open until quit"},
    {"--scale", "N", "first window size: N times the recorded size (default 1)"},
    {"--vsync", nullptr, "a swap interval of 1 where the driver offers it"},
    {"--report", nullptr, "print a timing report on standard error at the end"},
    {"--report-csv", "FILE", "write one row per frame: frame, recorded time,\n"
                             "due time, present time, dropped"},
    {"--demo", nullptr, "play the bundled demo (also what plays without REC)"},
    {"--cache-mb", "N", "memory for pictures kept to seek back to (default 512)"},
    {"--disk-cache-mb", "N", "and disk space for more of them, in the user's cache\n"
                             "folder (default 4096; 0: none)"},
    kTexturesOption,
    kAllowMissingTexturesOption,
    kQuietOption,
};

}  // namespace

const CommandSpec kPlaySpec{
    "play", "[REC]",
    "Plays REC in a window, paced as the player paces it: each frame is shown\n"
    "at its recorded time, a late frame is dropped, a pause of 0.25 s or more is\n"
    "cut to 0.25 s. The picture is drawn by the player's own code at the\n"
    "recorded size and shown scaled to the window (resizable; black bars keep\n"
    "its aspect); the on-screen display is drawn over it, never in it.\n"
    "Given segment 0 of a numbered set (NAME.0.rec with NAME.1.rec beside it),\n"
    "the whole set is played. At the end the program ends, unless --wait,\n"
    "--loop or paused.\n"
    "Without REC, or with --demo, the bundled demo plays: the one at\n"
    "../share/drec/demo/ from the folder that holds drec when installed, or the\n"
    "one the build writes into its player/ folder in a build tree.\n"
    "\n"
    "Keys:\n"
    "  Space, p      pause and resume\n"
    "  .  ,          one frame forward, one frame back (pauses)\n"
    "  Left, Right   5 s back and forward;  Up, Down  60 s forward and back\n"
    "  End           the last frame, paused;  g  go to a frame or a time\n"
    "  [  ]          half and double speed (1/16 to 16); Backspace: speed 1\n"
    "  Home          back to frame 0;  l  loop on and off\n"
    "  s             write the picture as NAME-frame-NNNNNN.png here\n"
    "  o             on-screen display on and off;  ?, F1  the keys\n"
    "  w  d  t       the paused frame's wireframe, overdraw, texture slots\n"
    "  i             inspector: a click on the paused picture lists what\n"
    "                was drawn on that pixel (Escape closes the list)\n"
    "  f, F11        full screen (also Alt+Enter, or a double click with the\n"
    "                inspector off)\n"
    "  Escape, q     quit (Escape first closes the list of keys, then the\n"
    "                inspector's list)\n"
    "\n"
    "Exit status: 0 played, 1 damage met or texture files missing (unless\n"
    "--allow-missing-textures), 2 usage error, unreadable input or no display.\n",
    kPlayOptions, sizeof kPlayOptions / sizeof kPlayOptions[0], 0, 1};

namespace {

constexpr double kOsdSeconds = 2.0;     // the display shows this long after a key
constexpr double kEventLookSeconds = 0.02;  // events are looked at this often while holding a frame
constexpr int64_t kIndexSlice = 16;              // frames indexed at a time between events, paused
constexpr double kIndexSpareSeconds = 0.002;      // left of a hold after indexing a frame while playing
constexpr double kKeyFrameSeconds = 1.0;          // a key frame at most this often while playing
constexpr double kKeyFrameSpareSeconds = 0.010;   // ... while at least this is left of a hold
constexpr double kDrawAheadSliceSeconds = 0.004;  // drawing ahead while paused, between events
constexpr double kPausedWaitSeconds = 1.0;

// What the reading pass before playing finds.
struct PlayCensus : ReadHooks {
  int64_t frames;
  float lastTime;     // the last finite time stamp
  double startTime;   // --start
  int64_t startFrame; // the first frame recorded at startTime or later; -1: none
  void triangle(const uint8_t*) {}
  RecordAction frameMark(float time) {
    if (std::isfinite(time)) lastTime = time;
    if (startFrame < 0 && static_cast<double>(time) >= startTime) startFrame = frames;
    ++frames;
    return RecordAction::Continue;
  }
};

// A seek asked for by a key: to a frame, to the first frame at or after a
// time on the paced clock, or at or after a recorded time (as --start).
struct SeekAsk {
  enum class By : uint8_t { Frame, PacedTime, RecordedTime };
  bool asked;
  By by;
  double value;
  bool pause;  // paused there (End, one frame back)
};

// The views of the paused frame (w, d, t, i): what they show and what they
// are made from, worked out again when the frame on screen changes.
struct PausedViews {
  bool wireframe;
  bool overdraw;
  bool textureSlots;
  bool inspector;
  // The frame's triangles, read with a reader on a stream of their own.
  RecordReader reader;
  std::vector<FrameTriangle> triangles;
  int64_t trianglesFrame;  // the frame they are of; -1: none
  int64_t slotTriangles[kTextureSlotCount + 1];
  // Overdraw, counted on the CPU and shown as a texture of the picture's size.
  const CoverageSetup* coverage;
  bool exactCoverage;  // the GL's rounding was found at start-up; otherwise counts may be off at edges
  OverdrawMap overdrawMap;
  std::vector<uint8_t> overdrawRgba;
  GLuint overdrawTexture;  // 0: not made yet
  int64_t overdrawFrame;   // -1: none counted
  std::vector<TextureSlotRow> slotRows;
  // The inspector's pixel, and its history in the frame on screen, found
  // by the seeker as a seek to that frame (the walk stops for it).
  bool picked;
  int pickX;  // in the picture, from its top-left corner
  int pickY;
  PixelHistory history;  // history.frame: the frame it is of; -1: none yet
};

struct PlayRun {
  OpenedRecording* recording;
  FrameRenderer* renderer;
  ViewWindow* window;
  GLuint framebuffer;
  std::string pictureName;  // NAME of NAME-frame-NNNNNN.png

  int64_t frames;  // in the recording
  double duration;
  int64_t startFrame;  // this run's frames before it are drawn unseen
  bool loop;
  bool waitAtEnd;

  PlayClock clock;
  FramePacer pacer;
  TimingReport report;
  double wallStart;     // the report's times count from here
  double lastDueWall;   // when the present of the next frame is due
  bool breakPending;    // the next row follows a pause, a step or a speed change
  bool holdPending;     // the hold of the last mark waits for the next frame's drawing
  double heldTimeStamp;  // that mark's time stamp
  bool composedWaiting;  // the back buffer holds the next frame, not yet swapped
  double lastSwap;       // when the last swap returned
  // The back buffer keeps its pixels across swaps on this driver; while it
  // holds the picture as last composed, with nothing over it, a compose at a
  // whole-number scale draws again only the pixels changed since.
  bool backBufferKept;
  bool backBufferCurrent;
  PixelRegion changed;    // of the recorded picture, since the last compose
  OverlayDrawn overlayDrawn;  // window pixels the last compose's overlay covers

  int64_t frame;  // frame marks met in this run
  int64_t shownFrame;  // the frame the recorded picture holds (-1: the cleared screen)
  double shownTime;
  bool ended;

  bool quit;
  bool restart;
  bool step;
  bool showKeys;
  bool osdPinned;
  double osdUntil;
  std::string message;
  double messageUntil;
  bool damaged;

  // Seeking. The index is built between frames; a seek is asked for by a
  // key and done between readings (the walk stops for it).
  FrameIndex* index;
  Seeker* seeker;
  bool exact;  // the picture is drawn exactly (no frame dropped since the last exact state)
  SeekAsk seek;
  double lastKeyFrame;   // wall clock of the last key frame taken while playing
  double indexFrameSeconds;  // what indexing a frame takes of late, to fit it into a hold
  bool prompting;        // "go to": the text typed so far is in promptText
  std::string promptText;
  std::vector<int64_t> droppedFrames;  // in this playback, for the timeline
  bool diskProblemTold;
  // While paused, the frames after the one on screen are drawn ahead, for
  // key frames, until the budget is full.
  DrawAhead* ahead;
  int64_t aheadFrom;  // the frame it was aimed from (-1: none)
  bool aheadDone;
  PausedViews* views;
};

bool playing(const PlayRun& run) { return !run.quit && !run.restart && !run.seek.asked; }

void askSeek(PlayRun& run, SeekAsk::By by, double value, bool pause) {
  run.seek = SeekAsk{true, by, value, pause};
}

// Seconds on the paced clock from the frame on screen.
void askSeekBy(PlayRun& run, double seconds) {
  const FrameIndex& index = *run.index;
  const size_t shown = static_cast<size_t>(std::max<int64_t>(run.shownFrame, 0));
  if (shown >= index.frames.size()) return;
  askSeek(run, SeekAsk::By::PacedTime, std::max(0.0, index.frames[shown].pacedTime + seconds),
          false);
}

// "600" (a frame), "12.5s" or "1:02.5" (a recorded time). False when it is
// neither.
bool parseGoTo(const std::string& text, SeekAsk& seek) {
  if (text.empty()) return false;
  const size_t colon = text.find(':');
  const bool seconds = colon != std::string::npos || text.back() == 's';
  if (!seconds) {
    int64_t frame = 0;
    if (!parseInteger(text.c_str(), frame) || frame < 0) return false;
    seek = SeekAsk{true, SeekAsk::By::Frame, static_cast<double>(frame), false};
    return true;
  }
  std::string rest = text.back() == 's' ? text.substr(0, text.size() - 1) : text;
  double minutes = 0;
  if (colon != std::string::npos) {
    int64_t whole = 0;
    if (!parseInteger(rest.substr(0, colon).c_str(), whole) || whole < 0) return false;
    minutes = static_cast<double>(whole);
    rest = rest.substr(colon + 1);
  }
  char* end = nullptr;
  const double value = std::strtod(rest.c_str(), &end);
  if (rest.empty() || *end != '\0' || !std::isfinite(value) || value < 0) return false;
  seek = SeekAsk{true, SeekAsk::By::RecordedTime, minutes * 60.0 + value, false};
  return true;
}

void showPrompt(PlayRun& run) {
  run.message = "go to frame or time: " + run.promptText + "_";
  run.messageUntil = run.prompting ? INFINITY : 0;
}

// While "go to" is open, keys edit its text: Enter goes, Escape cancels.
void promptKey(PlayRun& run, const ViewEvent& event) {
  if (event.key == ViewKey::Escape) {
    run.prompting = false;
  } else if (event.key == ViewKey::Enter) {
    run.prompting = false;
    SeekAsk seek{};
    if (parseGoTo(run.promptText, seek)) {
      run.seek = seek;
    } else {
      run.message = "not a frame or a time: " + run.promptText;
      run.messageUntil = clockSeconds() + kOsdSeconds;
      return;
    }
  } else if (event.key == ViewKey::Backspace) {
    if (!run.promptText.empty()) run.promptText.pop_back();
  } else if (event.key == ViewKey::Character && !event.alt && run.promptText.size() < 24 &&
             std::strchr("0123456789.:s", event.character)) {
    run.promptText += event.character;
  }
  showPrompt(run);
}

// The picture name: the recording's file name without ".rec" and "%i".
std::string pictureNameOf(const std::string& segmentTemplate) {
  std::string name = segmentTemplate.substr(segmentTemplate.rfind('/') + 1);
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".rec") == 0) name.resize(name.size() - 4);
  const size_t marker = name.find("%i");
  if (marker != std::string::npos) {
    name.erase(marker, 2);
    if (marker > 0 && marker == name.size() && name[marker - 1] == '.') name.pop_back();
  }
  return name.empty() ? "recording" : name;
}

// The recorded picture, scaled to fit the window with its aspect kept:
// nearest neighbour at whole-number scales, linear otherwise. Scaling is
// most of a frame's cost on the software renderer (about 2 ms at 640 x 480),
// so where the back buffer still holds the last composed picture only the
// changed pixels are scaled again.
void drawScaledPicture(PlayRun& run) {
  const GlApi& gl = run.renderer->gl;
  int windowWidth = 0, windowHeight = 0;
  viewDrawableSize(*run.window, windowWidth, windowHeight);
  const int width = run.renderer->width;
  const int height = run.renderer->height;
  const PicturePlacement placement = placePicture(windowWidth, windowHeight, width, height);
  const int shownWidth = placement.width;
  const int shownHeight = placement.height;
  const int left = placement.left;
  const int bottom = placement.bottom;
  const bool whole = placement.whole;
  gl.BindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
  gl.BindFramebuffer(GL_READ_FRAMEBUFFER, run.framebuffer);
  const int times = static_cast<int>(placement.scale);
  // Boxes count rows up from the picture's bottom, as the GL does; a target
  // stored top row first is read upside down, which the blit turns round.
  const bool flip = run.seeker->target.rowsTopFirst;
  auto sourceRow = [&](int row) { return flip ? height - row : row; };
  bool partial = run.backBufferCurrent && whole;
  PixelRegion& region = run.changed;
  // The picture goes back under the last overlay's panels too; where one
  // lay over the bars, all is drawn again.
  for (int i = 0; partial && i < run.overlayDrawn.count; ++i) {
    const ViewRect& rect = run.overlayDrawn.rects[i];
    const int x0 = std::max(rect.x0, 0), y0 = std::max(rect.y0, 0);
    const int x1 = std::min(rect.x1, windowWidth), y1 = std::min(rect.y1, windowHeight);
    if (x0 < left || y0 < bottom || x1 > left + shownWidth || y1 > bottom + shownHeight) {
      partial = false;
    } else {
      addToRegion(region, PixelBox{(x0 - left) / times, (y0 - bottom) / times,
                                   (x1 - left + times - 1) / times, (y1 - bottom + times - 1) / times});
    }
  }
  // Boxes may overlap: past half the picture, one blit of it all is cheaper.
  int64_t changedArea = 0;
  for (int i = 0; i < region.count; ++i) {
    const PixelBox& box = region.boxes[i];
    changedArea += static_cast<int64_t>(box.x1 - box.x0) * (box.y1 - box.y0);
  }
  if (changedArea * 2 > static_cast<int64_t>(width) * height) partial = false;
  if (partial) {
    // The same pixels as the whole blit gives there: whole-number scales
    // map every picture pixel onto its own square of window pixels.
    for (int i = 0; i < region.count; ++i) {
      const PixelBox& box = region.boxes[i];
      gl.BlitFramebuffer(box.x0, sourceRow(box.y0), box.x1, sourceRow(box.y1), left + box.x0 * times,
                         bottom + box.y0 * times, left + box.x1 * times, bottom + box.y1 * times,
                         GL_COLOR_BUFFER_BIT, GL_NEAREST);
    }
  } else {
    // The bars: black, the recorded clear colour; none when the picture fills the window.
    if (shownWidth != windowWidth || shownHeight != windowHeight) gl.Clear(GL_COLOR_BUFFER_BIT);
    gl.BlitFramebuffer(0, sourceRow(0), width, sourceRow(height), left, bottom, left + shownWidth,
                       bottom + shownHeight,
                       GL_COLOR_BUFFER_BIT, whole ? GL_NEAREST : GL_LINEAR);
  }
  region.count = 0;
  gl.BindFramebuffer(GL_FRAMEBUFFER, 0);
}

bool osdShown(const PlayRun& run, double now) { return run.osdPinned || now < run.osdUntil; }

// The views show while paused, over a frame on screen.
bool viewsShown(const PlayRun& run) {
  const PausedViews& views = *run.views;
  return run.clock.paused && run.shownFrame >= 0 &&
         (views.wireframe || views.overdraw || views.textureSlots || views.inspector);
}

// A picked pixel's history is of the frame on screen; for another it is
// found again, by a seek to the frame on screen.
bool historyDue(const PlayRun& run) {
  const PausedViews& views = *run.views;
  return views.inspector && views.picked && run.clock.paused && run.shownFrame >= 0 &&
         views.history.frame != run.shownFrame;
}

void askHistory(PlayRun& run) {
  if (historyDue(run) && !run.seek.asked)
    askSeek(run, SeekAsk::By::Frame, static_cast<double>(run.shownFrame), true);
}

// A click with the inspector on picks the picture pixel under it.
void pickPixel(PlayRun& run, const ViewEvent& event) {
  PausedViews& views = *run.views;
  int windowWidth = 0, windowHeight = 0;
  viewDrawableSize(*run.window, windowWidth, windowHeight);
  const int width = run.renderer->width, height = run.renderer->height;
  // Events count in the window's points, the picture's placement in pixels.
  const ImVec2 scale = ImGui::GetIO().DisplayFramebufferScale;
  const int windowX = static_cast<int>(static_cast<float>(event.x) * scale.x);
  const int windowY = static_cast<int>(static_cast<float>(event.y) * scale.y);
  int x = 0, y = 0;
  if (!picturePixelAt(placePicture(windowWidth, windowHeight, width, height), width, height, windowX, windowY, x,
                      y))
    return;
  views.picked = true;
  views.pickX = x;
  views.pickY = y;
  views.history.frame = -1;
  askHistory(run);
}

// The frame's triangles, once the index has reached it; false until then.
bool readViewTriangles(PlayRun& run) {
  PausedViews& views = *run.views;
  const int64_t frame = run.shownFrame;
  if (views.trianglesFrame == frame) return true;
  if (frame < 0 || frame >= static_cast<int64_t>(run.index->frames.size())) return false;
  if (!readFrameTriangles(views.reader, *run.index, run.renderer->triangles, frame, views.triangles)) {
    views.triangles.clear();
    return false;
  }
  views.trianglesFrame = frame;
  std::fill(std::begin(views.slotTriangles), std::end(views.slotTriangles), 0);
  for (const FrameTriangle& triangle : views.triangles) ++views.slotTriangles[triangle.slot];
  views.overdrawFrame = -1;
  return true;
}

// The overdraw of the frame's triangles into the map's texture. The texture
// bound for the recorded drawing is bound again after.
void updateOverdraw(PlayRun& run) {
  PausedViews& views = *run.views;
  if (views.overdrawFrame == views.trianglesFrame) return;
  clearOverdraw(views.overdrawMap);
  for (const FrameTriangle& triangle : views.triangles)
    addToOverdraw(views.overdrawMap, *views.coverage, triangle.bytes);
  overdrawPixels(views.overdrawMap, views.overdrawRgba.data());
  const GlApi& gl = run.renderer->gl;
  GLint bound = 0;
  gl.GetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  const bool first = views.overdrawTexture == 0;
  if (first) gl.GenTextures(1, &views.overdrawTexture);
  gl.BindTexture(GL_TEXTURE_2D, views.overdrawTexture);
  if (first) {
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, views.overdrawMap.width, views.overdrawMap.height, 0, GL_RGBA,
                  GL_UNSIGNED_BYTE, nullptr);
  }
  gl.TexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, views.overdrawMap.width, views.overdrawMap.height, GL_RGBA,
                   GL_UNSIGNED_BYTE, views.overdrawRgba.data());
  gl.BindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
  views.overdrawFrame = views.trianglesFrame;
}

// The views' part of an overlay frame. True when it should be built again
// (a panel appeared, and settles its size in the next).
bool buildViews(PlayRun& run, int windowWidth, int windowHeight) {
  PausedViews& views = *run.views;
  if (!viewsShown(run)) return false;
  const bool haveTriangles = readViewTriangles(run);
  if (haveTriangles && views.overdraw) updateOverdraw(run);
  FrameViewsShown shown{};
  shown.pictureWidth = run.renderer->width;
  shown.pictureHeight = run.renderer->height;
  shown.placement = placePicture(windowWidth, windowHeight, shown.pictureWidth, shown.pictureHeight);
  shown.frame = run.shownFrame;
  shown.triangles = haveTriangles ? &views.triangles : nullptr;
  shown.wireframe = views.wireframe;
  shown.overdraw = views.overdraw && haveTriangles;
  shown.overdrawMap = &views.overdrawMap;
  shown.overdrawTexture = views.overdrawTexture;
  shown.overdrawExact = views.exactCoverage;
  shown.textureSlots = views.textureSlots;
  shown.slotRows = &views.slotRows;
  shown.texturesFolder = run.recording->texturesDirectory.c_str();
  shown.slotTriangles = haveTriangles ? views.slotTriangles : nullptr;
  shown.inspector = views.inspector;
  shown.history = views.picked && views.history.frame == run.shownFrame ? &views.history : nullptr;
  shown.keys = run.recording->header.keys;
  return buildFrameViews(shown).appearing;
}

// Draws the picture with the overlay into the window's back buffer; the
// recorded drawing goes on into its framebuffer afterwards.
void composePicture(PlayRun& run) {
  const double now = clockSeconds();
  drawScaledPicture(run);
  OverlayView view{};
  view.showState = osdShown(run, now);
  view.showKeys = run.showKeys;
  view.message = now < run.messageUntil ? run.message.c_str() : nullptr;
  // Nothing to show: the overlay's pass (a tenth of a millisecond or two on
  // the software renderer) is left out.
  run.backBufferCurrent = run.backBufferKept;
  run.overlayDrawn = OverlayDrawn{};
  if (!view.showState && !view.showKeys && !view.message && !viewsShown(run)) {
    run.renderer->gl.BindFramebuffer(GL_FRAMEBUFFER, run.framebuffer);
    return;
  }
  beginOverlayFrame(*run.window);
  const std::string speed = speedText(run.clock.speed);
  view.frame = run.shownFrame;
  view.frames = run.frames;
  view.time = run.shownTime;
  view.duration = run.duration;
  view.speed = speed.c_str();
  view.paused = run.clock.paused;
  view.looping = run.loop;
  view.ended = run.ended;
  view.dropped = run.report.dropped;
  view.pausesCut = run.report.pausesCut;
  view.index = run.index;
  view.droppedFrames = &run.droppedFrames;
  view.keys = &run.seeker->keys;
  int windowWidth = 0, windowHeight = 0;
  viewDrawableSize(*run.window, windowWidth, windowHeight);
  OverlayInput input = buildPlayOverlay(view);
  // A panel that appears (the key list, a message, a view) takes its size
  // in its first frame and shows from the next: that one is built again at once.
  const bool viewAppeared = buildViews(run, windowWidth, windowHeight);
  if (viewAppeared || overlayPanelsPending(*run.window)) {
    endOverlayFrameUnseen(*run.window);
    beginOverlayFrame(*run.window);
    const OverlayInput second = buildPlayOverlay(view);
    if (second.seekFrame >= 0) input = second;
    buildViews(run, windowWidth, windowHeight);
  }
  // The timeline held: the picture follows the pointer, frame by frame as
  // fast as they can be drawn.
  if (input.seekFrame >= 0 && input.seekFrame != run.shownFrame && !run.seek.asked)
    askSeek(run, SeekAsk::By::Frame, static_cast<double>(input.seekFrame), false);
  run.overlayDrawn = renderOverlayFrame(*run.window);
  run.renderer->gl.BindFramebuffer(GL_FRAMEBUFFER, run.framebuffer);
}

void swapComposed(PlayRun& run) {
  swapViewWindow(*run.window);
  run.renderer->gl.BindFramebuffer(GL_FRAMEBUFFER, run.framebuffer);
  run.composedWaiting = false;
  run.lastSwap = clockSeconds();
}

// Shows the picture as it is now, at once.
void showPicture(PlayRun& run) {
  composePicture(run);
  swapComposed(run);
}

// A redraw asked for by a key, the window or a timer: while the next frame
// waits for its due time it is composed again, otherwise shown at once.
void redrawPicture(PlayRun& run) {
  if (run.composedWaiting)
    composePicture(run);
  else
    showPicture(run);
}

void writeScreenshot(PlayRun& run) {
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "-frame-%06" PRId64 ".png", std::max<int64_t>(run.shownFrame, 0));
  const std::string path = run.pictureName + suffix;
  std::vector<uint8_t> rgb(rgbFrameBytes(*run.renderer));
  readFramePixels(*run.renderer, rgb.data(), run.seeker->target.rowsTopFirst);
  std::string error;
  if (writeWholePngFile(path, run.renderer->width, run.renderer->height, rgb.data(), error)) {
    run.message = "wrote " + path;
    if (!run.recording->quiet) printError("play: wrote '" + path + "'");
  } else {
    run.message = "cannot write " + path + ": " + error;
    printError("play: cannot write '" + path + "': " + error);
  }
  run.messageUntil = clockSeconds() + kOsdSeconds;
}

void togglePause(PlayRun& run) {
  setPlayPaused(run.clock, clockSeconds(), !run.clock.paused);
  run.breakPending = true;
  // After drops the picture is not the frame's own: a paused frame is made
  // exact by a seek to it.
  if (run.clock.paused && !run.exact && run.shownFrame >= 0)
    askSeek(run, SeekAsk::By::Frame, static_cast<double>(run.shownFrame), true);
}

void changeSpeed(PlayRun& run, double speed) {
  setPlaySpeed(run.clock, clockSeconds(), speed);
  run.breakPending = true;
}

// A view's key: while playing it pauses and shows the view; while paused it
// shows or hides it.
void toggleView(PlayRun& run, bool& shown) {
  if (!run.clock.paused) {
    togglePause(run);
    shown = true;
  } else {
    shown = !shown;
  }
}

void toggleFullScreen(PlayRun& run) {
  setViewFullScreen(*run.window, !viewFullScreen(*run.window));
  run.backBufferCurrent = false;
}

// One key or window event. Returns true when the picture should be shown
// again (while paused or at the end nothing else would show it).
bool handleEvent(PlayRun& run, const ViewEvent& event) {
  const double now = clockSeconds();
  switch (event.kind) {
    case ViewEvent::Kind::Close:
      run.quit = true;
      return false;
    case ViewEvent::Kind::Click:
      if (run.views->inspector && run.clock.paused && run.shownFrame >= 0 && !event.overlayWantsMouse)
        pickPixel(run, event);
      return osdShown(run, now) || viewsShown(run);
    case ViewEvent::Kind::DoubleClick:
      // With the inspector on, each click picks a pixel.
      if (!event.overlayWantsMouse && !run.views->inspector) toggleFullScreen(run);
      return true;
    case ViewEvent::Kind::Resized:
      // The driver may have made a new back buffer. A frame composed in the
      // moment before this event came shows only its changes over it; this
      // redraw puts the whole picture back.
      run.backBufferCurrent = false;
      return true;
    case ViewEvent::Kind::Key:
      break;
    default:
      // The pointer moved: the timeline or a view's panel may need drawing.
      return osdShown(run, now) || viewsShown(run);
  }
  run.osdUntil = now + kOsdSeconds;
  if (run.prompting) {
    promptKey(run, event);
    return true;
  }
  switch (event.key) {
    case ViewKey::Left:
      askSeekBy(run, -5.0);
      return true;
    case ViewKey::Right:
      askSeekBy(run, 5.0);
      return true;
    case ViewKey::Down:
      askSeekBy(run, -60.0);
      return true;
    case ViewKey::Up:
      askSeekBy(run, 60.0);
      return true;
    case ViewKey::End:
      askSeek(run, SeekAsk::By::Frame, static_cast<double>(INT64_MAX), true);
      return true;
    case ViewKey::Escape:
      if (run.showKeys)
        run.showKeys = false;
      else if (run.views->picked)
        run.views->picked = false;
      else
        run.quit = true;
      return true;
    case ViewKey::F1:
      run.showKeys = !run.showKeys;
      return true;
    case ViewKey::F11:
      toggleFullScreen(run);
      return true;
    case ViewKey::Enter:
      if (event.alt) toggleFullScreen(run);
      return true;
    case ViewKey::Backspace:
      changeSpeed(run, 1.0);
      return true;
    case ViewKey::Home:
      run.restart = true;
      return true;
    case ViewKey::Character:
      break;
    default:
      return true;
  }
  if (event.alt) return true;
  switch (event.character) {
    case 'q':
      run.quit = true;
      break;
    case ' ':
    case 'p':
      togglePause(run);
      break;
    case '.':
      if (!run.clock.paused) togglePause(run);
      // After drops, or with a pixel's history to find for the next frame, by a seek.
      if (!run.exact || (run.views->inspector && run.views->picked)) {
        askSeek(run, SeekAsk::By::Frame, static_cast<double>(run.shownFrame + 1), true);
      } else if (!run.ended) {
        run.step = true;
      }
      break;
    case ',':
      askSeek(run, SeekAsk::By::Frame, static_cast<double>(std::max<int64_t>(run.shownFrame - 1, 0)),
              true);
      break;
    case 'g':
      run.prompting = true;
      run.promptText.clear();
      showPrompt(run);
      break;
    case '[':
      changeSpeed(run, nextSpeed(run.clock.speed, false));
      break;
    case ']':
      changeSpeed(run, nextSpeed(run.clock.speed, true));
      break;
    case 'l':
      run.loop = !run.loop;
      break;
    case 's':
      writeScreenshot(run);
      break;
    case 'o':
      run.osdPinned = !run.osdPinned;
      if (!run.osdPinned) run.osdUntil = 0;
      break;
    case 'f':
      toggleFullScreen(run);
      break;
    case '?':
      run.showKeys = !run.showKeys;
      break;
    case 'w':
      toggleView(run, run.views->wireframe);
      break;
    case 'd':
      toggleView(run, run.views->overdraw);
      break;
    case 't':
      toggleView(run, run.views->textureSlots);
      break;
    case 'i':
      toggleView(run, run.views->inspector);
      if (!run.views->inspector) run.views->picked = false;
      break;
    default:
      break;
  }
  return true;
}

// Every event waiting now. True when the picture should be shown again.
bool handlePendingEvents(PlayRun& run) {
  bool redraw = false;
  ViewEvent event;
  // Keys after a seek (or a quit) wait for it: they belong to its frame.
  while (playing(run) && pollViewEvent(*run.window, event)) redraw = handleEvent(run, event) || redraw;
  return redraw;
}

// While paused or at the end: waits for events (no busy loop), showing the
// picture again when a key, the window or the display's timers ask for it.
void waitForEvents(PlayRun& run) {
  // Stepped or paused on another frame: the pixel's history follows.
  askHistory(run);
  if (!playing(run)) return;
  const double now = clockSeconds();
  double timeout = kPausedWaitSeconds;
  // Wake when the display or a message is due to disappear.
  for (double until : {run.osdPinned ? 0.0 : run.osdUntil, run.messageUntil})
    if (until > now) timeout = std::min(timeout, until - now + 0.01);
  const double timerDue = timeout;
  // While the index is not complete it grows between events, and so do the
  // key frames drawn ahead.
  const int64_t shown = run.shownFrame;
  const bool stateKnown =
      run.index->complete || shown + 1 < static_cast<int64_t>(run.index->frames.size());
  const bool drawAhead = run.clock.paused && run.exact && shown >= 0 && stateKnown &&
                         !(run.aheadDone && run.aheadFrom == shown);
  if (!run.index->complete || drawAhead) timeout = 0;
  ViewEvent event;
  bool redraw = false;
  if (waitViewEvent(*run.window, event, timeout))
    redraw = handleEvent(run, event);
  else
    redraw = timeout == timerDue;  // a timer ran out
  redraw = handlePendingEvents(run) || redraw;
  if (!run.index->complete) indexFrames(*run.index, kIndexSlice);
  if (drawAhead && playing(run) && run.clock.paused && run.shownFrame == shown) {
    if (run.aheadFrom != shown) {
      aimDrawAhead(*run.ahead, *run.seeker, shown);
      run.aheadFrom = shown;
      run.aheadDone = false;
    }
    const double until = clockSeconds() + kDrawAheadSliceSeconds;
    while (clockSeconds() < until) {
      if (!drawAheadOne(*run.ahead, *run.seeker, stateAfterFrame(*run.index, shown))) {
        run.aheadDone = run.index->complete || run.ahead->next < 0 ||
                        run.ahead->next + 1 < static_cast<int64_t>(run.index->frames.size());
        break;
      }
    }
  }
  if (redraw && playing(run)) redrawPicture(run);
}

// Work done while a frame is held, while more than a few milliseconds are
// left before `until`: the index grows, and now and then the picture on
// screen is kept as a key frame (a read-back and a compression, a few ms).
void workWhileHolding(PlayRun& run, double until) {
  FrameIndex& index = *run.index;
  double now = clockSeconds();
  // A frame at a time, while the hold has room for the spare and for a
  // frame as long as the last ones took (a frame of 1,500 triangles, with
  // its horizon, takes a millisecond or two); a slow one counts less and
  // less as quicker ones follow.
  while (!index.complete && until - now > kIndexSpareSeconds + run.indexFrameSeconds) {
    indexFrames(index, 1);
    const double after = clockSeconds();
    run.indexFrameSeconds = std::max(after - now, run.indexFrameSeconds * 0.75);
    now = after;
  }
  const bool stateKnown = index.complete || run.shownFrame + 1 < static_cast<int64_t>(index.frames.size());
  if (run.exact && run.shownFrame >= 0 && stateKnown && now - run.lastKeyFrame >= kKeyFrameSeconds &&
      until - now > kKeyFrameSpareSeconds) {
    run.lastKeyFrame = now;
    offerKeyFrame(*run.seeker, run.shownFrame, stateAfterFrame(index, run.shownFrame));
    const KeyFrameStore& keys = run.seeker->keys;
    if (!keys.diskProblem.empty() && !run.diskProblemTold) {
      run.diskProblemTold = true;
      printError("play: warning: key frames stay in memory only: the disk cache in '" +
                 run.seeker->diskFolder + "' failed: " + keys.diskProblem);
    }
  }
}

// Holds the frame on screen until `due` on the play clock, looking at the
// window's events. False when playback stops (quit or back to the start).
// A frame composed and waiting for this due time is shown at once when
// playback pauses: the pause holds it.
bool holdUntil(PlayRun& run, double due) {
  for (;;) {
    const bool redraw = handlePendingEvents(run);
    if (!playing(run)) return false;
    if (run.clock.paused && run.composedWaiting) {
      run.step = false;  // a step asked for while playing: this frame is it
      composePicture(run);  // with the display as it reads now: paused
      swapComposed(run);
      run.lastDueWall = run.lastSwap;
      return true;
    }
    if (run.clock.paused) {
      if (run.step) {
        // One frame on: this mark counts as due now, and the next is drawn.
        run.step = false;
        run.pacer.startTime -= due - playTime(run.clock, clockSeconds());
        run.pacer.skipPresent = false;
        run.lastDueWall = clockSeconds();
        run.breakPending = true;
        return true;
      }
      if (redraw) redrawPicture(run);
      waitForEvents(run);
      continue;
    }
    const double dueWall = wallTimeOf(run.clock, due);
    const double now = clockSeconds();
    if (now >= dueWall) {
      run.lastDueWall = dueWall;
      return true;
    }
    if (redraw) redrawPicture(run);
    workWhileHolding(run, dueWall);
    sleepUntilSeconds(std::min(dueWall, clockSeconds() + kEventLookSeconds));
  }
}

// The first frame the seek asks for, once the index reaches it (indexing on
// meanwhile, with its progress on the window); -1 when there is none.
int64_t seekTarget(PlayRun& run, const SeekAsk& seek) {
  FrameIndex& index = *run.index;
  auto found = [&](int64_t& frame) {
    const int64_t indexed = static_cast<int64_t>(index.frames.size());
    for (int64_t at = seek.by == SeekAsk::By::Frame ? indexed : 0; at < indexed; ++at) {
      const IndexedFrame& row = index.frames[static_cast<size_t>(at)];
      if ((seek.by == SeekAsk::By::PacedTime && row.pacedTime >= seek.value) ||
          (seek.by == SeekAsk::By::RecordedTime && static_cast<double>(row.recordedTime) >= seek.value)) {
        frame = at;
        return true;
      }
    }
    if (seek.by == SeekAsk::By::Frame && seek.value < static_cast<double>(indexed)) {
      frame = static_cast<int64_t>(seek.value);
      return true;
    }
    if (!index.complete) return false;
    // Past the end: the last frame, except for a recorded time no frame has.
    frame = seek.by == SeekAsk::By::RecordedTime ? -1 : indexed - 1;
    return true;
  };
  int64_t frame = -1;
  double nextShow = clockSeconds() + 0.1;
  while (!found(frame)) {
    indexFrames(index, 512);
    if (clockSeconds() < nextShow) continue;
    nextShow = clockSeconds() + 0.1;
    run.message = "indexing: " + counted(static_cast<int64_t>(index.frames.size()), "frame") + " of " +
                  std::to_string(run.frames);
    run.messageUntil = clockSeconds() + 0.5;
    handlePendingEvents(run);
    if (run.quit) return -1;
    showPicture(run);
  }
  return frame;
}

// Draws the frame the seek asks for and shows it at once; playback goes on
// from it, as if it had just been presented at its mark.
void performSeek(PlayRun& run) {
  const SeekAsk seek = run.seek;
  run.seek.asked = false;
  const int64_t target = seekTarget(run, seek);
  if (target < 0) {
    if (!run.quit) {
      run.message = "no frame at or after that time";
      run.messageUntil = clockSeconds() + kOsdSeconds;
    }
    return;
  }
  // With a pixel picked, the history is found on the way: it leaves the
  // seeker as the seek to the frame would.
  PausedViews& views = *run.views;
  const bool inspecting = views.inspector && views.picked && (seek.pause || run.clock.paused);
  if (inspecting ? !findPixelHistory(*run.seeker, views.reader, target, views.pickX, views.pickY, views.history)
                 : !seekToFrame(*run.seeker, target)) {
    printError("play: '" + run.recording->segmentTemplate + "' no longer opens");
    run.damaged = true;
    run.quit = true;
    return;
  }
  const IndexedFrame& row = run.index->frames[static_cast<size_t>(target)];
  const double now = clockSeconds();
  if (seek.pause && !run.clock.paused) setPlayPaused(run.clock, now, true);
  run.frame = target + 1;
  run.shownFrame = target;
  run.shownTime = row.recordedTime;
  run.exact = true;
  run.ended = false;
  run.step = false;
  // Due now: the frame stays its recorded interval, then the next comes.
  const float before = target > 0 ? run.index->frames[static_cast<size_t>(target) - 1].recordedTime : 0.0f;
  const double stamp = std::isfinite(row.recordedTime) ? row.recordedTime : 0.0;
  run.pacer = FramePacer{playTime(run.clock, now) - stamp + frameGap(before, row.recordedTime), 0.0,
                         false};
  run.lastDueWall = now;
  run.heldTimeStamp = stamp;
  run.holdPending = true;
  run.breakPending = true;
  run.composedWaiting = false;
  run.backBufferCurrent = false;
  run.changed.count = 0;
  clearPlayerMessages(run.recording->messages);
  showPicture(run);
}

// A frame mark: the pacer's rules on the play clock, then the hold.
RecordAction onPlayMark(PlayRun& run, float timeStamp) {
  const double ts = timeStamp;
  const int64_t frame = run.frame++;
  if (frame < run.startFrame) return RecordAction::Continue;
  const bool firstShown = frame == run.startFrame && frame > 0;
  if (firstShown) {
    run.lastDueWall = clockSeconds();
    run.osdUntil = run.lastDueWall + kOsdSeconds;  // the display shows with the first frame
  }
  FrameTiming row{};
  row.frame = frame;
  row.recordedTime = timeStamp;
  row.afterBreak = run.breakPending;
  run.breakPending = false;
  row.dropped = !presentsFrame(run.pacer);
  if (row.dropped) {
    run.exact = false;
    run.droppedFrames.push_back(frame);
  }
  if (!row.dropped) {
    run.shownFrame = frame;
    run.shownTime = ts;
    composePicture(run);
    run.composedWaiting = true;
  }
  if (run.holdPending) {
    run.holdPending = false;
    if (!holdUntil(run, run.pacer.startTime + run.heldTimeStamp)) return RecordAction::Stop;
  }
  row.due = run.lastDueWall - run.wallStart;
  if (!row.dropped) {
    if (run.composedWaiting) swapComposed(run);
    row.present = run.lastSwap - run.wallStart;
  }
  // A pause or a step during the hold: this present was not paced either.
  row.afterBreak = row.afterBreak || run.breakPending;
  addFrameTiming(run.report, row);

  // The first frame shown after frames drawn unseen counts as due when it
  // is presented: the time they took makes nothing late.
  if (firstShown) moveTimeBase(run.pacer, playTime(run.clock, clockSeconds()), ts);
  if (timeMark(run.pacer, playTime(run.clock, clockSeconds()), ts)) {
    moveTimeBase(run.pacer, playTime(run.clock, clockSeconds()), ts);
    ++run.report.timeBaseMoves;
  }
  dropIfLate(run.pacer);
  if (waitIsPause(run.pacer)) {
    ++run.report.pausesCut;
    run.report.pauseSecondsRemoved += run.pacer.waitTime - kPauseThreshold;
    // The player sleeps, presents again and moves its time base so that the
    // mark is due a quarter second after it came; here the hold is that
    // quarter second.
    cutPause(run.pacer);
  }
  if (run.clock.paused)
    return holdUntil(run, run.pacer.startTime + ts) ? RecordAction::Continue : RecordAction::Stop;
  run.holdPending = true;
  run.heldTimeStamp = ts;
  return RecordAction::Continue;
}

// The reading of one run: draws every triangle (unless the pacer drops the
// frame) into the recorded picture and paces every mark.
struct PlayWalk : ReadHooks {
  PlayRun* run;
  int64_t chunkFrame;

  void chunkRead(const SegmentedStream&) { chunkFrame = run->frame; }
  void triangle(const uint8_t* record) {
    if (run->pacer.skipPresent) return;
    drawTriangle(run->renderer->triangles, record, false);
    addToRegion(run->changed, triangleBox(run->renderer->triangles, record));
  }
  RecordAction frameMark(float timeStamp) { return onPlayMark(*run, timeStamp); }
  void walkEnded(const WalkEnd& end) {
    if (reportWalkEnd(end, run->recording->playerConsole)) run->damaged = true;
    reportPlayerMessages(*run->recording, chunkFrame);
  }
};

// Frame 0 again: the picture cleared, the recording read from its start.
bool startRun(PlayRun& run, bool first) {
  if (!first) {
    if (!restartRecording(*run.recording)) return false;
    run.renderer->gl.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    // The drawing state the set-up left, as before the first frame.
    restoreDrawState(*run.renderer, FrameDrawState{-1, -1, kBlendInForceAtStart});
    run.startFrame = 0;
  }
  run.seeker->reader = startReader(run.recording->stream);
  run.exact = true;
  run.seek.asked = false;
  run.frame = 0;
  run.shownFrame = -1;
  run.shownTime = 0;
  run.ended = false;
  run.restart = false;
  run.step = false;
  run.breakPending = true;
  run.holdPending = false;
  run.composedWaiting = false;
  run.backBufferCurrent = false;
  // As the player starts: the cleared screen presented once, then the clock.
  showPicture(run);
  run.pacer = FramePacer{playTime(run.clock, clockSeconds()), 0.0, false};
  run.lastDueWall = clockSeconds();
  return true;
}

// Plays runs until quit, or the end of a run without --loop or --wait. A
// seek stops the reading; it goes on from the frame the seek drew.
void playRuns(PlayRun& run) {
  for (bool first = true;; first = false) {
    if (!startRun(run, first)) {
      run.damaged = true;
      return;
    }
    PlayWalk walk{};
    walk.run = &run;
    for (;;) {
      const ReadEnd end = readRecords(run.seeker->reader, walk);
      reportPlayerMessages(*run.recording, end == ReadEnd::Stopped ? walk.chunkFrame : run.frame);
      if (run.recording->stream.damaged) run.damaged = true;
      // The last frame stays its time on screen.
      if (!run.seek.asked && run.holdPending && playing(run)) {
        run.holdPending = false;
        holdUntil(run, run.pacer.startTime + run.heldTimeStamp);
      }
      if (!run.seek.asked && playing(run)) {
        run.ended = true;
        showPicture(run);
        // A paused playback, --wait and --loop keep the window.
        while (playing(run) && !run.loop && (run.waitAtEnd || run.clock.paused)) waitForEvents(run);
      }
      if (run.quit || run.restart || !run.seek.asked) break;
      do {
        performSeek(run);
        // Paused, the hold is at the mark: nothing is drawn beyond the frame shown.
        if (run.clock.paused && playing(run) && run.holdPending) {
          run.holdPending = false;
          holdUntil(run, run.pacer.startTime + run.heldTimeStamp);
        }
      } while (run.seek.asked && !run.quit && !run.restart);
      if (run.quit || run.restart) break;
    }
    if (run.quit) return;
    if (!run.restart && !run.loop) return;
  }
}

// Parsed options, checked before anything opens.
struct PlayOptions {
  double speed = 1.0;
  int64_t scale = 1;
  int64_t cacheMegabytes = 512;
  int64_t diskCacheMegabytes = 4096;
  bool hasStartTime = false;
  double startTime = 0;
  bool hasStartFrame = false;
  int64_t startFrame = 0;
};

bool parsePlayOptions(const ParsedCommand& parsed, PlayOptions& options) {
  if (const char* text = optionValue(kPlaySpec, parsed, "--speed")) {
    double numerator = 0, denominator = 1;
    const std::string value = text;
    const size_t slash = value.find('/');
    const bool parsedSpeed =
        slash == std::string::npos
            ? parseNumber(text, numerator)
            : parseNumber(value.substr(0, slash).c_str(), numerator) &&
                  parseNumber(value.substr(slash + 1).c_str(), denominator) && denominator > 0;
    options.speed = parsedSpeed ? numerator / denominator : 0;
    if (!(options.speed >= kSlowestSpeed && options.speed <= kFastestSpeed)) {
      usageError(kPlaySpec, "--speed needs a number from 1/16 to 16");
      return false;
    }
  }
  for (const auto& [option, megabytes] : {std::pair{"--cache-mb", &options.cacheMegabytes},
                                           std::pair{"--disk-cache-mb", &options.diskCacheMegabytes}}) {
    const char* text = optionValue(kPlaySpec, parsed, option);
    if (text && (!parseInteger(text, *megabytes) || *megabytes < 0 || *megabytes > (int64_t{1} << 20))) {
      usageError(kPlaySpec, std::string(option) + " needs a whole number of megabytes from 0 to 1048576");
      return false;
    }
  }
  if (const char* text = optionValue(kPlaySpec, parsed, "--scale")) {
    if (!parseInteger(text, options.scale) || options.scale < 1 || options.scale > 16) {
      usageError(kPlaySpec, "--scale needs a whole number from 1 to 16");
      return false;
    }
  }
  if (const char* text = optionValue(kPlaySpec, parsed, "--start")) {
    options.hasStartTime = true;
    if (!parseNumber(text, options.startTime)) {
      usageError(kPlaySpec, "--start needs a number of seconds");
      return false;
    }
  }
  if (const char* text = optionValue(kPlaySpec, parsed, "--start-frame")) {
    options.hasStartFrame = true;
    if (!parseInteger(text, options.startFrame) || options.startFrame < 0) {
      usageError(kPlaySpec, "--start-frame needs a frame number (0 or more)");
      return false;
    }
  }
  if (options.hasStartTime && options.hasStartFrame) {
    usageError(kPlaySpec, "--start and --start-frame exclude each other");
    return false;
  }
  return true;
}

double cpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

bool writeTextFile(const char* path, const std::string& text) {
  std::FILE* file = std::fopen(path, "wb");
  if (!file) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

// ImGui's context for the run: made before the window's backends, gone after.
struct OverlayContext {
  OverlayContext() {
    ImGui::CreateContext();
    ImGui::GetIO().IniFilename = nullptr;  // nothing written into the current folder
  }
  ~OverlayContext() { ImGui::DestroyContext(); }
  OverlayContext(const OverlayContext&) = delete;
  OverlayContext& operator=(const OverlayContext&) = delete;
};

struct WindowCloser {
  ViewWindow& window;
  ~WindowCloser() { closeViewWindow(window); }
};

}  // namespace

// The bundled demo's segment template, or "" when it is not there. The
// demo's folder holds Video/Stream/ and Video/TexDump/, as the player's own
// folder does, so that the texture folder rule finds its textures.
std::string demoTemplate() {
  const std::string programFolder = programDirectory();
  if (programFolder.empty()) return "";
  // Installed: PREFIX/bin/drec and PREFIX/share/drec/demo/. Built:
  // BUILD/tools/drec and the demo written beside BUILD/player/drec-player.
  for (const char* demoFolder : {"/../share/drec/demo/", "/../player/"}) {
    std::string name = programFolder;
    name.append(demoFolder).append(kDefaultRecordingName);
    char segment0[PATH_MAX];
    std::error_code error;
    if (segmentFileName(name.c_str(), 0, segment0, sizeof segment0) &&
        std::filesystem::is_regular_file(segment0, error))
      return std::filesystem::path(name).lexically_normal().string();
  }
  return "";
}

int playCommand(const ParsedCommand& parsed) {
  PlayOptions options;
  if (!parsePlayOptions(parsed, options)) return kExitUsage;
  const bool demo = hasOption(kPlaySpec, parsed, "--demo") || parsed.operands.empty();
  if (demo && !parsed.operands.empty())
    return usageError(kPlaySpec, "--demo plays the demo: give it no REC");
  std::string reason;
  if (!displayAvailable(reason)) {
    printError("play: needs a display (" + reason + ")");
    return kExitUsage;
  }

  // A file manager hands over one segment file: play its whole set.
  std::string name = demo ? demoTemplate() : parsed.operands[0];
  if (name.empty()) {
    std::string error = "play: the bundled demo is not installed beside this drec (no ";
    error.append("../share/drec/demo/").append(kDefaultRecordingName).append(")");
    printError(error);
    return kExitUsage;
  }
  SegmentSet set;
  if (name.find("%i") == std::string::npos && segmentSetOf(realFileAccess(), name, set)) {
    printError("play: playing '" + set.segmentTemplate + "', " +
               counted(set.segments, "segment file") + " from '" + name + "'");
    name = set.segmentTemplate;
  }
  OpenedRecording recording;
  recording.quiet = hasOption(kPlaySpec, parsed, "--quiet");
  if (!openRecording(recording, name.c_str(), optionValue(kPlaySpec, parsed, "--textures")))
    return kExitUsage;
  if (!screenSizeUsable(recording.header)) {
    printError("'" + recording.segmentTemplate + "' has an unusable screen size " +
               std::to_string(recording.header.width) + " x " +
               std::to_string(recording.header.height));
    return kExitUsage;
  }

  PlayCensus census{};
  census.startTime = options.startTime;
  census.startFrame = -1;
  {
    RecordReader reader = startReader(recording.stream);
    readRecords(reader, census);
  }
  if (!restartRecording(recording)) return kExitUsage;
  clearPlayerMessages(recording.messages);
  int64_t startFrame = 0;
  if (options.hasStartFrame) {
    const std::string problem = frameListProblem({FrameRange{options.startFrame, options.startFrame}},
                                                 census.frames, recording.segmentTemplate);
    if (!problem.empty()) return usageError(kPlaySpec, "--start-frame: " + problem);
    startFrame = options.startFrame;
  } else if (options.hasStartTime) {
    if (census.startFrame < 0) {
      std::string problem;
      appendFormat(problem, "--start: no frame of '%s' is recorded at %g s or later (the last at %.3f s)",
                   recording.segmentTemplate.c_str(), options.startTime,
                   static_cast<double>(census.lastTime));
      return usageError(kPlaySpec, problem);
    }
    startFrame = census.startFrame;
  }

  OverlayContext overlay;
  ViewWindow window;
  WindowCloser closer{window};
  std::string title = recording.segmentTemplate.substr(recording.segmentTemplate.rfind('/') + 1);
  title += " - drec play";
  ViewWindowOptions windowOptions;
  windowOptions.width = static_cast<int>(recording.header.width * options.scale);
  windowOptions.height = static_cast<int>(recording.header.height * options.scale);
  windowOptions.title = title.c_str();
  windowOptions.vsync = hasOption(kPlaySpec, parsed, "--vsync");
  const ViewWindowOpen opened = openViewWindow(window, windowOptions, reason);
  if (opened != ViewWindowOpen::Opened) {
    printError(opened == ViewWindowOpen::NoDisplay ? "play: needs a display (" + reason + ")"
                                                   : "play: cannot open a window: " + reason);
    return kExitUsage;
  }
  GlApi gl = realGlApi();
  if (!loadGlExtensions(window, gl)) {
    printError("play: the OpenGL driver has no framebuffer objects");
    return kExitUsage;
  }
  // The recorded picture: made before the textures load, which leave their
  // own binding as the player's start does.
  PictureTarget picture{};
  if (!makePictureTarget(gl, recording.header.width, recording.header.height, picture)) {
    printError("play: the OpenGL driver cannot make a framebuffer of the recorded size");
    return kExitUsage;
  }
  FrameRenderer renderer;
  prepareFrameRenderer(renderer, recording.header, recording.texturesDirectory, gl);
  warnOfMissingTextures(renderer, recording);

  // The index reads with a stream of its own, saying nothing.
  OpenedRecording indexed;
  indexed.quiet = true;
  if (!openRecording(indexed, recording.segmentTemplate.c_str(), nullptr)) return kExitUsage;
  FrameIndex index{};
  // Drawing ahead while paused: a picture and a stream of its own.
  OpenedRecording aheadRecording;
  aheadRecording.quiet = true;
  if (!openRecording(aheadRecording, recording.segmentTemplate.c_str(), nullptr)) return kExitUsage;
  PictureTarget aheadPicture{};
  if (!makePictureTarget(gl, recording.header.width, recording.header.height, aheadPicture)) {
    printError("play: the OpenGL driver cannot make a framebuffer of the recorded size");
    return kExitUsage;
  }
  gl.BindFramebuffer(GL_FRAMEBUFFER, picture.framebuffer);
  // Each frame's horizon, found as the index is built, lets a seek start
  // close to its frame (a test pattern drawn here first leaves the picture
  // cleared).
  HorizonTracker horizon{};
  prepareHorizonTracker(horizon, renderer);
  DrawAhead ahead{};
  startDrawAhead(ahead, aheadPicture, aheadRecording.stream);
  startFrameIndex(index, indexed.stream, census.frames, &horizon);
  Seeker seeker{};
  startSeeker(seeker, renderer, picture, recording.stream, index,
              static_cast<size_t>(options.cacheMegabytes) << 20,
              static_cast<size_t>(options.diskCacheMegabytes) << 20, userCacheFolder());

  // The views of the paused frame read its triangles with a stream of their own.
  OpenedRecording viewsRecording;
  viewsRecording.quiet = true;
  if (!openRecording(viewsRecording, recording.segmentTemplate.c_str(), nullptr)) return kExitUsage;
  PausedViews views{};
  views.reader = startReader(viewsRecording.stream);
  views.trianglesFrame = -1;
  views.overdrawFrame = -1;
  views.coverage = &horizon.coverage;
  views.exactCoverage = horizon.exactCoverage;
  startOverdrawMap(views.overdrawMap, renderer.width, renderer.height);
  views.overdrawRgba.resize(views.overdrawMap.counts.size() * 4);
  views.slotRows = textureSlotRows(recording.header, renderer.slots, recording.texturesDirectory);
  views.history.frame = -1;
  struct HistoryRelease {
    const GlApi& gl;
    PixelHistory& history;
    ~HistoryRelease() { releasePixelHistory(gl, history); }
  } historyRelease{renderer.gl, views.history};

  PlayRun run{};
  run.recording = &recording;
  run.views = &views;
  run.renderer = &renderer;
  run.window = &window;
  run.framebuffer = picture.framebuffer;
  run.index = &index;
  run.seeker = &seeker;
  run.ahead = &ahead;
  run.aheadFrom = -1;
  run.droppedFrames.reserve(static_cast<size_t>(census.frames));
  run.backBufferKept = viewBackBufferKept(window);
  run.pictureName = pictureNameOf(recording.segmentTemplate);
  run.frames = census.frames;
  run.duration = census.lastTime;
  run.startFrame = startFrame;
  run.loop = hasOption(kPlaySpec, parsed, "--loop");
  run.waitAtEnd = hasOption(kPlaySpec, parsed, "--wait");
  run.wallStart = clockSeconds();
  run.osdUntil = run.wallStart + kOsdSeconds;
  startPlayClock(run.clock, run.wallStart, options.speed);
  if (hasOption(kPlaySpec, parsed, "--paused")) setPlayPaused(run.clock, run.wallStart, true);
  startTimingReport(run.report, census.frames + 1);
  const double cpuStart = cpuSeconds();

  playRuns(run);

  const double wallSeconds = clockSeconds() - run.wallStart;
  const double cpuUsed = cpuSeconds() - cpuStart;
  if (hasOption(kPlaySpec, parsed, "--report"))
    std::fputs(timingReportText(run.report, cpuUsed, wallSeconds).c_str(), stderr);
  int status = drawingStatus(run.damaged ? kExitDamaged : kExitSuccess, renderer,
                             hasOption(kPlaySpec, parsed, "--allow-missing-textures"));
  if (const char* csv = optionValue(kPlaySpec, parsed, "--report-csv")) {
    if (!writeTextFile(csv, timingReportCsv(run.report))) {
      printError(std::string("play: cannot write '") + csv + "'");
      status = kExitUsage;
    }
  }
  return status;
}

}  // namespace drec
