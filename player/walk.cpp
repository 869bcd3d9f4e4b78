#include "player/walk.hpp"

#include <cstdio>

#include "recording/format.hpp"

namespace drec {

WalkResult walkRecords(const uint8_t* records, uint32_t length, const RecordHandlers& handlers,
                       const Console& console, bool& damaged) {
  uint32_t offset = 0;
  while (offset < length) {
    const uint8_t type = records[offset];
    const uint32_t left = length - offset;
    if (type == kRecordTriangle && left >= kTriangleSize) {
      handlers.triangle(handlers.context, records + offset);
      offset += kTriangleSize;
    } else if (type == kRecordFrameMark && left >= kFrameMarkSize) {
      if (handlers.frameMark(handlers.context, decodeFrameMark(records + offset).time) ==
          PaceResult::Quit)
        return WalkResult::Quit;
      offset += kFrameMarkSize;
    } else if (type == kRecordTriangle || type == kRecordFrameMark) {
      printLine(console, "Record runs past the end of its chunk");
      damaged = true;
      return WalkResult::EndOfChunk;
    } else if (type == kRecordPointA || type == kRecordPointB) {
      printLine(console, "Points Not implemented!");
      return WalkResult::EndOfChunk;
    } else {
      // The type byte and the byte after it, as the recorder's 16-bit field;
      // a byte past the end of the chunk counts as 0.
      uint16_t value = left >= 2 ? loadU16(records + offset) : type;
      char message[48];
      std::snprintf(message, sizeof message, "Unknown record type %u", static_cast<unsigned>(value));
      printLine(console, message);
      damaged = true;
      return WalkResult::EndOfChunk;
    }
  }
  return WalkResult::EndOfChunk;
}

}  // namespace drec
