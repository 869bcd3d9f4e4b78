// A Console that keeps what was printed, for byte-exact checks.
#pragma once
#include <cstddef>
#include <string>

#include "platform/console.hpp"

namespace drec::test {

struct CapturedConsole {
  std::string text;
};

inline Console capturingConsole(CapturedConsole& captured) {
  return Console{&captured, [](void* context, const char* text, size_t length) {
                   static_cast<CapturedConsole*>(context)->text.append(text, length);
                 }};
}

}  // namespace drec::test
