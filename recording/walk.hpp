// The record walk: the records of one decompressed chunk, back to back from a
// given offset, handed to a handler one by one, and where and why the walk
// stopped.
//
// A triangle (26 bytes) goes to `handler.triangle(record)`, a frame mark
// (8 bytes) to `handler.frameMark(timeStamp)`, which may ask to stop: the
// walk then ends right after that mark, and a later walk from the offset it
// reports goes on with the next record. A point record (types 3 and 4: their
// size is unknown), any other type byte, or a record running past the end of
// the chunk ends the walk of the chunk. Nothing outside the `length` bytes is
// read.
#pragma once
#include <cstdint>

#include "platform/console.hpp"
#include "recording/format.hpp"

namespace drec {

enum class RecordAction { Continue, Stop };

enum class WalkStop : uint8_t {
  EndOfChunk,    // every record walked
  PointRecord,   // type 3 or 4: the rest of the chunk is skipped
  InvalidType,   // any other type byte: the rest of the chunk is skipped
  PastEnd,       // a triangle or frame mark runs past the end of the chunk
  Stopped,       // the handler asked to stop after a frame mark
};

struct WalkEnd {
  WalkStop reason;
  // EndOfChunk: the chunk's length; Stopped: the record after the mark;
  // otherwise the record that ended the walk.
  uint32_t offset;
  uint8_t type;         // the type byte at `offset` (not for EndOfChunk or Stopped)
  uint16_t typeValue;   // InvalidType: the type byte and the byte after it,
                        // little-endian; a byte past the end counts as 0
};

// Damage: an invalid type or a record past the end (points are not damage).
inline bool walkMetDamage(const WalkEnd& end) {
  return end.reason == WalkStop::InvalidType || end.reason == WalkStop::PastEnd;
}

// The player's line for a walk that ended early at a point record, an invalid
// type or a record past the end; nothing for the other ends. Returns whether
// the end is damage.
bool reportWalkEnd(const WalkEnd& end, const Console& console);

// The walk for a handler with members `void triangle(const uint8_t* record)`
// and `RecordAction frameMark(float timeStamp)`, known at compile time: the
// player's hot loop, where a call per record through a pointer would cost a
// few percent of decompression.
template <typename Handler>
WalkEnd walkRecords(const uint8_t* records, uint32_t length, uint32_t offset, Handler& handler) {
  while (offset < length) {
    const uint8_t type = records[offset];
    const uint32_t left = length - offset;
    if (type == kRecordTriangle && left >= kTriangleSize) {
      handler.triangle(records + offset);
      offset += kTriangleSize;
    } else if (type == kRecordFrameMark && left >= kFrameMarkSize) {
      const RecordAction action = handler.frameMark(decodeFrameMark(records + offset).time);
      offset += kFrameMarkSize;
      if (action == RecordAction::Stop) return WalkEnd{WalkStop::Stopped, offset, 0, 0};
    } else if (type == kRecordTriangle || type == kRecordFrameMark) {
      return WalkEnd{WalkStop::PastEnd, offset, type, type};
    } else if (type == kRecordPointA || type == kRecordPointB) {
      return WalkEnd{WalkStop::PointRecord, offset, type, type};
    } else {
      const uint16_t value = left >= 2 ? loadU16(records + offset) : type;
      return WalkEnd{WalkStop::InvalidType, offset, type, value};
    }
  }
  return WalkEnd{WalkStop::EndOfChunk, length, 0, 0};
}

}  // namespace drec
