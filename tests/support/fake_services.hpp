// A fake PlaybackServices for tests: a clock that moves only when the code
// under test sleeps, when a present takes time, or when the test says that
// drawing took time; every present, sleep, clock read and key poll recorded
// in order; key states and key-buffer entries scripted by the test; display
// opens and console key waits counted.
//
// Like the real window, the fake changes key states and adds key-buffer
// entries only while presenting: an event scripted for present n is applied
// at the end of the n-th present (1 = the first), after the present's time.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/keys.hpp"
#include "platform/services.hpp"

namespace drec::test {

enum class FakeCallKind { Clock, Sleep, Present, KeyHeld, NextKey };

struct FakeCall {
  FakeCallKind kind;
  double seconds;  // the fake clock when the call began
  int64_t value;   // Sleep: milliseconds; KeyHeld: scan code; NextKey: entry length
};

struct FakeInputEvent {
  int presentNumber;  // applied during this present, 1 = the first
  int scanCode;       // -1: no key-state change
  bool held;
  KeyEntry entry;     // length 0: nothing added to the key buffer
};

struct FakeServices {
  double seconds = 0.0;         // the fake clock
  double presentSeconds = 0.0;  // how long each present takes
  bool held[kKeyStateCount] = {};
  KeyBuffer keys{};  // the real buffer: 15 entries at most, the oldest dropped
  std::vector<FakeInputEvent> script;

  std::vector<FakeCall> calls;
  std::vector<double> presentTimes;  // clock at the start of each present
  std::vector<int64_t> sleeps;       // milliseconds, in order
  std::vector<KeyEntry> keysTaken;   // every non-empty entry nextKey handed out

  int displaysOpened = 0;
  int consoleWaits = 0;
  bool keyCanArrive = true;  // false: no window and no terminal
};

PlaybackServices fakePlaybackServices(FakeServices& fake);

// Drawing (or anything else the code does between calls) took this long.
void advanceClock(FakeServices& fake, double seconds);
// Adds an entry to the key buffer now.
void queueKey(FakeServices& fake, KeyEntry entry);
// Scripted window events, applied at the end of present number `presentNumber`.
void queueKeyAtPresent(FakeServices& fake, int presentNumber, KeyEntry entry);
void setKeyHeldAtPresent(FakeServices& fake, int presentNumber, int scanCode, bool held);

// Entries left in the key buffer.
int keysWaiting(const FakeServices& fake);
// Calls of one kind recorded so far.
int countCalls(const FakeServices& fake, FakeCallKind kind);

}  // namespace drec::test
