// Frame pacing against a fake clock that moves only when the pacer sleeps or
// presents, or when a row says that drawing took time. Clock values and time
// stamps at the boundaries are sums of powers of two, so waits are exact.
#include "player/pacer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/support/fake_services.hpp"

namespace drec {
namespace {

using test::FakeCallKind;
using test::FakeServices;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr double kNaNTime = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfTime = std::numeric_limits<double>::infinity();
constexpr PaceResult kGo = PaceResult::Continue;
constexpr PaceResult kQuit = PaceResult::Quit;

// NaN matches NaN and an infinity matches itself; finite times may differ by
// rounding from sleeps of whole milliseconds, far below a millisecond.
bool sameTime(double actual, double expected) {
  if (std::isnan(expected)) return std::isnan(actual);
  if (std::isinf(expected)) return actual == expected;
  return std::fabs(actual - expected) <= 1e-9;
}

std::string listOf(const std::vector<int64_t>& values) {
  std::string text = "{";
  for (size_t i = 0; i < values.size(); ++i) text += (i ? ", " : "") + std::to_string(values[i]);
  return text + "}";
}

struct MarkStep {
  double drawSeconds;  // the clock moves this much before the mark
  float timeStamp;
  // After the mark:
  PaceResult result;
  int presents;                 // presents during this mark
  std::vector<int64_t> sleeps;  // sleeps during this mark, ms
  bool skipPresent;
  double startTime;
  int keysLeft;  // entries still in the key buffer
};

struct PacingRow {
  const char* name;
  double clock;  // the fake clock before the first mark
  double presentSeconds;
  FramePacer pacer;  // state before the first mark
  std::vector<int> heldKeys;
  std::vector<KeyEntry> keys;  // in the key buffer before the first mark
  std::vector<test::FakeInputEvent> script;
  std::vector<MarkStep> marks;
};

const double kJustBelow = 8.0 - std::ldexp(1.0, -20);  // start time leaving a wait of 0.25 - 2^-20

std::vector<PacingRow> pacingRows() {
  const KeyEntry a = characterKey('a');
  const KeyEntry close = closeRequestKey();
  return {
      {"wait of exactly 0 is on time and sleeps 0 ms", 8.0, 0.0, {8.0, 0.0, false}, {}, {}, {},
       {{0.5, 0.5f, kGo, 1, {0}, false, 8.0, 0},
        {0.25, 0.875f, kGo, 1, {125}, false, 8.0, 0}}},
      {"wait of exactly 0.25 s takes the pause branch", 8.0, 0.0, {8.0, 0.0, false}, {}, {}, {},
       {{0.0, 0.25f, kGo, 2, {230, 0}, false, 8.0, 0}}},
      {"wait just below 0.25 s sleeps 250 ms", 8.0, 0.0, {kJustBelow, 0.0, false}, {}, {}, {},
       {{0.0, 0.25f, kGo, 1, {250}, false, kJustBelow, 0}}},
      {"a pause moves the time base and later marks keep their spacing", 8.0, 0.0,
       {8.0, 0.0, false}, {}, {}, {},
       {{0.0, 1.0f, kGo, 2, {230, 0}, false, 7.25, 0},
        {0.0, 1.125f, kGo, 1, {145}, false, 7.25, 0}}},
      {"62.5 ms rounds down to the even 62", 8.0, 0.0, {8.0, 0.0, false}, {}, {}, {},
       {{0.0, 0.0625f, kGo, 1, {62}, false, 8.0, 0}}},
      {"187.5 ms rounds up to the even 188", 8.0, 0.0, {8.0, 0.0, false}, {}, {}, {},
       {{0.0, 0.1875f, kGo, 1, {188}, false, 8.0, 0}}},
      {"the clock is read after the present", 8.0, 0.0625, {8.0, 0.0, false}, {}, {}, {},
       {{0.0, 0.25f, kGo, 1, {188}, false, 8.0, 0},
        {0.0, 0.5f, kGo, 1, {187}, false, 8.0, 0}}},
      {"exactly 0.5 s late keeps the time base and drops the next frame", 8.0, 0.0,
       {7.0, 0.0, false}, {}, {}, {},
       {{0.0, 0.5f, kGo, 1, {0}, true, 7.0, 0},
        {0.125, 1.25f, kGo, 0, {125}, false, 7.0, 0}}},
      {"more than 0.5 s late moves the time base and drops the next frame", 8.0, 0.0,
       {7.0, 0.0, false}, {}, {}, {},
       {{0.0, 0.25f, kGo, 1, {0}, true, 7.75, 0},
        {0.0625, 0.375f, kGo, 0, {62}, false, 7.75, 0}}},
      {"late frames are dropped until a mark is on time", 8.0, 0.0, {8.0, 0.0, false}, {}, {}, {},
       {{0.25, 0.0f, kGo, 1, {0}, true, 8.0, 0},
        {0.0, 0.125f, kGo, 0, {0}, true, 8.0, 0},
        {0.0, 0.375f, kGo, 0, {125}, false, 8.0, 0},
        {0.0, 0.5f, kGo, 1, {125}, false, 8.0, 0}}},
      {"a set skipPresent is cleared without presenting", 8.0, 0.0, {8.0, 0.0, true}, {}, {}, {},
       {{0.0, 0.125f, kGo, 0, {125}, false, 8.0, 0},
        {0.0, 0.25f, kGo, 1, {125}, false, 8.0, 0}}},
      {"first time stamp of exactly -0.5 drops the next frame only", 8.0, 0.0, {8.0, 0.0, false},
       {}, {}, {},
       {{0.0, -0.5f, kGo, 1, {0}, true, 8.0, 0},
        {0.125, 0.25f, kGo, 0, {125}, false, 8.0, 0}}},
      {"first time stamp below -0.5 moves the time base", 8.0, 0.0, {8.0, 0.0, false}, {}, {}, {},
       {{0.125, -2.0f, kGo, 1, {0}, true, 10.125, 0},
        {0.0, -1.875f, kGo, 0, {125}, false, 10.125, 0}}},
      {"first time stamp minutes after 0 costs one 230 ms sleep", 8.0, 0.0, {8.0, 0.0, false}, {},
       {}, {},
       {{0.0, 180.0f, kGo, 2, {230, 0}, false, -171.75, 0},
        {0.0, 180.125f, kGo, 1, {145}, false, -171.75, 0},
        {0.0, 180.25f, kGo, 1, {125}, false, -171.75, 0}}},
      {"Escape held at a mark: present, then quit before any sleep or key", 8.0, 0.0,
       {8.0, 0.0, false}, {kScanCodeEscape}, {a}, {},
       {{0.0, 0.125f, kQuit, 1, {}, false, 8.0, 1}}},
      {"Escape pressed during a pause", 8.0, 0.0, {8.0, 0.0, false}, {}, {},
       {{2, kScanCodeEscape, true, KeyEntry{0, {0, 0}}}},
       {{0.0, 1.0f, kQuit, 2, {230}, false, 7.25, 0}}},
      {"close request during a pause", 8.0, 0.0, {8.0, 0.0, false}, {}, {},
       {{2, -1, false, close}},
       {{0.0, 1.0f, kQuit, 2, {230}, false, 7.25, 0}}},
      {"close request behind another key quits after the sleep", 8.0, 0.0, {8.0, 0.0, false}, {},
       {a, close}, {},
       {{0.0, 0.125f, kQuit, 1, {125}, false, 8.0, 0}}},
      {"close request at a late mark quits before the sleep", 8.0, 0.0, {7.0, 0.0, false}, {},
       {close}, {},
       {{0.0, 0.25f, kQuit, 1, {}, true, 7.75, 0}}},
      {"other keys are taken one per poll and do not quit", 8.0, 0.0, {8.0, 0.0, false}, {28},
       {a, a, extendedKey(0x48), a, a, a, a, a, a, characterKey(13)}, {},
       {{0.0, 0.125f, kGo, 1, {125}, false, 8.0, 8},
        {0.0, 0.5f, kGo, 2, {230, 0}, false, 7.875, 5},
        {0.5, 0.75f, kGo, 1, {0}, true, 7.875, 3},
        {0.0, 0.875f, kGo, 0, {0}, true, 7.875, 1}}},
      {"NaN time stamp costs two dropped frames and no stall", 8.0, 0.0, {8.0, 0.0, false}, {}, {},
       {},
       {{0.0, kNaN, kGo, 1, {0}, true, kNaNTime, 0},
        {0.125, 0.25f, kGo, 0, {0}, true, 7.875, 0},
        {0.0, 0.375f, kGo, 0, {125}, false, 7.875, 0},
        {0.0, 0.5f, kGo, 1, {125}, false, 7.875, 0}}},
      {"+infinity time stamp is late, not a pause", 8.0, 0.0, {8.0, 0.0, false}, {}, {}, {},
       {{0.0, kInf, kGo, 1, {0}, true, -kInfTime, 0},
        {0.125, 0.25f, kGo, 0, {0}, true, 7.875, 0},
        {0.0, 0.375f, kGo, 0, {125}, false, 7.875, 0},
        {0.0, 0.5f, kGo, 1, {125}, false, 7.875, 0}}},
      {"-infinity time stamp is late and the time base recovers", 8.0, 0.0, {8.0, 0.0, false}, {},
       {}, {},
       {{0.0, -kInf, kGo, 1, {0}, true, kInfTime, 0},
        {0.125, 0.25f, kGo, 0, {0}, true, 7.875, 0},
        {0.0, 0.375f, kGo, 0, {125}, false, 7.875, 0}}},
      {"two +infinity stamps in a row, then a finite one", 8.0, 0.0, {8.0, 0.0, false}, {}, {}, {},
       {{0.0, kInf, kGo, 1, {0}, true, -kInfTime, 0},
        {0.0, kInf, kGo, 0, {0}, true, -kInfTime, 0},
        {0.125, 0.25f, kGo, 0, {0}, true, 7.875, 0},
        {0.0, 0.375f, kGo, 0, {125}, false, 7.875, 0}}},
      {"an infinite time base is set afresh at a finite mark", 8.0, 0.0, {kInfTime, 0.0, false},
       {}, {}, {},
       {{0.0, 0.25f, kGo, 1, {0}, true, 7.75, 0},
        {0.0, 0.375f, kGo, 0, {125}, false, 7.75, 0}}},
      {"a time base of -infinity is set afresh at a finite mark", 8.0, 0.0,
       {-kInfTime, 0.0, false}, {}, {}, {},
       {{0.0, 0.25f, kGo, 1, {0}, true, 7.75, 0}}},
  };
}

TEST(FramePacer, MarksFollowTheClock) {
  for (const PacingRow& row : pacingRows()) {
    FakeServices fake;
    fake.seconds = row.clock;
    fake.presentSeconds = row.presentSeconds;
    for (int code : row.heldKeys) fake.held[code] = true;
    for (const KeyEntry& entry : row.keys) test::queueKey(fake, entry);
    fake.script = row.script;
    const PlaybackServices services = test::fakePlaybackServices(fake);
    FramePacer pacer = row.pacer;

    for (size_t m = 0; m < row.marks.size(); ++m) {
      const MarkStep& step = row.marks[m];
      SCOPED_TRACE(std::string(row.name) + ", mark " + std::to_string(m + 1));
      test::advanceClock(fake, step.drawSeconds);
      const size_t presentsBefore = fake.presentTimes.size();
      const size_t sleepsBefore = fake.sleeps.size();

      const PaceResult result = onFrameMark(pacer, services, step.timeStamp);

      EXPECT_EQ(result, step.result);
      EXPECT_EQ(fake.presentTimes.size() - presentsBefore, static_cast<size_t>(step.presents));
      const std::vector<int64_t> sleeps(fake.sleeps.begin() + static_cast<long>(sleepsBefore),
                                        fake.sleeps.end());
      EXPECT_EQ(sleeps, step.sleeps) << "sleeps " << listOf(sleeps) << ", expected "
                                     << listOf(step.sleeps);
      EXPECT_EQ(pacer.skipPresent, step.skipPresent);
      EXPECT_TRUE(sameTime(pacer.startTime, step.startTime))
          << "startTime " << pacer.startTime << ", expected " << step.startTime;
      EXPECT_EQ(test::keysWaiting(fake), step.keysLeft);
      if (result == PaceResult::Quit) {
        ASSERT_EQ(m + 1, row.marks.size()) << "row continues after a quit";
      }
    }
  }
}

struct CallOrderRow {
  const char* name;
  FramePacer pacer;  // the clock is at 8.0
  float timeStamp;
  std::vector<FakeCallKind> calls;
};

TEST(FramePacer, PollsBeforeAndAfterEverySleep) {
  using K = FakeCallKind;
  const std::vector<CallOrderRow> rows = {
      {"on time", {8.0, 0.0, false}, 0.125f,
       {K::Present, K::Clock, K::KeyHeld, K::NextKey, K::Sleep, K::KeyHeld, K::NextKey}},
      {"dropped frame", {8.0, 0.0, true}, 0.125f,
       {K::Clock, K::KeyHeld, K::NextKey, K::Sleep, K::KeyHeld, K::NextKey}},
      {"late by more than 0.5 s: a fresh clock reading",
       {7.0, 0.0, false}, 0.25f,
       {K::Present, K::Clock, K::Clock, K::KeyHeld, K::NextKey, K::Sleep, K::KeyHeld, K::NextKey}},
      {"pause",
       {8.0, 0.0, false}, 2.0f,
       {K::Present, K::Clock, K::KeyHeld, K::NextKey, K::Sleep, K::Present, K::KeyHeld,
        K::NextKey, K::Sleep, K::KeyHeld, K::NextKey}},
  };
  for (const CallOrderRow& row : rows) {
    SCOPED_TRACE(row.name);
    FakeServices fake;
    fake.seconds = 8.0;
    FramePacer pacer = row.pacer;
    EXPECT_EQ(onFrameMark(pacer, test::fakePlaybackServices(fake), row.timeStamp),
              PaceResult::Continue);
    std::vector<K> kinds;
    for (const test::FakeCall& call : fake.calls) {
      kinds.push_back(call.kind);
      if (call.kind == K::KeyHeld) {
        EXPECT_EQ(call.value, kScanCodeEscape);
      }
    }
    EXPECT_EQ(kinds, row.calls);
  }
}

TEST(FramePacer, StartPacingPresentsThenReadsTheClock) {
  FakeServices fake;
  fake.seconds = 5.0;
  fake.presentSeconds = 0.125;
  FramePacer pacer{1.0, 2.0, true};
  startPacing(pacer, test::fakePlaybackServices(fake));
  EXPECT_EQ(fake.presentTimes, std::vector<double>{5.0});
  EXPECT_EQ(pacer.startTime, 5.125);
  EXPECT_FALSE(pacer.skipPresent);
  EXPECT_TRUE(fake.sleeps.empty());
  EXPECT_EQ(test::countCalls(fake, FakeCallKind::KeyHeld), 0);
  EXPECT_EQ(test::countCalls(fake, FakeCallKind::NextKey), 0);
}

// Whatever the time stamps (jumps, reversals, huge values, NaN, infinities),
// no sleep leaves 0..250 ms, a mark takes at most two sleeps and a quarter
// second, and a finite time stamp leaves a finite time base.
TEST(FramePacer, NoTimeStampStallsPlayback) {
  std::mt19937 random(20130112);
  const float specials[] = {kNaN, kInf, -kInf, 3.0e38f, -3.0e38f, 1.0e-30f, 0.0f, -0.5f};
  for (int run = 0; run < 200; ++run) {
    FakeServices fake;
    fake.seconds = 100.0;
    const PlaybackServices services = test::fakePlaybackServices(fake);
    FramePacer pacer{};
    startPacing(pacer, services);
    float ts = 0.0f;
    for (int mark = 0; mark < 60; ++mark) {
      const auto pick = random() % 10;
      if (pick < 6) {
        ts += static_cast<float>(random() % 40) / 1000.0f;
      } else if (pick < 8) {
        ts = static_cast<float>(static_cast<int>(random() % 20000) - 10000) / 100.0f;
      } else {
        ts = specials[random() % (sizeof specials / sizeof specials[0])];
      }
      test::advanceClock(fake, static_cast<double>(random() % 50) / 1000.0);
      const size_t sleepsBefore = fake.sleeps.size();
      const size_t presentsBefore = fake.presentTimes.size();
      const double before = fake.seconds;

      ASSERT_EQ(onFrameMark(pacer, services, ts), PaceResult::Continue);

      SCOPED_TRACE("run " + std::to_string(run) + ", mark " + std::to_string(mark) +
                   ", time stamp " + std::to_string(ts));
      for (size_t s = sleepsBefore; s < fake.sleeps.size(); ++s) {
        ASSERT_GE(fake.sleeps[s], 0);
        ASSERT_LE(fake.sleeps[s], 250);
      }
      ASSERT_LE(fake.sleeps.size() - sleepsBefore, 2u);
      ASSERT_LE(fake.presentTimes.size() - presentsBefore, 2u);
      ASSERT_LE(fake.seconds - before, 0.25 + 1e-9);
      if (std::isfinite(ts)) {
        ASSERT_TRUE(std::isfinite(pacer.startTime)) << pacer.startTime;
      }
      ASSERT_TRUE(pacer.waitTime >= 0.0 && pacer.waitTime < 0.25) << pacer.waitTime;
    }
  }
}

// The rules alone, as a playback with its own clock and waiting applies them.
struct RuleRow {
  double startTime;
  double now;
  float timeStamp;
  bool moves;         // timeMark asks for the time base to move
  double waitAfter;   // waitTime after dropIfLate
  bool dropsNext;
  bool pause;
  int64_t milliseconds;  // waitMilliseconds, when not a pause
};

TEST(PacingRules, EachMarkDecidedFromTheClockReadingAlone) {
  const RuleRow rows[] = {
      {10.0, 10.0, 0.0f, false, 0.0, false, false, 0},        // due now
      {10.0, 10.0, 0.0625f, false, 0.0625, false, false, 62},  // 62.5 ms: halves to even
      {10.0, 10.0, 0.1875f, false, 0.1875, false, false, 188},
      {10.0, 10.0, 0.25f, false, 0.25, false, true, 0},       // exactly a pause
      {10.0, 10.5, 0.0f, false, 0.0, true, false, 0},         // exactly half a second late
      {10.0, 10.75, 0.0f, true, 0.0, true, false, 0},         // more: the base moves
      {10.0, 10.0, kNaN, true, 0.0, true, false, 0},
      {10.0, 10.0, kInf, true, 0.0, true, false, 0},
  };
  for (const RuleRow& row : rows) {
    FramePacer pacer{row.startTime, 0.0, false};
    const std::string name = std::to_string(row.now) + " / " + std::to_string(row.timeStamp);
    EXPECT_EQ(row.moves, timeMark(pacer, row.now, row.timeStamp)) << name;
    if (row.moves) {
      moveTimeBase(pacer, row.now + 0.001, row.timeStamp);
      EXPECT_TRUE(sameTime(pacer.startTime, row.now + 0.001 - row.timeStamp)) << name;
    }
    dropIfLate(pacer);
    EXPECT_EQ(row.waitAfter, pacer.waitTime) << name;
    EXPECT_EQ(row.dropsNext, pacer.skipPresent) << name;
    EXPECT_EQ(row.pause, waitIsPause(pacer)) << name;
    if (!row.pause) {
      EXPECT_EQ(row.milliseconds, waitMilliseconds(pacer)) << name;
    }
    // The next mark presents nothing after a drop, and presents again after that.
    EXPECT_EQ(!row.dropsNext, presentsFrame(pacer)) << name;
    EXPECT_TRUE(presentsFrame(pacer)) << name;
  }
  FramePacer paused{10.0, 1.5, false};
  cutPause(paused);
  EXPECT_EQ(8.75, paused.startTime);
  EXPECT_EQ(0.0, paused.waitTime);
}

}  // namespace
}  // namespace drec
