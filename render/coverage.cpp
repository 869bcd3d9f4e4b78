#include "render/coverage.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "recording/format.hpp"

namespace drec {
namespace {

constexpr int kSubpixels = 256;  // the rasteriser's 8 fractional bits
constexpr int64_t kHalfPixel = kSubpixels / 2;
constexpr int64_t kSpanLimit = int64_t{1} << 30;

constexpr int kVertexX = 2;
constexpr int kVertexY = 3;
constexpr int kVertexDepth = 4;
constexpr int kFirstVertex = 2;

int64_t floorDivision(int64_t numerator, int64_t denominator) {
  int64_t quotient = numerator / denominator;
  if (numerator % denominator != 0 && numerator < 0) --quotient;
  return quotient;
}

int64_t ceilDivision(int64_t numerator, int64_t denominator) {
  int64_t quotient = numerator / denominator;
  if (numerator % denominator != 0 && numerator > 0) ++quotient;
  return quotient;
}

// The viewport step, written out so that the compiler neither fuses nor splits it.
float viewportOf(float normalized, float scale, float offset, bool fused) {
  if (fused) return std::fma(normalized, scale, offset);
  const float scaled = normalized * scale;
  return scaled + offset;
}

int64_t snapped(float position) { return std::lrint(position * static_cast<float>(kSubpixels)); }

// Where a recorded x or y lands, in 1/256 pixel (y up).
int64_t landingX(const CoverageSetup& setup, uint8_t x, float w) {
  const VertexPosition position = vertexPosition(*setup.renderer, x, 0, w);
  const float normalized = (setup.clipScaleX * position.x) * (1.0f / w);
  return snapped(viewportOf(normalized, setup.halfWidth, setup.halfWidth, setup.rules.fusedViewport));
}

int64_t landingY(const CoverageSetup& setup, uint8_t y, float w) {
  const VertexPosition position = vertexPosition(*setup.renderer, 0, y, w);
  const float normalized = (setup.clipScaleY * position.y) * (1.0f / w);
  const bool fused = setup.rules.fusedViewport;
  if (setup.rules.rowsTopDown)
    return int64_t{setup.height} * kSubpixels - snapped(viewportOf(normalized, -setup.halfHeight, setup.halfHeight, fused));
  return snapped(viewportOf(normalized, setup.halfHeight, setup.halfHeight, fused));
}

// Pixels whose centres lie within [low, high] (1/256 pixel units).
void centresWithin(int64_t low, int64_t high, int& first, int& end) {
  first = static_cast<int>(ceilDivision(low - kHalfPixel, kSubpixels));
  end = static_cast<int>(floorDivision(high - kHalfPixel, kSubpixels) + 1);
}

}  // namespace

void setupCoverage(CoverageSetup& setup, const TriangleRenderer& renderer, const CoverageRules& rules) {
  setup.renderer = &renderer;
  setup.rules = rules;
  setup.width = renderer.screenWidth;
  setup.height = renderer.screenHeight;
  // As the perspective of renderSetup builds its matrix (in double, handed to
  // the GL, which keeps floats); the model-view matrix is the identity.
  const double radians = 60.0 / 2 * 3.14159265358979323846 / 180;
  const double cotangent = std::cos(radians) / std::sin(radians);
  const double aspect = static_cast<double>(renderer.screenWidth) / static_cast<double>(renderer.screenHeight);
  setup.clipScaleX = static_cast<float>(cotangent / aspect);
  setup.clipScaleY = static_cast<float>(cotangent);
  setup.halfWidth = static_cast<float>(renderer.screenWidth * 0.5);
  setup.halfHeight = static_cast<float>(renderer.screenHeight * 0.5);
  int64_t left = INT64_MAX, right = INT64_MIN, bottom = INT64_MAX, top = INT64_MIN;
  for (int depth = 1; depth <= 65535; ++depth) {
    const float w = vertexW(static_cast<uint16_t>(depth));
    for (const uint8_t edge : {uint8_t{0}, uint8_t{255}}) {
      const int64_t x = landingX(setup, edge, w);
      const int64_t y = landingY(setup, edge, w);
      left = std::min(left, x);
      right = std::max(right, x);
      bottom = std::min(bottom, y);
      top = std::max(top, y);
    }
  }
  // The GL's clipping puts new vertices on the edges within far less than this.
  constexpr int64_t kClippingSlack = 1;
  centresWithin(left - kClippingSlack, right + kClippingSlack, setup.reach.x0, setup.reach.x1);
  centresWithin(bottom - kClippingSlack, top + kClippingSlack, setup.reach.y0, setup.reach.y1);
}

void setupCoverageTriangle(const CoverageSetup& setup, const uint8_t* record, CoverageTriangle& triangle) {
  const int64_t pictureWidth = int64_t{setup.width} * kSubpixels;
  const int64_t pictureHeight = int64_t{setup.height} * kSubpixels;
  bool clipped = false;
  bool offPicture = false;
  for (int i = 0; i < 3; ++i) {
    const uint8_t* vertex = record + kFirstVertex + i * kVertexSize;
    const uint16_t depth = loadU16(vertex + kVertexDepth);
    if (depth == 0) {
      triangle = CoverageTriangle{CoverageKind::nothing, {}, {}, 0, 0};
      return;
    }
    const float w = vertexW(depth);
    if (w < 2.0f) clipped = true;
    triangle.x[i] = landingX(setup, vertex[kVertexX], w);
    triangle.y[i] = landingY(setup, vertex[kVertexY], w);
    if (triangle.x[i] < 0 || triangle.x[i] > pictureWidth || triangle.y[i] < 0 || triangle.y[i] > pictureHeight)
      offPicture = true;
  }
  const int64_t area = (triangle.x[1] - triangle.x[0]) * (triangle.y[2] - triangle.y[0]) -
                       (triangle.x[2] - triangle.x[0]) * (triangle.y[1] - triangle.y[0]);
  if (area < 0) {
    std::swap(triangle.x[1], triangle.x[2]);
    std::swap(triangle.y[1], triangle.y[2]);
  }
  triangle.kind = clipped ? CoverageKind::clipped : offPicture ? CoverageKind::offPicture : CoverageKind::exact;
  if (area == 0 && triangle.kind == CoverageKind::exact) triangle.kind = CoverageKind::nothing;
  const int64_t lowest = std::min({triangle.y[0], triangle.y[1], triangle.y[2]});
  const int64_t highest = std::max({triangle.y[0], triangle.y[1], triangle.y[2]});
  // Rows whose centres lie within the vertices' height.
  triangle.firstRow = static_cast<int>(std::clamp(ceilDivision(lowest - kHalfPixel, kSubpixels), -kSpanLimit, kSpanLimit));
  triangle.endRow = static_cast<int>(std::clamp(floorDivision(highest - kHalfPixel, kSubpixels) + 1, -kSpanLimit, kSpanLimit));
}

PixelSpan coveredSpan(const CoverageTriangle& triangle, int row) {
  int64_t first = -kSpanLimit;
  int64_t end = kSpanLimit;
  const int64_t sampleY = int64_t{row} * kSubpixels + kHalfPixel;
  for (int edge = 0; edge < 3; ++edge) {
    const int next = edge == 2 ? 0 : edge + 1;
    const int64_t dx = triangle.x[next] - triangle.x[edge];
    const int64_t dy = triangle.y[next] - triangle.y[edge];
    // Inside is left of the edge: dx (sy - ay) - dy (sx - ax) > 0, with a
    // centre on a left or bottom edge counted in.
    const int64_t onEdge = (dy < 0 || (dy == 0 && dx > 0)) ? 1 : 0;
    // As a function of the column i (sx = 256 i + 128): slope i + offset > 0.
    const int64_t slope = -dy * kSubpixels;
    const int64_t offset = dx * (sampleY - triangle.y[edge]) - dy * (kHalfPixel - triangle.x[edge]) + onEdge;
    if (slope == 0) {
      if (offset <= 0) return PixelSpan{0, 0};
    } else if (slope > 0) {
      first = std::max(first, floorDivision(-offset, slope) + 1);
    } else {
      end = std::min(end, ceilDivision(offset, -slope));
    }
  }
  if (first >= end) return PixelSpan{0, 0};
  return PixelSpan{static_cast<int>(first), static_cast<int>(end)};
}

PixelSpan shrunkSpan(const CoverageTriangle& triangle, int row) {
  int first = -static_cast<int>(kSpanLimit);
  int end = static_cast<int>(kSpanLimit);
  for (int neighbour = row - 1; neighbour <= row + 1; ++neighbour) {
    const PixelSpan span = coveredSpan(triangle, neighbour);
    if (span.first >= span.end) return PixelSpan{0, 0};
    first = std::max(first, span.first + 1);
    end = std::min(end, span.end - 1);
  }
  if (first >= end) return PixelSpan{0, 0};
  return PixelSpan{first, end};
}

PixelSpan grownSpan(const CoverageTriangle& triangle, int row) {
  int first = static_cast<int>(kSpanLimit);
  int end = -static_cast<int>(kSpanLimit);
  for (int neighbour = row - 1; neighbour <= row + 1; ++neighbour) {
    const PixelSpan span = coveredSpan(triangle, neighbour);
    if (span.first >= span.end) continue;
    first = std::min(first, span.first - 1);
    end = std::max(end, span.end + 1);
  }
  if (first >= end) return PixelSpan{0, 0};
  return PixelSpan{first, end};
}

namespace {

// Each pattern triangle is opaque in its own colour, which names it: red
// nibble 6 to 15 (above 5, so the colour is kept), green and blue any.
constexpr int kPatternPasses = 4;
constexpr int kPatternTriangles = 600;
constexpr int kPatternDepths = 32767;  // depth 1 to 32767: w of 2 or more, never clipped

PackedColor16 patternColor(int id) {
  return static_cast<PackedColor16>(0x1000 | ((6 + id / 256) << 8) | (id % 256));
}

int idOfPixel(const uint8_t* rgba) {
  const int red = (rgba[0] + 8) / 17;
  const int green = (rgba[1] + 8) / 17;
  const int blue = (rgba[2] + 8) / 17;
  if (red < 6) return 0;
  return (red - 6) * 256 + green * 16 + blue + 1;
}

struct PatternRandom {
  uint64_t state;
};

uint32_t nextRandom(PatternRandom& random, uint32_t range) {
  random.state = random.state * 6364136223846793005ULL + 1442695040888963407ULL;
  return static_cast<uint32_t>(random.state >> 33) % range;
}

struct PatternVertex {
  int x;
  int y;
  int depth;
};

// The recorded positions that land inside the picture (all of them unless
// the picture is taller than about 590 rows).
struct PatternPositions {
  uint8_t xs[256];
  int xCount;
  uint8_t ys[256];
  int yCount;
};

void findPatternPositions(const TriangleRenderer& renderer, PatternPositions& positions) {
  positions.xCount = 0;
  positions.yCount = 0;
  for (int i = 0; i < 256; ++i) {
    if (renderer.xPixels[i] >= 1.0f && renderer.xPixels[i] <= static_cast<float>(renderer.screenWidth - 1))
      positions.xs[positions.xCount++] = static_cast<uint8_t>(i);
    if (renderer.yPixels[i] >= 1.0f && renderer.yPixels[i] <= static_cast<float>(renderer.screenHeight - 1))
      positions.ys[positions.yCount++] = static_cast<uint8_t>(i);
  }
}

void writePatternTriangle(uint8_t* record, const PatternVertex (&vertices)[3], PackedColor16 color) {
  std::memset(record, 0, kTriangleSize);
  record[0] = 2;  // a textured triangle
  record[1] = 0;  // slot 0 (no image), blending off
  for (int i = 0; i < 3; ++i) {
    uint8_t* vertex = record + kFirstVertex + i * kVertexSize;
    vertex[kVertexX] = static_cast<uint8_t>(vertices[i].x);
    vertex[kVertexY] = static_cast<uint8_t>(vertices[i].y);
    vertex[kVertexDepth] = static_cast<uint8_t>(vertices[i].depth & 0xFF);
    vertex[kVertexDepth + 1] = static_cast<uint8_t>(vertices[i].depth >> 8);
    vertex[6] = static_cast<uint8_t>(color & 0xFF);
    vertex[7] = static_cast<uint8_t>(color >> 8);
  }
}

// One pass: a mix of the shapes a game draws and the ones that find rounding
// faults (shared edges, axis-aligned edges at every position, slivers).
void makePatternPass(const PatternPositions& positions, PatternRandom& random, uint8_t* records) {
  auto anyX = [&] { return positions.xs[nextRandom(random, static_cast<uint32_t>(positions.xCount))]; };
  auto anyY = [&] { return positions.ys[nextRandom(random, static_cast<uint32_t>(positions.yCount))]; };
  auto anyDepth = [&] { return 1 + static_cast<int>(nextRandom(random, kPatternDepths)); };
  auto near = [&](const uint8_t* list, int count, int value) {
    const int index = static_cast<int>(std::lower_bound(list, list + count, value) - list);
    const int moved = std::clamp(index + static_cast<int>(nextRandom(random, 11)) - 5, 0, count - 1);
    return static_cast<int>(list[moved]);
  };
  PatternVertex fanCentre{anyX(), anyY(), anyDepth()};
  PatternVertex fanLast{anyX(), anyY(), anyDepth()};
  PatternVertex previous[3] = {fanCentre, fanLast, fanCentre};
  int id = 0;
  while (id < kPatternTriangles) {
    PatternVertex vertices[3];
    for (PatternVertex& vertex : vertices) vertex = PatternVertex{anyX(), anyY(), anyDepth()};
    const uint32_t shape = nextRandom(random, 6);
    if (shape == 1) {  // small, or a sliver when the vertices nearly line up
      for (int i = 1; i < 3; ++i) {
        vertices[i].x = near(positions.xs, positions.xCount, vertices[0].x);
        vertices[i].y = near(positions.ys, positions.yCount, vertices[0].y);
      }
    } else if (shape == 2) {  // shares an edge with the one before
      vertices[0] = previous[2];
      vertices[1] = previous[1];
    } else if (shape == 3 || shape == 4) {  // an axis-aligned quad, or the whole recorded screen
      const bool whole = shape == 4 && nextRandom(random, 4) == 0;
      const int left = whole ? positions.xs[0] : anyX();
      const int right = whole ? positions.xs[positions.xCount - 1] : anyX();
      const int bottom = whole ? positions.ys[0] : anyY();
      const int top = whole ? positions.ys[positions.yCount - 1] : anyY();
      const int depth = anyDepth();
      const PatternVertex first[3] = {{left, bottom, depth}, {right, bottom, depth}, {right, top, depth}};
      const PatternVertex second[3] = {{left, bottom, depth}, {right, top, depth}, {left, top, depth}};
      writePatternTriangle(records + id * kTriangleSize, first, patternColor(id));
      ++id;
      if (id == kPatternTriangles) break;
      std::copy(std::begin(second), std::end(second), std::begin(vertices));
    } else if (shape == 5) {  // the next piece of a fan
      if (nextRandom(random, 8) == 0) fanCentre = PatternVertex{anyX(), anyY(), anyDepth()};
      vertices[0] = fanCentre;
      vertices[1] = fanLast;
      fanLast = vertices[2];
    }
    writePatternTriangle(records + id * kTriangleSize, vertices, patternColor(id));
    std::copy(std::begin(vertices), std::end(vertices), std::begin(previous));
    ++id;
  }
}

void paintTriangle(const CoverageSetup& setup, const uint8_t* record, int id, std::vector<int>& ids) {
  CoverageTriangle triangle;
  setupCoverageTriangle(setup, record, triangle);
  if (triangle.kind != CoverageKind::exact) return;
  const int firstRow = std::max(triangle.firstRow, 0);
  const int endRow = std::min(triangle.endRow, setup.height);
  for (int row = firstRow; row < endRow; ++row) {
    const PixelSpan span = coveredSpan(triangle, row);
    const int first = std::max(span.first, 0);
    const int end = std::min(span.end, setup.width);
    int* line = ids.data() + static_cast<size_t>(row) * setup.width;
    for (int column = first; column < end; ++column) line[column] = id;
  }
}

bool drawingTopRowFirst(const GlApi& gl) {
  GLint framebuffer = 0;
  gl.GetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &framebuffer);
  GLint origin = GL_LOWER_LEFT;
  if (gl.ClipControl) gl.GetIntegerv(GL_CLIP_ORIGIN, &origin);
  return framebuffer != 0 && origin == GL_UPPER_LEFT;
}

// Draws the pattern once per pass and checks each candidate against it;
// `agrees[i]` ends true for the candidates that matched every pixel.
void checkCandidates(const TriangleRenderer& renderer, const GlApi& gl, const CoverageRules* candidates,
                     int candidateCount, bool* agrees) {
  const int width = renderer.screenWidth;
  const int height = renderer.screenHeight;
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  std::vector<uint8_t> records(static_cast<size_t>(kPatternTriangles) * kTriangleSize);
  std::vector<uint8_t> picture(pixels * 4);
  std::vector<int> glIds(pixels);
  std::vector<int> cpuIds(pixels);
  PatternPositions positions;
  findPatternPositions(renderer, positions);
  for (int i = 0; i < candidateCount; ++i) agrees[i] = positions.xCount > 0 && positions.yCount > 0;
  if (positions.xCount == 0 || positions.yCount == 0) return;

  // A framebuffer object drawn with the clip origin at the upper left holds
  // the picture's top row first, where the GL counts rows from the bottom.
  const bool rowsStoredTopFirst = drawingTopRowFirst(gl);
  // A copy, so that the caller's triangle cache is left alone.
  TriangleRenderer drawer = renderer;
  resetTriangleCache(drawer);
  PatternRandom random{20130112};
  gl.ClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  gl.PixelStorei(GL_PACK_ALIGNMENT, 1);
  for (int pass = 0; pass < kPatternPasses; ++pass) {
    makePatternPass(positions, random, records.data());
    gl.Clear(GL_COLOR_BUFFER_BIT);
    for (int id = 0; id < kPatternTriangles; ++id) drawTriangle(drawer, records.data() + id * kTriangleSize, false);
    gl.Finish();
    gl.ReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, picture.data());
    for (size_t i = 0; i < pixels; ++i) {
      const size_t row = i / static_cast<size_t>(width), column = i % static_cast<size_t>(width);
      const size_t stored = rowsStoredTopFirst ? (static_cast<size_t>(height) - 1 - row) * width + column : i;
      glIds[i] = idOfPixel(picture.data() + 4 * stored);
    }
    for (int candidate = 0; candidate < candidateCount; ++candidate) {
      if (!agrees[candidate]) continue;
      CoverageSetup setup;
      setupCoverage(setup, renderer, candidates[candidate]);
      std::fill(cpuIds.begin(), cpuIds.end(), 0);
      for (int id = 0; id < kPatternTriangles; ++id)
        paintTriangle(setup, records.data() + id * kTriangleSize, id + 1, cpuIds);
      agrees[candidate] = glIds == cpuIds;
    }
  }
  gl.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  gl.Enable(GL_BLEND);
  gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  gl.BindTexture(GL_TEXTURE_2D, 0);
}

}  // namespace

bool coverageAgreesWithGl(const TriangleRenderer& renderer, const GlApi& gl, const CoverageRules& rules) {
  bool agrees = false;
  checkCandidates(renderer, gl, &rules, 1, &agrees);
  return agrees;
}

bool findCoverageRules(const TriangleRenderer& renderer, const GlApi& gl, CoverageRules& found) {
  // Mesa keeps a window's rows top first and a framebuffer object's bottom
  // first; that orientation first, with fused multiply-add (a CPU that has
  // it) before without. Where several agree the pattern cannot tell them
  // apart, and neither can most triangles.
  GLint framebuffer = 0;
  gl.GetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &framebuffer);
  const bool topDown = framebuffer == 0 || drawingTopRowFirst(gl);
  const CoverageRules candidates[4] = {{topDown, true}, {topDown, false}, {!topDown, true}, {!topDown, false}};
  bool agrees[4] = {};
  checkCandidates(renderer, gl, candidates, 4, agrees);
  for (int i = 0; i < 4; ++i) {
    if (agrees[i]) {
      found = candidates[i];
      return true;
    }
  }
  return false;
}

}  // namespace drec
