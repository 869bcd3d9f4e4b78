// The record walk: one decompressed chunk, record by record, from its first
// byte. Frame marks go to the pacer, triangles to the drawing; point records
// and invalid types end the walk of their chunk with a message.
#pragma once
#include <cstdint>

#include "platform/console.hpp"
#include "player/pacer.hpp"
#include "recording/format.hpp"

namespace drec {

struct RecordHandlers {
  void* context;
  void (*triangle)(void* context, const uint8_t* record);  // the 26 record bytes
  PaceResult (*frameMark)(void* context, float timeStamp);
};

enum class WalkResult {
  EndOfChunk,  // every record walked, or the walk stopped at a point or invalid record
  Quit,        // the pacer reported a quit request
};

// Walks `length` bytes of `records`. Sets `damaged` when an invalid record
// type or a record running past the end of the chunk was met; nothing
// outside the `length` bytes is read.
WalkResult walkRecords(const uint8_t* records, uint32_t length, const RecordHandlers& handlers,
                       const Console& console, bool& damaged);

// The record that stops a walk (a point record, an invalid type, or a record
// running past the end): prints its message. `left` bytes remain from it.
void reportWalkStop(const uint8_t* record, uint32_t left, const Console& console, bool& damaged);

// The same walk for a handler known at compile time, with members
// `void triangle(const uint8_t* record)` and `PaceResult frameMark(float)`:
// the player's hot loop, where a call per record through a pointer would
// cost a few percent of decompression.
template <typename Handler>
WalkResult walkRecordsWith(const uint8_t* records, uint32_t length, Handler& handler,
                           const Console& console, bool& damaged) {
  uint32_t offset = 0;
  while (offset < length) {
    const uint8_t type = records[offset];
    const uint32_t left = length - offset;
    if (type == kRecordTriangle && left >= kTriangleSize) {
      handler.triangle(records + offset);
      offset += kTriangleSize;
    } else if (type == kRecordFrameMark && left >= kFrameMarkSize) {
      if (handler.frameMark(decodeFrameMark(records + offset).time) == PaceResult::Quit)
        return WalkResult::Quit;
      offset += kFrameMarkSize;
    } else {
      reportWalkStop(records + offset, left, console, damaged);
      return WalkResult::EndOfChunk;
    }
  }
  return WalkResult::EndOfChunk;
}

}  // namespace drec
