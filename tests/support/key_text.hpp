// Key-buffer entries as text for test messages: "1B", "FF 48", or "none".
#pragma once
#include <cstdio>
#include <string>

#include "platform/keys.hpp"

namespace drec::test {

inline std::string describeKey(const KeyEntry& entry) {
  if (entry.length == 0) return "none";
  char text[16];
  if (entry.length == 1) {
    std::snprintf(text, sizeof text, "%02X", entry.bytes[0]);
  } else {
    std::snprintf(text, sizeof text, "%02X %02X", entry.bytes[0], entry.bytes[1]);
  }
  return text;
}

}  // namespace drec::test
