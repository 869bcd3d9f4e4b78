// Seeking: the exact picture of any frame without drawing from the first.
//
// A seek to frame N starts from the later of two places and draws from
// there to N:
//   - N's dependency horizon (from the frame index): nothing drawn before it
//     can show in N's picture, so drawing from it over a cleared picture,
//     with the drawing state the index holds for it, gives N exactly;
//   - the nearest key frame at or before N: a snapshot of the picture and
//     the drawing state after that frame, kept compressed.
// Key frames are taken of frames drawn exactly, evenly spaced within a
// memory budget; when it is full, every other one goes and the spacing
// doubles.
//
// The picture is drawn into a framebuffer of the recorded size whose colour
// is a texture: a key frame goes back by glTexSubImage2D straight into it
// (a textured quad would be modulated and filtered, and glDrawPixels' raster
// position is clipped by the recorded projection's near plane).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/drec/frame_index.hpp"
#include "tools/drec/frame_renderer.hpp"

namespace drec {

struct PictureTarget {
  GLuint framebuffer;
  GLuint colour;  // a W x H RGBA texture
  GLuint depth;   // a 16-bit renderbuffer, as the player's window has
  int width;
  int height;
};

// Makes the target and leaves it bound. The texture binding is put back to
// 0 afterwards: make it before the recorded textures are loaded, or restore
// the drawing state after. False when the driver cannot.
bool makePictureTarget(const GlApi& gl, int width, int height, PictureTarget& target);

struct KeyFrame {
  int64_t frame;  // the picture after this frame
  FrameDrawState state;
  std::vector<uint8_t> pixels;  // RGBA rows, bottom first, zlib-compressed
};

struct KeyFrameStore {
  size_t budgetBytes;
  size_t usedBytes;
  int64_t spacing;  // key frames are taken of frames that are multiples of it
  std::vector<KeyFrame> keys;  // in frame order
};

void startKeyFrameStore(KeyFrameStore& store, size_t budgetBytes, int64_t frames);
// The latest key frame at or before `frame`, or null.
const KeyFrame* keyFrameAtOrBefore(const KeyFrameStore& store, int64_t frame);
// Whether the picture after `frame` is one to keep (on the spacing, not kept yet).
bool wantsKeyFrame(const KeyFrameStore& store, int64_t frame);

// What a seek needs beside the index: the renderer drawing into the target,
// a reader on the recording's stream, and buffers made once.
struct Seeker {
  FrameRenderer* renderer;
  PictureTarget target;
  RecordReader reader;
  const FrameIndex* index;
  KeyFrameStore keys;
  std::vector<uint8_t> rgba;        // W x H x 4: read-backs and expanded key frames
  std::vector<uint8_t> compressed;  // the bound of a compressed picture
  int64_t lastSeekFrames;           // frames the last seek drew
  bool lastSeekFromKeyFrame;
};

// `renderer` is prepared, with the framebuffer entry points loaded and the
// target made in its context; the reader reads `stream` (the recording the
// index was made of).
void startSeeker(Seeker& seeker, FrameRenderer& renderer, const PictureTarget& target,
                 SegmentedStream& stream, const FrameIndex& index, size_t keyFrameBudget);
// Draws the picture of `frame` (indexed) into the target, without
// presenting; the reader then stands after that frame's mark. False when a
// segment file no longer opens.
bool seekToFrame(Seeker& seeker, int64_t frame);
// Puts the drawing state into the GL and the triangle cache.
void restoreDrawState(FrameRenderer& renderer, const FrameDrawState& state);
// The picture in the target is frame `frame`'s, drawn exactly: keeps it when
// the spacing asks for it (a read-back and a compression), thinning out when
// the budget is full. True when kept.
bool offerKeyFrame(Seeker& seeker, int64_t frame, const FrameDrawState& stateAfter);
// The reader position and the drawing state just after frame `frame`'s mark.
ReaderPosition positionAfterFrame(const FrameIndex& index, int64_t frame);
FrameDrawState stateAfterFrame(const FrameIndex& index, int64_t frame);

}  // namespace drec
