#include "tests/support/fake_services.hpp"

namespace drec::test {
namespace {

FakeServices& fakeOf(void* context) { return *static_cast<FakeServices*>(context); }

void record(FakeServices& fake, FakeCallKind kind, int64_t value) {
  fake.calls.push_back(FakeCall{kind, fake.seconds, value});
}

double fakeClock(void* context) {
  FakeServices& fake = fakeOf(context);
  record(fake, FakeCallKind::Clock, 0);
  return fake.seconds;
}

void fakeSleep(void* context, int64_t milliseconds) {
  FakeServices& fake = fakeOf(context);
  record(fake, FakeCallKind::Sleep, milliseconds);
  fake.sleeps.push_back(milliseconds);
  if (milliseconds > 0) fake.seconds += static_cast<double>(milliseconds) / 1000.0;
}

void fakePresent(void* context) {
  FakeServices& fake = fakeOf(context);
  record(fake, FakeCallKind::Present, 0);
  fake.presentTimes.push_back(fake.seconds);
  fake.seconds += fake.presentSeconds;
  const int number = static_cast<int>(fake.presentTimes.size());
  for (const FakeInputEvent& event : fake.script) {
    if (event.presentNumber != number) continue;
    if (event.scanCode >= 0 && event.scanCode < kKeyStateCount) fake.held[event.scanCode] = event.held;
    pushKey(fake.keys, event.entry);
  }
}

bool fakeKeyHeld(void* context, int scanCode) {
  FakeServices& fake = fakeOf(context);
  record(fake, FakeCallKind::KeyHeld, scanCode);
  return scanCode >= 0 && scanCode < kKeyStateCount && fake.held[scanCode];
}

KeyEntry fakeNextKey(void* context) {
  FakeServices& fake = fakeOf(context);
  KeyEntry entry = popKey(fake.keys);
  record(fake, FakeCallKind::NextKey, entry.length);
  if (entry.length != 0) fake.keysTaken.push_back(entry);
  return entry;
}

bool fakeOpenDisplay(void* context, int, int) {
  ++fakeOf(context).displaysOpened;
  return true;
}
void fakeConsoleKeyWait(void* context) { ++fakeOf(context).consoleWaits; }
bool fakeKeyCanArrive(void* context) { return fakeOf(context).keyCanArrive; }

}  // namespace

PlaybackServices fakePlaybackServices(FakeServices& fake) {
  return PlaybackServices{&fake,           fakeClock,       fakeSleep,
                          fakePresent,     fakeKeyHeld,     fakeNextKey,
                          fakeOpenDisplay, fakeConsoleKeyWait, fakeKeyCanArrive};
}

void advanceClock(FakeServices& fake, double seconds) { fake.seconds += seconds; }

void queueKey(FakeServices& fake, KeyEntry entry) { pushKey(fake.keys, entry); }

void queueKeyAtPresent(FakeServices& fake, int presentNumber, KeyEntry entry) {
  fake.script.push_back(FakeInputEvent{presentNumber, -1, false, entry});
}

void setKeyHeldAtPresent(FakeServices& fake, int presentNumber, int scanCode, bool held) {
  fake.script.push_back(FakeInputEvent{presentNumber, scanCode, held, KeyEntry{0, {0, 0}}});
}

int keysWaiting(const FakeServices& fake) { return fake.keys.count; }

int countCalls(const FakeServices& fake, FakeCallKind kind) {
  int count = 0;
  for (const FakeCall& call : fake.calls) count += call.kind == kind ? 1 : 0;
  return count;
}

}  // namespace drec::test
