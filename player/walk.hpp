// The record walk: one decompressed chunk, record by record, from its first
// byte. Frame marks go to the pacer, triangles to the drawing; point records
// and invalid types end the walk of their chunk with a message.
#pragma once
#include <cstdint>

#include "platform/console.hpp"
#include "player/pacer.hpp"

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

}  // namespace drec
