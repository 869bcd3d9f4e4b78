// Which pixels the GL lights for a triangle record, decided on the CPU the
// way Mesa's llvmpipe decides them, so that the edge of an opaque area is
// known to the pixel:
//   - each vertex lands through the same float steps as in the GL: clip x =
//     P[0][0] X, w kept, x / w as x times the reciprocal of w, then the
//     viewport's scale and offset (one fused multiply-add where the GL's
//     code uses one);
//   - the landing point snaps to 1/256 pixel, rounding to nearest (ties to
//     even);
//   - a pixel is lit when its centre lies inside all three edges; a centre
//     exactly on an edge is lit for left edges and for bottom edges (GL
//     window coordinates, y up), so two triangles sharing an edge light each
//     pixel along it exactly once.
// A window's back buffer stores its rows top first and Mesa flips the
// viewport for it, which rounds y differently from a framebuffer object.
// A vertex that lands outside the picture makes the GL clip the triangle and
// move its vertices slightly; such triangles are not exact here.
#pragma once
#include <cstdint>

#include "render/gl_api.hpp"
#include "render/triangles.hpp"

namespace drec {

struct CoverageRules {
  bool rowsTopDown;    // the viewport is flipped (a window's back buffer in Mesa)
  bool fusedViewport;  // the viewport's scale and offset as one fused multiply-add
};

// The landing computation for one picture size.
struct CoverageSetup {
  const TriangleRenderer* renderer;
  CoverageRules rules;
  float clipScaleX;  // the projection's P[0][0] and P[1][1] as the GL holds them
  float clipScaleY;
  float halfWidth;
  float halfHeight;
  int width;
  int height;
  // The pixels any record can light, clipped ones included: the vertices of
  // the recorded screen's corners at every depth, with a sub-pixel to spare
  // for the GL's clipping (not limited to the picture).
  PixelBox reach;
};

enum class CoverageKind {
  nothing,     // a vertex of depth 0 or no area: the GL draws no pixel
  exact,       // all vertices inside the clip volume: lit pixels exactly as coveredSpan says
  clipped,     // a vertex with w below 2: only some of the landing triangle is drawn
  offPicture,  // a vertex lands outside the picture: the GL's clipping moves the edges slightly
};

// One triangle ready for row spans: vertices snapped to 1/256 pixel, y up,
// counter-clockwise; rows firstRow <= row < endRow may be lit (within the picture).
struct CoverageTriangle {
  CoverageKind kind;
  int64_t x[3];
  int64_t y[3];
  int firstRow;
  int endRow;
};

// Pixels first <= x < end of one row; empty when first >= end.
struct PixelSpan {
  int first;
  int end;
};

void setupCoverage(CoverageSetup& setup, const TriangleRenderer& renderer, const CoverageRules& rules);
void setupCoverageTriangle(const CoverageSetup& setup, const uint8_t* record, CoverageTriangle& triangle);
// The pixels of `row` whose centres the triangle covers, not limited to the picture's columns.
PixelSpan coveredSpan(const CoverageTriangle& triangle, int row);
// Pixels certainly lit whatever sub-pixel error: those whose 3 x 3 neighbourhood is covered.
PixelSpan shrunkSpan(const CoverageTriangle& triangle, int row);
// Pixels possibly lit: those with any covered pixel in their 3 x 3 neighbourhood.
PixelSpan grownSpan(const CoverageTriangle& triangle, int row);

// Draws a test pattern of opaque triangles (random ones, slivers, quads split
// in two, fans, the whole recorded screen) with the GL in the current context
// and bound framebuffer, reads it back and compares every pixel with the CPU
// coverage under `rules`. Call right after renderSetup, before the recording
// is drawn: it leaves the set-up state (source-alpha blending, texture 0) and
// a cleared picture behind, and the caller's triangle cache must be reset.
bool coverageAgreesWithGl(const TriangleRenderer& renderer, const GlApi& gl, const CoverageRules& rules);
// The same pattern checked against each way the GL may round (flipped or not,
// fused or not); the first that agrees goes to `found`. False when none does.
bool findCoverageRules(const TriangleRenderer& renderer, const GlApi& gl, CoverageRules& found);

}  // namespace drec
