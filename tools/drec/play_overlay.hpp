// The on-screen display of drec play, built with Dear ImGui over the scaled
// picture (never into the recorded picture): the playback's state, the list
// of keys, and a short message such as the name of a screenshot written.
#pragma once
#include <cstdint>

namespace drec {

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
};

// Builds the widgets of one overlay frame (between beginOverlayFrame and
// renderOverlayFrame).
void buildPlayOverlay(const OverlayView& view);

// The keys, as the overlay and `drec play --help` list them.
extern const char kPlayKeysText[];

}  // namespace drec
