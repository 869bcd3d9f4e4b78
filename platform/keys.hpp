// Keys as the player sees them: the key-state table and the key buffer.
//
// Key-state table: 128 entries indexed by PC keyboard scan code (set 1:
// 1 = Escape, 2-11 the digit row, 28 = Enter, 57 = Space, 59-68 = F1-F10,
// 72/75/77/80 = the arrows); an entry is set while its key is down.
// Key buffer: first in, first out, 16 slots holding at most 15 entries; adding
// to a full buffer drops the oldest entry. An entry is a character (1 byte),
// a non-character key (0xFF and a code byte), or the window's close request
// (0xFF 0x6B).
#pragma once
#include <cstdint>

namespace drec {

constexpr int kScanCodeEscape = 1;
constexpr int kKeyStateCount = 128;
constexpr int kKeyBufferSlots = 16;
constexpr uint8_t kExtendedKeyPrefix = 0xFF;
constexpr uint8_t kCloseRequestCode = 0x6B;

struct KeyEntry {
  uint8_t length;  // 0: no entry, 1: character, 2: 0xFF and a code byte
  uint8_t bytes[2];
};

inline bool isCloseRequest(const KeyEntry& entry) {
  return entry.length == 2 && entry.bytes[0] == kExtendedKeyPrefix &&
         entry.bytes[1] == kCloseRequestCode;
}

struct KeyBuffer {
  KeyEntry slots[kKeyBufferSlots];
  int head;   // oldest entry
  int count;  // 0 to kKeyBufferSlots - 1
};

void clearKeyBuffer(KeyBuffer& buffer);
void pushKey(KeyBuffer& buffer, KeyEntry entry);  // drops the oldest when full
KeyEntry popKey(KeyBuffer& buffer);               // length 0 when empty

inline KeyEntry characterKey(uint8_t code) { return KeyEntry{1, {code, 0}}; }
inline KeyEntry extendedKey(uint8_t code) { return KeyEntry{2, {kExtendedKeyPrefix, code}}; }
inline KeyEntry closeRequestKey() { return extendedKey(kCloseRequestCode); }

}  // namespace drec
