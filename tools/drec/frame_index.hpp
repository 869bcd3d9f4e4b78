// FrameIndex: one reading pass over a recording that says, for every frame,
// where its records start and what the drawing state is there, so that a
// reading can start at any frame instead of at the first.
//
// A frame's picture depends only on the picture earlier frames left and on
// the drawing state the last triangles left: the texture slot bound, the
// blend mode last handled (the triangle cache) and the blend state in force
// (modes 3 to 7 send nothing, so the last 0, 1 or 2 stays). With the
// reader's whole state at the frame's first record, reading from there gives
// exactly what reading on from the start would, the end of the recording and
// its damage included.
//
// The pass runs in slices (indexFrames) so that a viewer can build the index
// between the frames it shows; it reads with a stream of its own.
#pragma once
#include <cstdint>
#include <vector>

#include "recording/reader.hpp"
#include "tools/drec/frame_plan.hpp"

namespace drec {

// The blend state set up before the first frame: source-alpha blending, as
// mode 1 sets it.
constexpr int8_t kBlendInForceAtStart = 1;

struct FrameDrawState {
  int8_t slot;         // the triangle cache: texture slot last bound, -1 none yet
  int8_t blendMode;    // the triangle cache: blend mode last handled (0 to 7), -1 none yet
  int8_t blendInForce;  // 0, 1 or 2: the GL's blend state
};

struct IndexedFrame {
  ReaderPosition start;  // the reader at the frame's first record
  FrameDrawState state;  // in force at its first record
  float recordedTime;    // its frame mark's time stamp
  double pacedTime;      // on the paced clock of export --fps: frame 0 at 0
  uint32_t triangles;
  int64_t horizon;  // the earliest frame whose drawing can still show in this one's picture
};

struct FrameIndex {
  std::vector<IndexedFrame> frames;
  std::vector<int64_t> damagedFrames;  // frames in which the reading met damage, in order
  std::vector<int64_t> pausedFrames;   // frames after a gap of a quarter second or more
  bool complete;
  ReadEnd end;  // how the pass ended, once complete

  // The pass, between slices.
  RecordReader reader;
  FrameDrawState state;       // after the last record read
  FrameDrawState frameState;  // at the start of the frame being read
  ReaderPosition frameStart;
  uint32_t frameTriangles;
  ImageClock pacedClock;
};

// Starts the pass on `stream` (started, at its first chunk, used by the pass
// alone); `expectedFrames` reserves the rows (the frame count from a census,
// or 0).
void startFrameIndex(FrameIndex& index, SegmentedStream& stream, int64_t expectedFrames);
// Indexes up to `frames` more frames; true once the whole recording is done.
bool indexFrames(FrameIndex& index, int64_t frames);
// The drawing state after handling one record's state byte, as drawTriangle
// handles it.
FrameDrawState stateAfter(FrameDrawState state, uint8_t stateByte);

}  // namespace drec
