#include "player/walk.hpp"

#include <cstdio>

namespace drec {
namespace {

struct PointerHandler {
  const RecordHandlers* handlers;
  void triangle(const uint8_t* record) { handlers->triangle(handlers->context, record); }
  PaceResult frameMark(float timeStamp) { return handlers->frameMark(handlers->context, timeStamp); }
};

}  // namespace

void reportWalkStop(const uint8_t* record, uint32_t left, const Console& console, bool& damaged) {
  const uint8_t type = record[0];
  if (type == kRecordTriangle || type == kRecordFrameMark) {
    printLine(console, "Record runs past the end of its chunk");
    damaged = true;
  } else if (type == kRecordPointA || type == kRecordPointB) {
    printLine(console, "Points Not implemented!");
  } else {
    // The type byte and the byte after it, as the recorder's 16-bit field;
    // a byte past the end of the chunk counts as 0.
    const uint16_t value = left >= 2 ? loadU16(record) : type;
    char message[48];
    std::snprintf(message, sizeof message, "Unknown record type %u", static_cast<unsigned>(value));
    printLine(console, message);
    damaged = true;
  }
}

WalkResult walkRecords(const uint8_t* records, uint32_t length, const RecordHandlers& handlers,
                       const Console& console, bool& damaged) {
  PointerHandler handler{&handlers};
  return walkRecordsWith(records, length, handler, console, damaged);
}

}  // namespace drec
