#include "platform/console.hpp"

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace drec {
namespace {

// write(2) straight to the descriptor: nothing is buffered, so every print is
// visible to a pipe reader as soon as it returns.
void writeStandardOutput(void*, const char* text, size_t length) {
  while (length > 0) {
    ssize_t written = ::write(STDOUT_FILENO, text, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;  // nowhere to report it; the program goes on
    text += written;
    length -= static_cast<size_t>(written);
  }
}

// Keys arrive as bytes. A key that sends several bytes (arrows, function
// keys, a UTF-8 character) is read away whole, byte by byte, never further:
// the byte after it belongs to the next key. The terminal sends one key's
// bytes together, so a byte that belongs to the same key is waited for only
// briefly.

constexpr int kSequenceByteWaitMs = 25;
constexpr int kLongestSequence = 16;
constexpr uint8_t kEscape = 0x1B;

// PC scan codes (set 1) as the code byte of a non-character key.
constexpr uint8_t kCodeF1 = 0x3B;  // F1 to F10 follow in order
constexpr uint8_t kCodeHome = 0x47;
constexpr uint8_t kCodeUp = 0x48;
constexpr uint8_t kCodePageUp = 0x49;
constexpr uint8_t kCodeLeft = 0x4B;
constexpr uint8_t kCodeCentre = 0x4C;
constexpr uint8_t kCodeRight = 0x4D;
constexpr uint8_t kCodeEnd = 0x4F;
constexpr uint8_t kCodeDown = 0x50;
constexpr uint8_t kCodePageDown = 0x51;
constexpr uint8_t kCodeInsert = 0x52;
constexpr uint8_t kCodeDelete = 0x53;
constexpr uint8_t kCodeF11 = 0x57;
constexpr uint8_t kCodeF12 = 0x58;
constexpr uint8_t kCodeBackTab = 0x0F;

enum class KeyKind {
  Nothing,     // no byte waiting
  Character,   // `code` is the character (8-bit)
  Extended,    // a recognised sequence; `code` is its code byte
  LoneEscape,  // the Escape key by itself
  Other,       // a key the player has no entry for (Alt+key, unknown sequence)
  Closed,      // the terminal hung up or reading failed
};

struct TerminalKey {
  KeyKind kind;
  uint8_t code;
};

// Reads one byte if it arrives within `waitMs` (0: only if already there).
// -1 when nothing came, -2 when the terminal hung up.
int readByte(int waitMs) {
  pollfd entry{STDIN_FILENO, POLLIN, 0};
  int ready;
  do {
    ready = poll(&entry, 1, waitMs);
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) return -1;
  if ((entry.revents & POLLIN) == 0) return -2;  // POLLHUP, POLLERR or POLLNVAL alone
  uint8_t byte = 0;
  ssize_t got;
  do {
    got = ::read(STDIN_FILENO, &byte, 1);
  } while (got < 0 && errno == EINTR);
  if (got == 1) return byte;
  if (got < 0 && errno == EAGAIN) return -1;
  return -2;
}

uint8_t tildeKeyCode(int number) {
  switch (number) {
    case 1: case 7: return kCodeHome;
    case 2: return kCodeInsert;
    case 3: return kCodeDelete;
    case 4: case 8: return kCodeEnd;
    case 5: return kCodePageUp;
    case 6: return kCodePageDown;
    case 11: case 12: case 13: case 14: case 15:
      return static_cast<uint8_t>(kCodeF1 + (number - 11));
    case 17: case 18: case 19: case 20: case 21:
      return static_cast<uint8_t>(kCodeF1 + 5 + (number - 17));
    case 23: return kCodeF11;
    case 24: return kCodeF12;
    default: return 0;
  }
}

// The final letter of ESC [ ... x or ESC O ... x.
uint8_t letterKeyCode(uint8_t letter) {
  switch (letter) {
    case 'A': return kCodeUp;
    case 'B': return kCodeDown;
    case 'C': return kCodeRight;
    case 'D': return kCodeLeft;
    case 'E': case 'G': return kCodeCentre;
    case 'H': return kCodeHome;
    case 'F': return kCodeEnd;
    case 'P': case 'Q': case 'R': case 'S':
      return static_cast<uint8_t>(kCodeF1 + (letter - 'P'));
    case 'Z': return kCodeBackTab;
    default: return 0;
  }
}

TerminalKey extendedOrOther(uint8_t code) {
  return code != 0 ? TerminalKey{KeyKind::Extended, code} : TerminalKey{KeyKind::Other, 0};
}

// After ESC and its introducer ('[' or 'O'): parameter bytes (digits, ';'),
// intermediate bytes, then one final byte. The first number is the key for
// "~" sequences; a second one (modifiers: Shift, Ctrl, Alt) is ignored, so
// Ctrl+Up counts as Up.
TerminalKey readSequenceRest(uint8_t introducer) {
  int number = -1;
  bool inFirstNumber = true;
  for (int taken = 2; taken < kLongestSequence; ++taken) {
    int byte = readByte(kSequenceByteWaitMs);
    if (byte == -2) return TerminalKey{KeyKind::Closed, 0};
    if (byte < 0) return TerminalKey{KeyKind::Other, 0};  // cut short: read away what came
    if (introducer == '[' && taken == 2 && byte == '[') {
      // The Linux console's F1 to F5: ESC [ [ A to ESC [ [ E.
      int letter = readByte(kSequenceByteWaitMs);
      if (letter == -2) return TerminalKey{KeyKind::Closed, 0};
      if (letter >= 'A' && letter <= 'E')
        return TerminalKey{KeyKind::Extended, static_cast<uint8_t>(kCodeF1 + (letter - 'A'))};
      return TerminalKey{KeyKind::Other, 0};
    }
    if (byte >= '0' && byte <= '9') {
      if (inFirstNumber && number < 1000) number = (number < 0 ? 0 : number * 10) + (byte - '0');
      continue;
    }
    if (byte >= 0x20 && byte <= 0x3F) {  // other parameter and intermediate bytes
      inFirstNumber = false;
      continue;
    }
    if (byte >= 0x40 && byte <= 0x7E) {
      if (byte == '~') return extendedOrOther(introducer == '[' ? tildeKeyCode(number) : 0);
      return extendedOrOther(letterKeyCode(static_cast<uint8_t>(byte)));
    }
    return TerminalKey{KeyKind::Other, 0};  // not a sequence after all
  }
  return TerminalKey{KeyKind::Other, 0};
}

// A UTF-8 character is one key; its code is the character when it fits in
// 8 bits, "?" otherwise. A byte that does not continue it ends it (a
// terminal in an 8-bit encoding sends single bytes anyway).
TerminalKey readCharacterRest(uint8_t lead) {
  int following = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
  uint32_t value = lead & (lead >= 0xF0 ? 0x07u : lead >= 0xE0 ? 0x0Fu : 0x1Fu);
  for (int i = 0; i < following; ++i) {
    int byte = readByte(kSequenceByteWaitMs);
    if (byte == -2) return TerminalKey{KeyKind::Closed, 0};
    if (byte < 0 || (byte & 0xC0) != 0x80) return TerminalKey{KeyKind::Character, lead};
    value = (value << 6) | static_cast<uint32_t>(byte & 0x3F);
  }
  return TerminalKey{KeyKind::Character, value <= 0xFF ? static_cast<uint8_t>(value) : uint8_t{'?'}};
}

// Reads one whole key if one is waiting (the terminal must be non-canonical).
TerminalKey readKey() {
  int first = readByte(0);
  if (first == -1) return TerminalKey{KeyKind::Nothing, 0};
  if (first == -2) return TerminalKey{KeyKind::Closed, 0};
  if (first >= 0xC2 && first <= 0xF4) return readCharacterRest(static_cast<uint8_t>(first));
  if (first != kEscape) return TerminalKey{KeyKind::Character, static_cast<uint8_t>(first)};
  int second = readByte(kSequenceByteWaitMs);
  if (second == -1) return TerminalKey{KeyKind::LoneEscape, kEscape};
  if (second == -2) return TerminalKey{KeyKind::Closed, 0};
  if (second == '[' || second == 'O') return readSequenceRest(static_cast<uint8_t>(second));
  // Escape twice in one burst is at least one Escape press.
  if (second == kEscape) return TerminalKey{KeyKind::LoneEscape, kEscape};
  // ESC and a character is how a terminal sends Alt+character; a key pressed
  // with Alt adds nothing, as in the window. (Escape and then a letter typed
  // apart but read at one look cannot be told from it.)
  if (second >= 0xC2 && second <= 0xF4) {
    TerminalKey rest = readCharacterRest(static_cast<uint8_t>(second));
    if (rest.kind == KeyKind::Closed) return rest;
  }
  return TerminalKey{KeyKind::Other, 0};
}

// The terminal on standard input, when this process may read it and switch
// its modes: a background job would be stopped by the attempt.
bool haveTerminal(termios& settings) {
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &settings) != 0) return false;
  pid_t foreground = tcgetpgrp(STDIN_FILENO);
  return foreground < 0 || foreground == getpgrp();  // < 0: not our controlling terminal
}

// Non-canonical (bytes readable one by one, no line editing), no echo;
// ISIG stays, so Ctrl+C still interrupts. Reads never block.
termios keyModeOf(const termios& saved) {
  termios keyMode = saved;
  keyMode.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  keyMode.c_cc[VMIN] = 0;
  keyMode.c_cc[VTIME] = 0;
  return keyMode;
}

// TCSANOW, never TCSAFLUSH: a key typed before the switch must stay readable.
void setTerminal(const termios& settings) {
  while (tcsetattr(STDIN_FILENO, TCSANOW, &settings) != 0 && errno == EINTR) {
  }
}

// The settings to restore when a signal ends the process during a key wait.
// The one piece of state outside the caller's hands: a signal handler can
// reach nothing else. Written before the handlers are installed.
termios gSettingsBeforeWait;

constexpr int kWaitSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kWaitSignalCount = static_cast<int>(sizeof kWaitSignals / sizeof kWaitSignals[0]);

// Restores the terminal, then lets the signal do what it does by default
// (end the process): it is delivered again when the handler returns.
void restoreTerminalAndReraise(int signalNumber) {
  int savedErrno = errno;
  tcsetattr(STDIN_FILENO, TCSANOW, &gSettingsBeforeWait);
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
  errno = savedErrno;
}

struct WaitSignalHandlers {
  struct sigaction previous[kWaitSignalCount];
  bool installed[kWaitSignalCount];
};

void installWaitHandlers(WaitSignalHandlers& handlers) {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = restoreTerminalAndReraise;
  sigemptyset(&action.sa_mask);
  for (int signalNumber : kWaitSignals) sigaddset(&action.sa_mask, signalNumber);
  for (int i = 0; i < kWaitSignalCount; ++i) {
    handlers.installed[i] = false;
    if (sigaction(kWaitSignals[i], nullptr, &handlers.previous[i]) != 0) continue;
    // An ignored signal (nohup's SIGHUP) stays ignored.
    if (handlers.previous[i].sa_handler == SIG_IGN) continue;
    handlers.installed[i] = sigaction(kWaitSignals[i], &action, nullptr) == 0;
  }
}

void removeWaitHandlers(const WaitSignalHandlers& handlers) {
  for (int i = 0; i < kWaitSignalCount; ++i)
    if (handlers.installed[i]) sigaction(kWaitSignals[i], &handlers.previous[i], nullptr);
}

// One look for the no-display keyboard. The terminal is switched to key mode
// only around each look and back at once, not for the whole playback: then a
// process killed at any moment (even by SIGKILL, which no handler sees)
// leaves the terminal as it found it, and no handlers or saved state need to
// live across calls. The price: between looks the terminal is canonical with
// echo, so keys typed during playback are echoed, and line-editing keys
// (Backspace, Ctrl+U) act on the waiting bytes instead of reaching us.
template <typename Look>
bool lookAtTerminal(Look look) {
  termios saved;
  if (!haveTerminal(saved)) return false;
  setTerminal(keyModeOf(saved));
  bool result = look();
  setTerminal(saved);
  return result;
}

// The next key waiting, with sequences that are no key of ours read away;
// false when nothing waits or the terminal has closed.
bool nextTerminalKey(TerminalKey& key) {
  for (;;) {
    key = readKey();
    switch (key.kind) {
      case KeyKind::Nothing:
      case KeyKind::Closed:
        return false;
      case KeyKind::Character:
      case KeyKind::LoneEscape:
      case KeyKind::Extended:
        return true;
      case KeyKind::Other:
        break;  // read away; look at the next one
    }
  }
}

// The key-buffer entry of a key: a lone Escape is the character 27.
KeyEntry entryOf(const TerminalKey& key) {
  return key.kind == KeyKind::Extended ? extendedKey(key.code) : characterKey(key.code);
}

bool takeOneKey(uint8_t bytes[2], int* length) {
  TerminalKey key;
  if (!nextTerminalKey(key)) return false;
  const KeyEntry entry = entryOf(key);
  for (int i = 0; i < entry.length; ++i) bytes[i] = entry.bytes[i];
  *length = entry.length;
  return true;
}

bool findEscape(KeyBuffer* passedOver) {
  TerminalKey key;
  while (nextTerminalKey(key)) {
    if (key.kind == KeyKind::LoneEscape) return true;  // what follows stays waiting
    if (passedOver) pushKey(*passedOver, entryOf(key));
  }
  return false;
}

}  // namespace

