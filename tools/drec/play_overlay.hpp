// The on-screen display of drec play, built with Dear ImGui over the scaled
// picture (never into the recorded picture): the playback's state, the list
// of keys, a short message such as the name of a screenshot written, and
// the timeline along the bottom.
#pragma once
#include <cstdint>
#include <vector>

namespace drec {

struct FrameIndex;
struct KeyFrameStore;

struct OverlayView {
  bool showState;  // frame, times, speed, drops
  bool showKeys;
  const char* message;  // null or "": none
  int64_t frame;        // the frame on screen; -1 before the first
  int64_t frames;
  double time;  // its recorded time
  double duration;
  const char* speed;
  bool paused;
  bool looping;
  bool ended;
  int64_t dropped;
  int64_t pausesCut;
  // The timeline, shown with the state: what the index knows so far (its
  // pauses, damage and triangles per frame), the frames dropped in this
  // playback and the key frames kept.
  const FrameIndex* index;
  const std::vector<int64_t>* droppedFrames;
  const KeyFrameStore* keys;
};

// What the pointer asked of the timeline: a frame to show while its button
// is held on it (-1: nothing).
struct OverlayInput {
  int64_t seekFrame;
};

// Builds the widgets of one overlay frame (between beginOverlayFrame and
// renderOverlayFrame).
OverlayInput buildPlayOverlay(const OverlayView& view);

// The keys, as the overlay and `drec play --help` list them.
extern const char kPlayKeysText[];

}  // namespace drec
