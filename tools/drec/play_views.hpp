// drec play's views of the paused frame, built with Dear ImGui in the
// overlay's pass, over the scaled picture and never into it: the outlines of
// the frame's triangles, the overdraw heat map with its scale, the texture
// slots with a thumbnail of each, and the inspector's history of a pixel.
// Like the rest of the overlay, each is a function of the state it shows,
// called once per overlay frame.
#pragma once
#include <cstdint>
#include <vector>

#include "tools/drec/frame_triangles.hpp"
#include "tools/drec/frame_views.hpp"
#include "tools/drec/pixel_history.hpp"

namespace drec {

struct FrameViewsShown {
  PicturePlacement placement;  // where the picture lies in the window, in window pixels
  int pictureWidth;
  int pictureHeight;
  int64_t frame;  // the frame the views show
  const std::vector<FrameTriangle>* triangles;  // its triangles

  bool wireframe;

  bool overdraw;
  const OverdrawMap* overdrawMap;
  GLuint overdrawTexture;  // the map's heat colours, the picture's size
  bool overdrawExact;      // counted with the GL's own rounding

  bool textureSlots;
  const std::vector<TextureSlotRow>* slotRows;
  const char* texturesFolder;  // where their files are
  const int64_t* slotTriangles;  // by slot 0 to 32: this frame's triangles that use it

  bool inspector;
  const PixelHistory* history;  // the picked pixel's, of this frame; null: none
  const TextureKey* keys;       // the header's, by slot
};

// What the pointer points at in the views (-1: nothing).
struct FrameViewsInput {
  int hoveredSlot;
  int hoveredTouch;  // a row of the pixel's history
  bool appearing;  // a panel appeared: its size settles in the next overlay frame
};

FrameViewsInput buildFrameViews(const FrameViewsShown& shown);

// The picture point (pixels from its top-left corner) on the window, in ImGui's points.
struct PicturePoint {
  float x;
  float y;
};
PicturePoint windowPointOf(const FrameViewsShown& shown, float pictureX, float pictureY);

}  // namespace drec
