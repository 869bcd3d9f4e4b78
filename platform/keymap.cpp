#include "platform/keymap.hpp"

#include <SDL2/SDL_keycode.h>
#include <SDL2/SDL_scancode.h>

namespace drec {
namespace {

struct UsageCode {
  SDL_Scancode usage;
  uint8_t scanCode;
};

// Set 1 make codes. Keys whose set 1 code carries the 0xE0 prefix (grey
// cursor block, right-hand modifiers, keypad Enter and "/") share the code of
// their unprefixed twin: the table has 128 entries and the player asks only
// for Escape.
constexpr UsageCode kScanCodes[] = {
    {SDL_SCANCODE_ESCAPE, 1},
    {SDL_SCANCODE_1, 2}, {SDL_SCANCODE_2, 3}, {SDL_SCANCODE_3, 4}, {SDL_SCANCODE_4, 5},
    {SDL_SCANCODE_5, 6}, {SDL_SCANCODE_6, 7}, {SDL_SCANCODE_7, 8}, {SDL_SCANCODE_8, 9},
    {SDL_SCANCODE_9, 10}, {SDL_SCANCODE_0, 11},
    {SDL_SCANCODE_MINUS, 12}, {SDL_SCANCODE_EQUALS, 13}, {SDL_SCANCODE_BACKSPACE, 14},
    {SDL_SCANCODE_TAB, 15},
    {SDL_SCANCODE_Q, 16}, {SDL_SCANCODE_W, 17}, {SDL_SCANCODE_E, 18}, {SDL_SCANCODE_R, 19},
    {SDL_SCANCODE_T, 20}, {SDL_SCANCODE_Y, 21}, {SDL_SCANCODE_U, 22}, {SDL_SCANCODE_I, 23},
    {SDL_SCANCODE_O, 24}, {SDL_SCANCODE_P, 25},
    {SDL_SCANCODE_LEFTBRACKET, 26}, {SDL_SCANCODE_RIGHTBRACKET, 27},
    {SDL_SCANCODE_RETURN, 28}, {SDL_SCANCODE_KP_ENTER, 28},
    {SDL_SCANCODE_LCTRL, 29}, {SDL_SCANCODE_RCTRL, 29},
    {SDL_SCANCODE_A, 30}, {SDL_SCANCODE_S, 31}, {SDL_SCANCODE_D, 32}, {SDL_SCANCODE_F, 33},
    {SDL_SCANCODE_G, 34}, {SDL_SCANCODE_H, 35}, {SDL_SCANCODE_J, 36}, {SDL_SCANCODE_K, 37},
    {SDL_SCANCODE_L, 38},
    {SDL_SCANCODE_SEMICOLON, 39}, {SDL_SCANCODE_APOSTROPHE, 40}, {SDL_SCANCODE_GRAVE, 41},
    {SDL_SCANCODE_LSHIFT, 42}, {SDL_SCANCODE_BACKSLASH, 43}, {SDL_SCANCODE_NONUSHASH, 43},
    {SDL_SCANCODE_Z, 44}, {SDL_SCANCODE_X, 45}, {SDL_SCANCODE_C, 46}, {SDL_SCANCODE_V, 47},
    {SDL_SCANCODE_B, 48}, {SDL_SCANCODE_N, 49}, {SDL_SCANCODE_M, 50},
    {SDL_SCANCODE_COMMA, 51}, {SDL_SCANCODE_PERIOD, 52},
    {SDL_SCANCODE_SLASH, 53}, {SDL_SCANCODE_KP_DIVIDE, 53},
    {SDL_SCANCODE_RSHIFT, 54},
    {SDL_SCANCODE_KP_MULTIPLY, 55}, {SDL_SCANCODE_PRINTSCREEN, 55},
    {SDL_SCANCODE_LALT, 56}, {SDL_SCANCODE_RALT, 56},
    {SDL_SCANCODE_SPACE, 57}, {SDL_SCANCODE_CAPSLOCK, 58},
    {SDL_SCANCODE_F1, 59}, {SDL_SCANCODE_F2, 60}, {SDL_SCANCODE_F3, 61}, {SDL_SCANCODE_F4, 62},
    {SDL_SCANCODE_F5, 63}, {SDL_SCANCODE_F6, 64}, {SDL_SCANCODE_F7, 65}, {SDL_SCANCODE_F8, 66},
    {SDL_SCANCODE_F9, 67}, {SDL_SCANCODE_F10, 68},
    {SDL_SCANCODE_NUMLOCKCLEAR, 69}, {SDL_SCANCODE_SCROLLLOCK, 70},
    {SDL_SCANCODE_KP_7, 71}, {SDL_SCANCODE_HOME, 71},
    {SDL_SCANCODE_KP_8, 72}, {SDL_SCANCODE_UP, 72},
    {SDL_SCANCODE_KP_9, 73}, {SDL_SCANCODE_PAGEUP, 73},
    {SDL_SCANCODE_KP_MINUS, 74},
    {SDL_SCANCODE_KP_4, 75}, {SDL_SCANCODE_LEFT, 75},
    {SDL_SCANCODE_KP_5, 76},
    {SDL_SCANCODE_KP_6, 77}, {SDL_SCANCODE_RIGHT, 77},
    {SDL_SCANCODE_KP_PLUS, 78},
    {SDL_SCANCODE_KP_1, 79}, {SDL_SCANCODE_END, 79},
    {SDL_SCANCODE_KP_2, 80}, {SDL_SCANCODE_DOWN, 80},
    {SDL_SCANCODE_KP_3, 81}, {SDL_SCANCODE_PAGEDOWN, 81},
    {SDL_SCANCODE_KP_0, 82}, {SDL_SCANCODE_INSERT, 82},
    {SDL_SCANCODE_KP_PERIOD, 83}, {SDL_SCANCODE_DELETE, 83},
    {SDL_SCANCODE_NONUSBACKSLASH, 86},
    {SDL_SCANCODE_F11, 87}, {SDL_SCANCODE_F12, 88},
    {SDL_SCANCODE_LGUI, 91}, {SDL_SCANCODE_RGUI, 92}, {SDL_SCANCODE_APPLICATION, 93},
};

constexpr int kUsageCount = SDL_NUM_SCANCODES;

struct UsageTable {
  uint8_t codes[kUsageCount];
};

constexpr UsageTable makeUsageTable() {
  UsageTable table{};
  for (const UsageCode& entry : kScanCodes) table.codes[entry.usage] = entry.scanCode;
  return table;
}

constexpr UsageTable kUsageTable = makeUsageTable();

// Non-character keys: the grey keys always, the keypad's twins only while Num
// Lock is off (with it on they type digits through text input).
struct CursorKey {
  SDL_Scancode usage;
  bool keypad;
};

constexpr CursorKey kCursorKeys[] = {
    {SDL_SCANCODE_UP, false},    {SDL_SCANCODE_DOWN, false},     {SDL_SCANCODE_LEFT, false},
    {SDL_SCANCODE_RIGHT, false}, {SDL_SCANCODE_HOME, false},     {SDL_SCANCODE_END, false},
    {SDL_SCANCODE_PAGEUP, false}, {SDL_SCANCODE_PAGEDOWN, false}, {SDL_SCANCODE_INSERT, false},
    {SDL_SCANCODE_DELETE, false},
    {SDL_SCANCODE_F1, false},  {SDL_SCANCODE_F2, false},  {SDL_SCANCODE_F3, false},
    {SDL_SCANCODE_F4, false},  {SDL_SCANCODE_F5, false},  {SDL_SCANCODE_F6, false},
    {SDL_SCANCODE_F7, false},  {SDL_SCANCODE_F8, false},  {SDL_SCANCODE_F9, false},
    {SDL_SCANCODE_F10, false}, {SDL_SCANCODE_F11, false}, {SDL_SCANCODE_F12, false},
    {SDL_SCANCODE_KP_8, true}, {SDL_SCANCODE_KP_2, true}, {SDL_SCANCODE_KP_4, true},
    {SDL_SCANCODE_KP_6, true}, {SDL_SCANCODE_KP_7, true}, {SDL_SCANCODE_KP_1, true},
    {SDL_SCANCODE_KP_9, true}, {SDL_SCANCODE_KP_3, true}, {SDL_SCANCODE_KP_0, true},
    {SDL_SCANCODE_KP_PERIOD, true},
};

constexpr bool noCursorKeyReadsAsClose() {
  for (const CursorKey& key : kCursorKeys) {
    if (kUsageTable.codes[key.usage] == kCloseRequestCode || kUsageTable.codes[key.usage] == 0)
      return false;
  }
  return true;
}
static_assert(noCursorKeyReadsAsClose(), "a non-character key must have a code other than 0x6B");

}  // namespace

int scanCodeForUsage(int usage) {
  if (usage < 0 || usage >= kUsageCount) return 0;
  return kUsageTable.codes[usage];
}

KeyEntry entryForKeyPress(const KeyPress& press) {
  constexpr KeyEntry none{0, {0, 0}};
  if (press.alt) return none;
  switch (press.keyCode) {
    case SDLK_ESCAPE: return characterKey(27);
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return characterKey(13);
    case SDLK_BACKSPACE: return characterKey(8);
    case SDLK_TAB: return characterKey(9);
    default: break;
  }
  if (press.control && press.keyCode >= SDLK_a && press.keyCode <= SDLK_z)
    return characterKey(static_cast<uint8_t>(press.keyCode - SDLK_a + 1));
  for (const CursorKey& key : kCursorKeys) {
    if (key.usage != press.usage) continue;
    if (key.keypad && press.numLock) return none;
    return extendedKey(static_cast<uint8_t>(scanCodeForUsage(press.usage)));
  }
  return none;
}

int entriesForText(const char* text, KeyEntry* entries, int capacity) {
  int count = 0;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  size_t at = 0;
  while (bytes[at] != 0 && count < capacity) {
    unsigned char lead = bytes[at];
    uint32_t codePoint = 0;
    int continuation = 0;
    if (lead < 0x80) {
      codePoint = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      codePoint = lead & 0x1Fu;
      continuation = 1;
    } else if ((lead & 0xF0) == 0xE0) {
      codePoint = lead & 0x0Fu;
      continuation = 2;
    } else if ((lead & 0xF8) == 0xF0) {
      codePoint = lead & 0x07u;
      continuation = 3;
    } else {
      ++at;  // a stray continuation byte or an invalid lead byte
      continue;
    }
    ++at;
    bool complete = true;
    for (int i = 0; i < continuation; ++i) {
      if ((bytes[at] & 0xC0) != 0x80) {
        complete = false;  // cut short: resume at this byte (it may lead the next one)
        break;
      }
      codePoint = (codePoint << 6) | (bytes[at] & 0x3Fu);
      ++at;
    }
    if (!complete) continue;
    constexpr uint32_t kShortest[] = {0, 0x80, 0x800, 0x10000};
    if (codePoint < kShortest[continuation]) continue;  // over-long form
    // Control characters come from key-down events; text input never adds them.
    if (codePoint < 0x20 || codePoint == 0x7F || codePoint > 0xFF) continue;
    entries[count++] = characterKey(static_cast<uint8_t>(codePoint));
  }
  return count;
}

}  // namespace drec
