// The triangles of one indexed frame, as the recording holds them and as the
// GL takes them: for each, in drawing order, where its record lies, its
// decoded fields, the drawing state around it and where its vertices land in
// the recorded picture. What the inspection views (wireframe, overdraw,
// texture slots) and the pixel history are built on.
#pragma once
#include <cstdint>
#include <vector>

#include "recording/format.hpp"
#include "recording/reader.hpp"
#include "render/triangles.hpp"
#include "tools/drec/frame_index.hpp"

namespace drec {

// What the GL makes of a triangle record.
enum class TriangleFate : uint8_t {
  drawn,     // every vertex has w of 2 or more and lands within the picture
  clipped,   // drawn, but a vertex with w below 2 or landing off the picture
             // makes the GL clip it: only part of its landing triangle shows
  notDrawn,  // a vertex of depth 0: its state byte counts, nothing is drawn
};

// Where a record lies in the files: the chunk holding it and its place in
// the chunk once decompressed.
struct RecordLocation {
  int32_t segment;        // segment file number
  int64_t chunkOffset;    // the chunk's length word, from the start of that file
  uint32_t recordOffset;  // the record's type byte, in the decompressed chunk
};

struct FrameTriangle {
  uint32_t index;  // in the frame, from 0, in drawing order
  RecordLocation location;
  uint8_t bytes[kTriangleSize];  // the record as read, type byte first (for drawTriangle)
  TexturedTriangle record;       // its state byte and three vertices, decoded
  int slot;                      // textureSlotOf(record.state)
  int blendMode;                 // blendModeOf(record.state): 0 to 7
  FrameDrawState before;         // the drawing state when it comes
  FrameDrawState after;          // and once its state byte is handled
  // Where each vertex lands in the recorded picture, in pixels: x from the
  // left edge, y down from the top edge (0 for a vertex of depth 0).
  float landingX[3];
  float landingY[3];
  TriangleFate fate;
};

// `frame` (indexed) read through `reader`, which reads a stream of its own:
// it is restored to the frame's start and left after the frame's mark. The
// player's messages are not printed (the index met them first).
// `triangles` is the caller's, cleared and refilled: no allocation once it
// has grown to the frame's size. `renderer` gives the landing tables. False
// when a segment file no longer opens.
bool readFrameTriangles(RecordReader& reader, const FrameIndex& index,
                        const TriangleRenderer& renderer, int64_t frame,
                        std::vector<FrameTriangle>& triangles);

}  // namespace drec
