#include "tools/drec/frame_index.hpp"

#include "recording/format.hpp"

namespace drec {
namespace {

// The pass stops after every frame mark, so that the reader's position there
// is the next frame's start.
struct IndexWalk : ReadHooks {
  FrameIndex* index;
  bool markMet;

  void chunkRead(const SegmentedStream& stream) {
    if (stream.chunkProblem == ChunkProblem::InflateFailed ||
        stream.chunkProblem == ChunkProblem::RecordsOverLimit)
      noteDamage(*index);
  }
  void walkEnded(const WalkEnd& end) {
    if (walkMetDamage(end)) noteDamage(*index);
  }
  void triangle(const uint8_t* record) {
    index->state = stateAfter(index->state, record[1]);
    ++index->frameTriangles;
  }
  RecordAction frameMark(float timeStamp) {
    FrameIndex& in = *index;
    const int64_t frame = static_cast<int64_t>(in.frames.size());
    IndexedFrame row{};
    row.start = in.frameStart;
    row.state = in.frameState;
    row.recordedTime = timeStamp;
    const double before = in.pacedClock.frameTime;
    imagesBeforeFrame(in.pacedClock, timeStamp);
    row.pacedTime = in.pacedClock.frameTime;
    if (frame > 0 && row.pacedTime - before >= kPauseThreshold) in.pausedFrames.push_back(frame);
    row.triangles = in.frameTriangles;
    row.horizon = 0;
    in.frames.push_back(row);
    in.frameTriangles = 0;
    in.frameState = in.state;
    markMet = true;
    return RecordAction::Stop;
  }

  static void noteDamage(FrameIndex& in) {
    const int64_t frame = static_cast<int64_t>(in.frames.size());
    if (in.damagedFrames.empty() || in.damagedFrames.back() != frame) in.damagedFrames.push_back(frame);
  }
};

}  // namespace

FrameDrawState stateAfter(FrameDrawState state, uint8_t stateByte) {
  const int mode = blendModeOf(stateByte);
  state.slot = static_cast<int8_t>(textureSlotOf(stateByte));
  if (mode != state.blendMode) {
    if (mode <= 2) state.blendInForce = static_cast<int8_t>(mode);
    state.blendMode = static_cast<int8_t>(mode);
  }
  return state;
}

void startFrameIndex(FrameIndex& index, SegmentedStream& stream, int64_t expectedFrames) {
  index.frames.clear();
  index.damagedFrames.clear();
  index.pausedFrames.clear();
  if (expectedFrames > 0) index.frames.reserve(static_cast<size_t>(expectedFrames));
  index.complete = false;
  index.end = ReadEnd::Complete;
  index.reader = startReader(stream);
  index.state = FrameDrawState{-1, -1, kBlendInForceAtStart};
  index.frameState = index.state;
  index.frameStart = readerPosition(index.reader);
  index.frameTriangles = 0;
  startImageClock(index.pacedClock, 1.0);
}

bool indexFrames(FrameIndex& index, int64_t frames) {
  IndexWalk walk{};
  walk.index = &index;
  for (int64_t done = 0; !index.complete && done < frames; ++done) {
    walk.markMet = false;
    const ReadEnd end = readRecords(index.reader, walk);
    if (end == ReadEnd::Stopped && walk.markMet) {
      index.frameStart = readerPosition(index.reader);
      continue;
    }
    index.complete = true;
    index.end = end;
    // The ends the player reports (a cut length word, a missing segment)
    // are damage met in the frame being read.
    if (index.reader.stream->damaged && end != ReadEnd::Complete) IndexWalk::noteDamage(index);
  }
  return index.complete;
}

}  // namespace drec
