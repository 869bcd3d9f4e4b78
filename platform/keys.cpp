#include "platform/keys.hpp"

namespace drec {

void clearKeyBuffer(KeyBuffer& buffer) {
  buffer.head = 0;
  buffer.count = 0;
}

void pushKey(KeyBuffer& buffer, KeyEntry entry) {
  if (entry.length == 0) return;
  // 16 slots, one kept free: a full buffer holds 15 and loses its oldest.
  if (buffer.count == kKeyBufferSlots - 1) {
    buffer.head = (buffer.head + 1) % kKeyBufferSlots;
    --buffer.count;
  }
  buffer.slots[(buffer.head + buffer.count) % kKeyBufferSlots] = entry;
  ++buffer.count;
}

KeyEntry popKey(KeyBuffer& buffer) {
  if (buffer.count == 0) return KeyEntry{0, {0, 0}};
  KeyEntry entry = buffer.slots[buffer.head];
  buffer.head = (buffer.head + 1) % kKeyBufferSlots;
  --buffer.count;
  return entry;
}

}  // namespace drec
