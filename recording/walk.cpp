#include "recording/walk.hpp"

#include <cstdio>

namespace drec {

bool reportWalkEnd(const WalkEnd& end, const Console& console) {
  switch (end.reason) {
    case WalkStop::PastEnd:
      printLine(console, "Record runs past the end of its chunk");
      break;
    case WalkStop::PointRecord:
      printLine(console, "Points Not implemented!");
      break;
    case WalkStop::InvalidType: {
      char message[48];
      std::snprintf(message, sizeof message, "Unknown record type %u",
                    static_cast<unsigned>(end.typeValue));
      printLine(console, message);
      break;
    }
    case WalkStop::EndOfChunk:
    case WalkStop::Stopped:
      break;
  }
  return walkMetDamage(end);
}

}  // namespace drec
