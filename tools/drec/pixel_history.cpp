#include "tools/drec/pixel_history.hpp"

namespace drec {
namespace {

// The pixel as the GL counts it, rows bottom first, and the row it is
// stored in (the same, or counted from the top in a target stored so).
struct GlPixel {
  int x;
  int y;
  int storedY;
};

bool boxHolds(const PixelBox& box, GlPixel pixel) {
  return pixel.x >= box.x0 && pixel.x < box.x1 && pixel.y >= box.y0 && pixel.y < box.y1;
}

PixelColor colorOf(const uint8_t rgba[4]) { return PixelColor{rgba[0], rgba[1], rgba[2]}; }

// Puts the pixel's colour back into the target before a replay.
void putPixel(Seeker& seeker, GlPixel pixel, const uint8_t rgba[4]) {
  const GlApi& gl = seeker.renderer->gl;
  gl.BindTexture(GL_TEXTURE_2D, seeker.target.colour);
  gl.PixelStorei(GL_UNPACK_ALIGNMENT, 4);
  gl.TexSubImage2D(GL_TEXTURE_2D, 0, pixel.x, pixel.storedY, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
}

// The picture before the frame, in the seeker's target.
bool drawPictureBefore(Seeker& seeker, int64_t frame) {
  if (frame > 0) return seekToFrame(seeker, frame - 1);
  const GlApi& gl = seeker.renderer->gl;
  gl.BindFramebuffer(GL_FRAMEBUFFER, seeker.target.framebuffer);
  gl.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  return true;
}

// Pass 1: which of the triangles that may reach the pixel do; `queried`
// is left holding those alone.
void findTouchingTriangles(Seeker& seeker, GlPixel pixel, PixelHistory& history) {
  FrameRenderer& renderer = *seeker.renderer;
  const GlApi& gl = renderer.gl;
  history.queried.clear();
  for (const FrameTriangle& triangle : history.triangles)
    if (boxHolds(triangleBox(renderer.triangles, triangle.bytes), pixel))
      history.queried.push_back(triangle.index);
  if (history.queried.empty()) return;
  if (history.queries.size() < history.queried.size()) {
    const size_t made = history.queries.size();
    history.queries.resize(history.queried.size());
    gl.GenQueries(static_cast<GLsizei>(history.queries.size() - made), history.queries.data() + made);
  }
  size_t next = 0;
  for (uint32_t i = 0; i <= history.queried.back(); ++i) {
    const bool asked = history.queried[next] == i;
    if (asked) gl.BeginQuery(GL_SAMPLES_PASSED, history.queries[next]);
    drawTriangle(renderer.triangles, history.triangles[i].bytes, false);
    if (asked) gl.EndQuery(GL_SAMPLES_PASSED);
    next += asked;
  }
  size_t touching = 0;
  for (size_t q = 0; q < history.queried.size(); ++q) {
    GLuint samples = 0;
    gl.GetQueryObjectuiv(history.queries[q], GL_QUERY_RESULT, &samples);
    if (samples > 0) history.queried[touching++] = history.queried[q];
  }
  history.queried.resize(touching);
}

// Pass 2: the pixel read back after each triangle that touched it.
void readTouches(Seeker& seeker, GlPixel pixel, PixelHistory& history) {
  FrameRenderer& renderer = *seeker.renderer;
  const GlApi& gl = renderer.gl;
  PixelColor color = history.start;
  size_t next = 0;
  for (uint32_t i = 0; next < history.queried.size(); ++i) {
    const FrameTriangle& triangle = history.triangles[i];
    drawTriangle(renderer.triangles, triangle.bytes, false);
    if (history.queried[next] != i) continue;
    ++next;
    uint8_t rgba[4];
    gl.ReadPixels(pixel.x, pixel.storedY, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    PixelTouch touch{};
    touch.triangle = triangle;
    for (int v = 0; v < 3; ++v) touch.drawnColors[v] = colorFromPacked(triangle.record.vertices[v].color);
    touch.before = color;
    touch.after = colorOf(rgba);
    color = touch.after;
    history.touches.push_back(touch);
  }
  history.final = color;
}

}  // namespace

bool findPixelHistory(Seeker& seeker, RecordReader& reader, int64_t frame, int x, int y,
                      PixelHistory& history) {
  FrameRenderer& renderer = *seeker.renderer;
  const GlApi& gl = renderer.gl;
  const FrameIndex& index = *seeker.index;
  history.frame = frame;
  history.x = x;
  history.y = y;
  history.touches.clear();
  if (!readFrameTriangles(reader, index, renderer.triangles, frame, history.triangles)) return false;
  if (!drawPictureBefore(seeker, frame)) return false;
  const GlPixel pixel{x, seeker.target.height - 1 - y,
                      seeker.target.rowsTopFirst ? y : seeker.target.height - 1 - y};
  uint8_t start[4];
  gl.ReadPixels(pixel.x, pixel.storedY, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, start);
  history.start = colorOf(start);

  GLint scissorBox[4];
  GLint scissorTest = 0;
  gl.GetIntegerv(GL_SCISSOR_BOX, scissorBox);
  gl.GetIntegerv(GL_SCISSOR_TEST, &scissorTest);
  gl.Enable(GL_SCISSOR_TEST);
  gl.Scissor(pixel.x, pixel.storedY, 1, 1);
  const FrameDrawState& state = index.frames[static_cast<size_t>(frame)].state;
  restoreDrawState(renderer, state);
  findTouchingTriangles(seeker, pixel, history);
  putPixel(seeker, pixel, start);
  restoreDrawState(renderer, state);
  readTouches(seeker, pixel, history);

  // The whole frame, from the picture before it.
  putPixel(seeker, pixel, start);
  gl.Scissor(scissorBox[0], scissorBox[1], scissorBox[2], scissorBox[3]);
  if (scissorTest) {
    gl.Enable(GL_SCISSOR_TEST);
  } else {
    gl.Disable(GL_SCISSOR_TEST);
  }
  restoreDrawState(renderer, state);
  for (const FrameTriangle& triangle : history.triangles)
    drawTriangle(renderer.triangles, triangle.bytes, false);
  return restoreReader(seeker.reader, positionAfterFrame(index, frame));
}

void releasePixelHistory(const GlApi& gl, PixelHistory& history) {
  if (!history.queries.empty())
    gl.DeleteQueries(static_cast<GLsizei>(history.queries.size()), history.queries.data());
  history.queries.clear();
}

}  // namespace drec
