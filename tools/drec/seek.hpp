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
// memory budget and then a disk budget (a file of this run alone in the
// user's cache folder); when both are full, every other one goes and the
// spacing doubles. A disk that fails leaves memory alone.
//
// The picture is drawn into a framebuffer of the recorded size whose colour
// is a texture: a key frame goes back by glTexSubImage2D straight into it
// (a textured quad would be modulated and filtered, and glDrawPixels' raster
// position is clipped by the recorded projection's near plane).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/spill_file.hpp"

#include "tools/drec/frame_index.hpp"
#include "tools/drec/frame_renderer.hpp"

namespace drec {

struct PictureTarget {
  GLuint framebuffer;
  GLuint colour;  // a W x H RGBA texture
  GLuint depth;   // a 16-bit renderbuffer, as the player's window has
  int width;
  int height;
  bool rowsTopFirst;  // stored top row first, as a window's back buffer
};

// Makes the target and leaves it bound. The texture binding is put back to
// 0 afterwards: make it before the recorded textures are loaded, or restore
// the drawing state after. False when the driver cannot.
//
// Where the driver offers clip control, the context then draws with the clip
// origin at the upper left (for every framebuffer: a caller that draws
// anything else must set it back around that): Mesa stores a window's rows
// top first and flips its viewport, and a framebuffer object drawn the other
// way up rounds texture coordinates and edges slightly differently (a level
// apart in filtered texels), so only this way is its picture exactly the one
// drec export reads from a window. The target's rows are then stored top row
// first.
bool makePictureTarget(const GlApi& gl, int width, int height, PictureTarget& target);

struct KeyFrame {
  int64_t frame;  // the picture after this frame
  FrameDrawState state;
  uint32_t size;                // RGBA rows, bottom first, zlib-compressed: this many bytes
  std::vector<uint8_t> pixels;  // in memory, or
  int64_t diskOffset;           // where in the disk file (-1: in memory)
};

struct DiskSpan {
  int64_t offset;
  uint32_t size;
};

struct KeyFrameStore {
  size_t budgetBytes;  // memory
  size_t usedBytes;
  size_t diskBudgetBytes;
  size_t diskUsedBytes;
  SpillFile disk;
  int64_t diskEnd;              // the file's length so far
  std::vector<DiskSpan> holes;  // freed in the file, used again first
  std::string diskProblem;      // why the disk was given up, once ("" while it serves)
  int64_t spacing;  // key frames are taken of frames that are multiples of it
  std::vector<KeyFrame> keys;  // in frame order
};

// `diskFolder` "" or a disk budget of 0: memory alone. The disk file is
// made at the first key frame that does not fit in memory.
void startKeyFrameStore(KeyFrameStore& store, size_t budgetBytes, size_t diskBudgetBytes,
                        const std::string& diskFolder);
void closeKeyFrameStore(KeyFrameStore& store);
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
  std::string diskFolder;           // where the key frames' disk file goes
  int64_t lastSeekFrames;           // frames the last seek drew
  bool lastSeekFromKeyFrame;
};

// `renderer` is prepared, with the framebuffer entry points loaded and the
// target made in its context; the reader reads `stream` (the recording the
// index was made of).
void startSeeker(Seeker& seeker, FrameRenderer& renderer, const PictureTarget& target,
                 SegmentedStream& stream, const FrameIndex& index, size_t keyFrameBudget,
                 size_t diskBudget = 0, const std::string& diskFolder = "");
// Draws the picture of `frame` (indexed) into the target, without
// presenting; the reader then stands after that frame's mark. False when a
// segment file no longer opens.
bool seekToFrame(Seeker& seeker, int64_t frame);
// Readies `tracker` for the renderer's picture: the GL's way of rounding
// found by drawing a test pattern into the bound framebuffer (which is left
// cleared, with the drawing state of the set-up); exact coverage when one
// agrees, margins otherwise. Returns whether coverage is exact.
bool prepareHorizonTracker(HorizonTracker& tracker, FrameRenderer& renderer);
// Puts the drawing state into the GL and the triangle cache.
void restoreDrawState(FrameRenderer& renderer, const FrameDrawState& state);
// The picture in the target is frame `frame`'s, drawn exactly: keeps it when
// the spacing asks for it (a read-back and a compression), thinning out when
// the budget is full. True when kept.
bool offerKeyFrame(Seeker& seeker, int64_t frame, const FrameDrawState& stateAfter);
// The same for the picture in another framebuffer of the recorded size.
bool offerKeyFrameOf(Seeker& seeker, GLuint framebuffer, int64_t frame, const FrameDrawState& stateAfter);
// Whether the next key frame (of about the average size) would need a
// thinning out: memory and disk are full.
bool keyFramesFull(const KeyFrameStore& store);

// Drawing ahead: the frames after the one on screen drawn into a second
// target of their own, one at a time between a viewer's events, to keep key
// frames of them, while the picture on screen stays as it is.
struct DrawAhead {
  PictureTarget target;
  RecordReader reader;  // on a stream of its own
  int64_t next;         // the next frame to draw; -1: not aimed
  FrameDrawState state;  // after the last frame drawn
};
void startDrawAhead(DrawAhead& ahead, const PictureTarget& target, SegmentedStream& stream);
// From the exact picture of `frame`, which the seeker's target holds now.
void aimDrawAhead(DrawAhead& ahead, Seeker& seeker, int64_t frame);
// Draws the next frame and offers it as a key frame; false when there is
// nothing to do (not aimed, the index has not reached it, the end, or the
// key frames' budget is full). The seeker's target is bound again after,
// with `restore` as the drawing state.
bool drawAheadOne(DrawAhead& ahead, Seeker& seeker, const FrameDrawState& restore);

// The reader position and the drawing state just after frame `frame`'s mark.
ReaderPosition positionAfterFrame(const FrameIndex& index, int64_t frame);
FrameDrawState stateAfterFrame(const FrameIndex& index, int64_t frame);

}  // namespace drec
