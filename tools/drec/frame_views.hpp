// What drec play's views of a paused frame show, worked out without a
// window: where the recorded picture lies in the window and which picture
// pixel is under the pointer, the overdraw counts of a frame's triangles
// with their heat colours, the colour of each texture slot, and a row of
// text for each keyed texture slot. The views themselves (play_views.hpp)
// draw these over the picture, never into it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "recording/format.hpp"
#include "render/coverage.hpp"
#include "render/textures.hpp"

namespace drec {

// The recorded picture scaled to fit the window with its aspect kept,
// centred between black bars.
struct PicturePlacement {
  int left;    // window pixels left of the picture
  int top;     // window rows above it (events and the overlay count from the top)
  int bottom;  // and below it (the GL counts from the bottom)
  int width;   // the picture's size on the window
  int height;
  double scale;
  bool whole;  // a whole-number scale: each picture pixel is a square of window pixels
};
PicturePlacement placePicture(int windowWidth, int windowHeight, int pictureWidth, int pictureHeight);

// The picture pixel shown at window pixel (x, y), counted from the top-left
// corners of both; false over the bars.
bool picturePixelAt(const PicturePlacement& placement, int pictureWidth, int pictureHeight, int x, int y,
                    int& pictureX, int& pictureY);

// How many of a frame's triangles light each pixel of the picture, counted
// on the CPU with the GL's own coverage rules (render/coverage.hpp) rather
// than drawn: the counts are exact for every triangle the GL draws whole,
// cost no GL state, and the picture on screen is never touched.
struct OverdrawMap {
  int width;
  int height;
  std::vector<uint16_t> counts;  // rows from the top, saturating at 65535
  int most;                      // the highest count
  int64_t clipped;               // triangles the GL clips: counted by their whole landing triangle
};
// Sizes the map once; clearOverdraw zeroes it for each frame.
void startOverdrawMap(OverdrawMap& map, int width, int height);
void clearOverdraw(OverdrawMap& map);
// `record`: the 26 bytes of a triangle record, type byte first.
void addToOverdraw(OverdrawMap& map, const CoverageSetup& coverage, const uint8_t* record);

// The heat map's scale: each step colours the counts from `first` to `last`.
struct HeatStep {
  int first;
  int last;
  uint8_t rgba[4];
};
constexpr int kHeatSteps = 9;
extern const HeatStep kHeatScale[kHeatSteps];
// The map as RGBA pixels, rows from the top, into `rgba` (width x height x 4).
void overdrawPixels(const OverdrawMap& map, uint8_t* rgba);

// A fixed colour for each texture slot (0 to 31), as 0xAABBGGRR for ImGui.
uint32_t slotColour(int slot);

// One keyed texture slot as the slots' view lists it.
struct TextureSlotRow {
  int slot;
  char key[17];
  std::string file;     // the path its texture was loaded from
  std::string size;     // "256 x 256, 24-bit", or "no image"
  std::string decoded;  // "decoded", or why not
  GLuint texture;       // its GL name (0: none)
  int width;
  int height;
};
// The rows of slots 1 to 32 with a non-zero key, in slot order; made once.
std::vector<TextureSlotRow> textureSlotRows(const RecordingHeader& header, const TextureSlots& slots,
                                            const std::string& texturesDirectory);

}  // namespace drec
