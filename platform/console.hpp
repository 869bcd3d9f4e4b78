// Console: standard output and, before a window exists, the terminal keyboard.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/keys.hpp"

namespace drec {

// Where the program's lines go. The real one writes to standard output and
// flushes after every print, so that a reader of a pipe sees "Done." (which
// has no line end) at once. Tests and fuzzers substitute their own.
struct Console {
  void* context;
  void (*write)(void* context, const char* text, size_t length);
};

Console standardOutputConsole();
void printText(const Console& console, const char* text);
void printLine(const Console& console, const char* text);  // text, then "\n"

// Number formatting shared by every message: plain decimal digits with a "-"
// before a negative value. Returns the length written (buffer of at least 21).
int formatDecimal(int64_t value, char* buffer);

// Waits for one key on the terminal on standard input: looks at once and then
// every 50 ms; a key typed earlier and not yet read ends it at once. A
// multi-byte key sequence (arrows, function keys) counts as one key and is
// read away whole. Returns at once when standard input is not a terminal, so
// scripts never hang. The terminal is restored afterwards, also on a signal.
void consoleKeyWait();

// Whether standard input is a terminal, so that a key can ever come from it.
bool consoleHasTerminal();
// Whether standard error is a terminal, where a progress line may be drawn.
bool standardErrorIsTerminal();

// Non-blocking look at the terminal for the no-display fallback. Each returns
// false when standard input is not a terminal or nothing is waiting. The
// terminal is in key mode only during each look (see console.cpp for why):
// between looks it echoes what is typed.
// Takes one key press: `bytes` gets 1 byte for a character (Escape is 27), or
// 0xFF and a code byte for a recognised escape sequence: the key's PC scan
// code (arrows 0x48/0x4B/0x4D/0x50, F1-F10 0x3B-0x44, ...), never 0x6B.
// Keys pressed with Alt and unknown sequences are read away and skipped.
bool consoleTakeKey(uint8_t bytes[2], int* length);
// True when a lone Escape byte (not the start of a key sequence) is waiting;
// it is consumed. Keys waiting before it are read away to reach it: this form
// drops them, the other puts them into `passedOver` (a display without a
// window keeps them in its key buffer, for next key to hand out first).
bool consoleEscapeWaiting();
bool consoleEscapeWaiting(KeyBuffer& passedOver);

}  // namespace drec