Console standardOutputConsole() { return Console{nullptr, writeStandardOutput}; }

void printText(const Console& console, const char* text) {
  console.write(console.context, text, std::strlen(text));
}

void printLine(const Console& console, const char* text) {
  console.write(console.context, text, std::strlen(text));
  console.write(console.context, "\n", 1);
}

int formatDecimal(int64_t value, char* buffer) {
  // The magnitude in unsigned arithmetic, so that INT64_MIN has one too.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  char reversed[20];
  int digits = 0;
  do {
    reversed[digits++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  int length = 0;
  if (value < 0) buffer[length++] = '-';
  while (digits > 0) buffer[length++] = reversed[--digits];
  buffer[length] = '\0';
  return length;
}

void consoleKeyWait() {
  termios saved;
  if (!haveTerminal(saved)) return;
  gSettingsBeforeWait = saved;
  WaitSignalHandlers handlers;
  installWaitHandlers(handlers);
  setTerminal(keyModeOf(saved));
  // The first look is at once; each later one waits up to 50 ms, and poll
  // wakes as soon as a byte arrives.
  pollfd entry{STDIN_FILENO, POLLIN, 0};
  for (int waitMs = 0;; waitMs = 50) {
    int ready = poll(&entry, 1, waitMs);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    if ((entry.revents & POLLIN) == 0) break;  // hung up: no key will come
    if (readKey().kind != KeyKind::Nothing) break;
  }
  setTerminal(saved);
  removeWaitHandlers(handlers);
}

bool consoleTakeKey(uint8_t bytes[2], int* length) {
  *length = 0;
  return lookAtTerminal([&] { return takeOneKey(bytes, length); });
}

bool consoleEscapeWaiting() {
  return lookAtTerminal([] { return findEscape(nullptr); });
}

bool consoleEscapeWaiting(KeyBuffer& passedOver) {
  return lookAtTerminal([&] { return findEscape(&passedOver); });
}

}  // namespace drec
