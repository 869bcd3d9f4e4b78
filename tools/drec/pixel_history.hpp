// A pixel's history in one frame: every triangle of the frame that the GL
// rasterised at that pixel, in drawing order, with the pixel's colour before
// and after each, found by the GL itself rather than estimated.
//
// Frame N's triangles are replayed over the exact picture of frame N - 1
// (from the seek engine; a cleared picture for frame 0) with drawing held to
// the one pixel by the scissor test:
//   1. with an occlusion query around each triangle whose landing box holds
//      the pixel: the depth test is off, so every fragment rasterised there
//      counts, also one that leaves the colour as it was (blend mode 2, a
//      colour-keyed texel, half alpha over the same colour);
//   2. again from the same colour, reading the pixel back after each
//      triangle that touched it, and only then (a read-back makes the
//      software renderer finish what is pending).
// Then the whole of frame N is drawn, so that the seeker is left as a seek
// to frame N leaves it.
#pragma once
#include <cstdint>
#include <vector>

#include "render/triangles.hpp"
#include "tools/drec/frame_triangles.hpp"
#include "tools/drec/seek.hpp"

namespace drec {

struct PixelColor {
  uint8_t red;
  uint8_t green;
  uint8_t blue;
};

// A triangle that the GL rasterised at the pixel.
struct PixelTouch {
  FrameTriangle triangle;
  VertexColor drawnColors[3];  // each vertex's colour as glColor4f gets it
  PixelColor before;
  PixelColor after;
};

struct PixelHistory {
  int64_t frame;
  int x;  // from the picture's left edge
  int y;  // from its top row
  PixelColor start;  // what the frames before left
  PixelColor final;  // once the frame is drawn: the pixel of the frame's picture
  std::vector<PixelTouch> touches;  // in drawing order
  // Kept from one history to the next: no allocation once grown.
  std::vector<FrameTriangle> triangles;  // the whole frame's
  std::vector<GLuint> queries;           // names made in the seeker's context
  std::vector<uint32_t> queried;         // the triangles each query is of
};

// The history of pixel (x, y) of `frame` (indexed; x and y within the
// picture). `reader` reads a stream of its own (readFrameTriangles); the
// seeker's renderer has the framebuffer and query entry points loaded, and
// its target is not the picture on screen. Afterwards the target holds the
// frame's picture, the seeker's reader stands after the frame's mark, the
// drawing state is the one after the frame and the scissor test is as it
// was. False when a segment file no longer opens.
bool findPixelHistory(Seeker& seeker, RecordReader& reader, int64_t frame, int x, int y,
                      PixelHistory& history);
// Deletes the queries, in the seeker's context.
void releasePixelHistory(const GlApi& gl, PixelHistory& history);

}  // namespace drec
