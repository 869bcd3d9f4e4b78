// How keys of the window system become the player's keys: PC scan codes for
// the key-state table, and key-buffer entries for key presses.
//
// Keys are named by USB HID keyboard usage numbers, which are also SDL's
// scancode values, and by SDL key codes (a character key's code is its
// character), so that this header needs no SDL header.
#pragma once
#include <cstdint>

#include "platform/keys.hpp"

namespace drec {

// PC scan code (set 1, without the 0xE0 prefix, so the grey arrows and the
// keypad cursor keys share a code) for a USB keyboard usage; 0 for a key that
// has none below 128.
int scanCodeForUsage(int usage);

struct KeyPress {
  int usage;        // USB keyboard usage (SDL scancode)
  int32_t keyCode;  // SDL key code from the keyboard layout
  bool alt;         // an Alt key is held
  bool control;     // a Ctrl key is held
  bool numLock;     // Num Lock is on
};

// The entry a key-down event adds to the key buffer, or an empty entry (length
// 0). Printable characters come from text input (see below), not from here;
// this gives Escape 27, Enter 13, Backspace 8, Tab 9, Ctrl+letter 1-26, and
// 0xFF plus the key's scan code for the non-character keys (arrows, F1-F12,
// Home, End, Page Up, Page Down, Insert, Delete, and the keypad cursor keys
// while Num Lock is off). No code byte is 0x6B, the close request's.
KeyEntry entryForKeyPress(const KeyPress& press);

// Text input is UTF-8; each code point below 256 becomes one 8-bit character
// entry, others are dropped. Writes at most `capacity` entries and returns
// the count. Malformed bytes are skipped.
int entriesForText(const char* text, KeyEntry* entries, int capacity);

}  // namespace drec
