// The key buffer, and how window-system keys become scan codes and entries.
#include <SDL2/SDL_keycode.h>
#include <SDL2/SDL_scancode.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/keymap.hpp"
#include "platform/keys.hpp"
#include "tests/support/key_text.hpp"

namespace drec {
namespace {

std::vector<std::string> drain(KeyBuffer& buffer) {
  std::vector<std::string> popped;
  for (KeyEntry entry = popKey(buffer); entry.length != 0; entry = popKey(buffer))
    popped.push_back(test::describeKey(entry));
  return popped;
}

KeyBuffer emptyBuffer() {
  KeyBuffer buffer;
  clearKeyBuffer(buffer);
  return buffer;
}

// `count` characters from 'a' on.
std::vector<KeyEntry> letters(int count) {
  std::vector<KeyEntry> entries;
  for (int i = 0; i < count; ++i) entries.push_back(characterKey(static_cast<uint8_t>('a' + i)));
  return entries;
}

template <typename T>
std::vector<T> joined(std::vector<T> first, const std::vector<T>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

TEST(KeyBuffer, KeepsTheLastFifteenEntriesInOrder) {
  const std::vector<std::string> fifteenLetters = {"61", "62", "63", "64", "65", "66", "67", "68",
                                                   "69", "6A", "6B", "6C", "6D", "6E", "6F"};
  struct Row {
    const char* name;
    std::vector<KeyEntry> pushed;
    std::vector<std::string> kept;  // oldest first
  };
  const Row rows[] = {
      {"nothing pushed", {}, {}},
      {"fifteen entries, all kept", letters(15), fifteenLetters},
      {"sixteen leave the last fifteen", letters(16),
       {"62", "63", "64", "65", "66", "67", "68", "69", "6A", "6B", "6C", "6D", "6E", "6F", "70"}},
      {"two-byte entries keep both bytes", {extendedKey(0x48), characterKey(27), extendedKey(0x3B)},
       {"FF 48", "1B", "FF 3B"}},
      {"the oldest close request is the one dropped",
       joined(joined(std::vector<KeyEntry>{closeRequestKey()}, std::vector<KeyEntry>(14, characterKey('a'))),
              {closeRequestKey()}),
       joined(std::vector<std::string>(14, "61"), {"FF 6B"})},
      {"\"no entry\" is never stored", {characterKey('x'), KeyEntry{0, {0, 0}}}, {"78"}},
  };
  for (const Row& row : rows) {
    KeyBuffer buffer = emptyBuffer();
    for (const KeyEntry& entry : row.pushed) pushKey(buffer, entry);
    EXPECT_EQ(buffer.count, static_cast<int>(row.kept.size())) << row.name;
    EXPECT_EQ(drain(buffer), row.kept) << row.name;
    EXPECT_EQ(buffer.count, 0) << row.name;
  }
}

TEST(KeyBuffer, EmptyBufferGivesNoEntry) {
  KeyBuffer buffer = emptyBuffer();
  EXPECT_EQ(popKey(buffer).length, 0);
  pushKey(buffer, characterKey('x'));
  EXPECT_EQ(popKey(buffer).length, 1);
  EXPECT_EQ(popKey(buffer).length, 0);
  EXPECT_EQ(popKey(buffer).length, 0);  // still empty, count not below zero
  EXPECT_EQ(buffer.count, 0);
  pushKey(buffer, KeyEntry{0, {0, 0}});  // "no entry" is never stored
  EXPECT_EQ(popKey(buffer).length, 0);
}

TEST(KeyBuffer, ClearEmptiesAFullBuffer) {
  KeyBuffer buffer = emptyBuffer();
  for (int i = 0; i < 20; ++i) pushKey(buffer, characterKey('q'));
  clearKeyBuffer(buffer);
  EXPECT_EQ(popKey(buffer).length, 0);
}

TEST(KeyBuffer, CloseRequestAmongOtherEntries) {
  KeyBuffer buffer = emptyBuffer();
  pushKey(buffer, characterKey('k'));  // "k" alone is a character, not the close request
  pushKey(buffer, closeRequestKey());
  pushKey(buffer, extendedKey('k'));
  KeyEntry first = popKey(buffer);
  KeyEntry second = popKey(buffer);
  KeyEntry third = popKey(buffer);
  EXPECT_FALSE(isCloseRequest(first));
  EXPECT_TRUE(isCloseRequest(second));
  EXPECT_EQ(test::describeKey(second), "FF 6B");
  EXPECT_TRUE(isCloseRequest(third));  // 0xFF 'k' is the close request's two bytes
  EXPECT_EQ(popKey(buffer).length, 0);
}

TEST(KeyBuffer, OrderSurvivesManyTripsRoundTheRing) {
  KeyBuffer buffer = emptyBuffer();
  int nextIn = 0;
  int nextOut = 0;
  // Push three, pop two, for long enough to wrap the 16 slots many times
  // while the buffer fills up and starts dropping.
  for (int round = 0; round < 40; ++round) {
    for (int i = 0; i < 3; ++i) pushKey(buffer, characterKey(static_cast<uint8_t>(nextIn++ % 256)));
    if (nextIn - nextOut > 15) nextOut = nextIn - 15;  // what a full buffer drops
    for (int i = 0; i < 2; ++i) {
      KeyEntry entry = popKey(buffer);
      ASSERT_EQ(entry.length, 1) << "round " << round;
      ASSERT_EQ(entry.bytes[0], nextOut++ % 256) << "round " << round;
    }
  }
}

struct ScanCodeRow {
  const char* name;
  int usage;
  int scanCode;
};

TEST(KeyMap, ScanCodesOfSetOne) {
  const ScanCodeRow rows[] = {
      {"Escape", SDL_SCANCODE_ESCAPE, 1},
      {"1", SDL_SCANCODE_1, 2},       {"5", SDL_SCANCODE_5, 6},     {"9", SDL_SCANCODE_9, 10},
      {"0", SDL_SCANCODE_0, 11},      {"Minus", SDL_SCANCODE_MINUS, 12},
      {"Backspace", SDL_SCANCODE_BACKSPACE, 14}, {"Tab", SDL_SCANCODE_TAB, 15},
      {"Q", SDL_SCANCODE_Q, 16},      {"P", SDL_SCANCODE_P, 25},    {"A", SDL_SCANCODE_A, 30},
      {"L", SDL_SCANCODE_L, 38},      {"Z", SDL_SCANCODE_Z, 44},    {"M", SDL_SCANCODE_M, 50},
      {"Enter", SDL_SCANCODE_RETURN, 28}, {"Keypad Enter", SDL_SCANCODE_KP_ENTER, 28},
      {"Left Ctrl", SDL_SCANCODE_LCTRL, 29}, {"Right Ctrl", SDL_SCANCODE_RCTRL, 29},
      {"Left Shift", SDL_SCANCODE_LSHIFT, 42}, {"Right Shift", SDL_SCANCODE_RSHIFT, 54},
      {"Left Alt", SDL_SCANCODE_LALT, 56}, {"Right Alt", SDL_SCANCODE_RALT, 56},
      {"Space", SDL_SCANCODE_SPACE, 57}, {"Caps Lock", SDL_SCANCODE_CAPSLOCK, 58},
      {"F1", SDL_SCANCODE_F1, 59},    {"F2", SDL_SCANCODE_F2, 60},  {"F9", SDL_SCANCODE_F9, 67},
      {"F10", SDL_SCANCODE_F10, 68},  {"F11", SDL_SCANCODE_F11, 87}, {"F12", SDL_SCANCODE_F12, 88},
      {"Up", SDL_SCANCODE_UP, 72},    {"Left", SDL_SCANCODE_LEFT, 75},
      {"Right", SDL_SCANCODE_RIGHT, 77}, {"Down", SDL_SCANCODE_DOWN, 80},
      {"Home", SDL_SCANCODE_HOME, 71}, {"End", SDL_SCANCODE_END, 79},
      {"Page Up", SDL_SCANCODE_PAGEUP, 73}, {"Page Down", SDL_SCANCODE_PAGEDOWN, 81},
      {"Insert", SDL_SCANCODE_INSERT, 82}, {"Delete", SDL_SCANCODE_DELETE, 83},
      {"Keypad 7", SDL_SCANCODE_KP_7, 71}, {"Keypad 8", SDL_SCANCODE_KP_8, 72},
      {"Keypad 5", SDL_SCANCODE_KP_5, 76}, {"Keypad 0", SDL_SCANCODE_KP_0, 82},
      {"Keypad .", SDL_SCANCODE_KP_PERIOD, 83}, {"Keypad -", SDL_SCANCODE_KP_MINUS, 74},
      {"Keypad +", SDL_SCANCODE_KP_PLUS, 78}, {"Keypad *", SDL_SCANCODE_KP_MULTIPLY, 55},
      {"Num Lock", SDL_SCANCODE_NUMLOCKCLEAR, 69},
      {"F13 (none)", SDL_SCANCODE_F13, 0}, {"Unknown", SDL_SCANCODE_UNKNOWN, 0},
      {"Below the table", -1, 0}, {"Past the table", SDL_NUM_SCANCODES, 0},
      {"Far past the table", 100000, 0},
  };
  for (const ScanCodeRow& row : rows)
    EXPECT_EQ(scanCodeForUsage(row.usage), row.scanCode) << "scan code differs for " << row.name;
}

TEST(KeyMap, EveryScanCodeFitsTheKeyStateTable) {
  for (int usage = 0; usage < SDL_NUM_SCANCODES; ++usage) {
    int code = scanCodeForUsage(usage);
    EXPECT_GE(code, 0) << "usage " << usage;
    EXPECT_LT(code, kKeyStateCount) << "usage " << usage;
  }
}

struct PressRow {
  const char* name;
  KeyPress press;
  KeyEntry entry;
};

KeyPress key(SDL_Scancode usage, SDL_Keycode keyCode) { return KeyPress{usage, keyCode, false, false, false}; }
KeyPress withAlt(KeyPress press) { press.alt = true; return press; }
KeyPress withControl(KeyPress press) { press.control = true; return press; }
KeyPress withNumLock(KeyPress press) { press.numLock = true; return press; }

TEST(KeyMap, EntriesForKeyPresses) {
  constexpr KeyEntry none{0, {0, 0}};
  const PressRow rows[] = {
      {"Escape", key(SDL_SCANCODE_ESCAPE, SDLK_ESCAPE), characterKey(27)},
      {"Enter", key(SDL_SCANCODE_RETURN, SDLK_RETURN), characterKey(13)},
      {"Keypad Enter", key(SDL_SCANCODE_KP_ENTER, SDLK_KP_ENTER), characterKey(13)},
      {"Backspace", key(SDL_SCANCODE_BACKSPACE, SDLK_BACKSPACE), characterKey(8)},
      {"Tab", key(SDL_SCANCODE_TAB, SDLK_TAB), characterKey(9)},
      {"letter (text input gives it)", key(SDL_SCANCODE_A, SDLK_a), none},
      {"Space (text input gives it)", key(SDL_SCANCODE_SPACE, SDLK_SPACE), none},
      {"Ctrl+A", withControl(key(SDL_SCANCODE_A, SDLK_a)), characterKey(1)},
      {"Ctrl+C", withControl(key(SDL_SCANCODE_C, SDLK_c)), characterKey(3)},
      {"Ctrl+Z", withControl(key(SDL_SCANCODE_Z, SDLK_z)), characterKey(26)},
      {"Up", key(SDL_SCANCODE_UP, SDLK_UP), extendedKey(0x48)},
      {"Down", key(SDL_SCANCODE_DOWN, SDLK_DOWN), extendedKey(0x50)},
      {"Left", key(SDL_SCANCODE_LEFT, SDLK_LEFT), extendedKey(0x4B)},
      {"Right", key(SDL_SCANCODE_RIGHT, SDLK_RIGHT), extendedKey(0x4D)},
      {"Home", key(SDL_SCANCODE_HOME, SDLK_HOME), extendedKey(0x47)},
      {"End", key(SDL_SCANCODE_END, SDLK_END), extendedKey(0x4F)},
      {"Page Up", key(SDL_SCANCODE_PAGEUP, SDLK_PAGEUP), extendedKey(0x49)},
      {"Page Down", key(SDL_SCANCODE_PAGEDOWN, SDLK_PAGEDOWN), extendedKey(0x51)},
      {"Insert", key(SDL_SCANCODE_INSERT, SDLK_INSERT), extendedKey(0x52)},
      {"Delete", key(SDL_SCANCODE_DELETE, SDLK_DELETE), extendedKey(0x53)},
      {"F1", key(SDL_SCANCODE_F1, SDLK_F1), extendedKey(0x3B)},
      {"F10", key(SDL_SCANCODE_F10, SDLK_F10), extendedKey(0x44)},
      {"F12", key(SDL_SCANCODE_F12, SDLK_F12), extendedKey(0x58)},
      {"Ctrl+Up", withControl(key(SDL_SCANCODE_UP, SDLK_UP)), extendedKey(0x48)},
      {"Keypad 8, Num Lock off", key(SDL_SCANCODE_KP_8, SDLK_KP_8), extendedKey(0x48)},
      {"Keypad 1, Num Lock off", key(SDL_SCANCODE_KP_1, SDLK_KP_1), extendedKey(0x4F)},
      {"Keypad ., Num Lock off", key(SDL_SCANCODE_KP_PERIOD, SDLK_KP_PERIOD), extendedKey(0x53)},
      {"Keypad 8, Num Lock on", withNumLock(key(SDL_SCANCODE_KP_8, SDLK_KP_8)), none},
      {"Up, Num Lock on", withNumLock(key(SDL_SCANCODE_UP, SDLK_UP)), extendedKey(0x48)},
      {"Keypad 5 (no cursor function)", key(SDL_SCANCODE_KP_5, SDLK_KP_5), none},
      {"Alt+Escape", withAlt(key(SDL_SCANCODE_ESCAPE, SDLK_ESCAPE)), none},
      {"Alt+Up", withAlt(key(SDL_SCANCODE_UP, SDLK_UP)), none},
      {"Alt+F4", withAlt(key(SDL_SCANCODE_F4, SDLK_F4)), none},
      {"Ctrl+Alt+A", withAlt(withControl(key(SDL_SCANCODE_A, SDLK_a))), none},
      {"Left Shift alone", key(SDL_SCANCODE_LSHIFT, SDLK_LSHIFT), none},
      {"Right Ctrl alone", withControl(key(SDL_SCANCODE_RCTRL, SDLK_RCTRL)), none},
      {"Left Alt alone", withAlt(key(SDL_SCANCODE_LALT, SDLK_LALT)), none},
      {"Caps Lock", key(SDL_SCANCODE_CAPSLOCK, SDLK_CAPSLOCK), none},
  };
  for (const PressRow& row : rows) {
    EXPECT_EQ(test::describeKey(entryForKeyPress(row.press)), test::describeKey(row.entry))
        << "entry differs for " << row.name;
  }
}

TEST(KeyMap, NoKeyPressReadsAsTheCloseRequest) {
  for (int usage = 0; usage < SDL_NUM_SCANCODES; ++usage) {
    SDL_Keycode keyCode = SDL_SCANCODE_TO_KEYCODE(static_cast<SDL_Scancode>(usage));
    for (int flags = 0; flags < 8; ++flags) {
      KeyPress press{usage, keyCode, (flags & 1) != 0, (flags & 2) != 0, (flags & 4) != 0};
      EXPECT_FALSE(isCloseRequest(entryForKeyPress(press))) << "usage " << usage << " flags " << flags;
    }
  }
  // Typed characters are 1-byte entries: "k" is never the close request.
  KeyEntry entries[4];
  ASSERT_EQ(entriesForText("k", entries, 4), 1);
  EXPECT_FALSE(isCloseRequest(entries[0]));
}

struct TextRow {
  const char* name;
  const char* text;
  std::vector<std::string> entries;
};

TEST(KeyMap, EntriesForTextInput) {
  const TextRow rows[] = {
      {"ASCII letter", "a", {"61"}},
      {"two characters", "k!", {"6B", "21"}},
      {"space", " ", {"20"}},
      {"tilde", "~", {"7E"}},
      {"Latin-1 e acute", "\xC3\xA9", {"E9"}},
      {"Latin-1 y diaeresis, the last 8-bit code", "\xC3\xBF", {"FF"}},
      {"no-break space", "\xC2\xA0", {"A0"}},
      {"euro sign (above 255)", "\xE2\x82\xAC", {}},
      {"emoji then letter", "\xF0\x9F\x98\x80x", {"78"}},
      {"control characters come from key-down", "\r\t\x1B", {}},
      {"delete", "\x7F", {}},
      {"cut-short sequence then letter", "\xC3z", {"7A"}},
      {"stray continuation byte", "\xA9q", {"71"}},
      {"over-long slash", "\xC0\xAF", {}},
      {"over-long e acute", "\xE0\x83\xA9", {}},
      {"invalid lead byte", "\xFF", {}},
      {"empty", "", {}},
  };
  for (const TextRow& row : rows) {
    KeyEntry entries[32];
    int count = entriesForText(row.text, entries, 32);
    std::vector<std::string> got;
    for (int i = 0; i < count; ++i) {
      EXPECT_EQ(entries[i].length, 1) << "for " << row.name;
      got.push_back(test::describeKey(entries[i]));
    }
    EXPECT_EQ(got, row.entries) << "entries differ for " << row.name;
  }
}

TEST(KeyMap, TextStopsAtCapacity) {
  KeyEntry entries[3] = {characterKey('#'), characterKey('#'), characterKey('#')};
  EXPECT_EQ(entriesForText("abcdef", entries, 2), 2);
  EXPECT_EQ(test::describeKey(entries[1]), "62");
  EXPECT_EQ(test::describeKey(entries[2]), "23");  // untouched
}

}  // namespace
}  // namespace drec
