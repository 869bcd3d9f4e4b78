#include "tools/drec/frame_triangles.hpp"

#include <cstring>

namespace drec {
namespace {

// What the reading meets was said when the index met it first.
void ignoreText(void*, const char*, size_t) {}
const Console kQuietConsole{nullptr, ignoreText};

FrameTriangle frameTriangleOf(const uint8_t* record, uint32_t index, const RecordLocation& location,
                              const FrameDrawState& before, const TriangleRenderer& renderer) {
  FrameTriangle triangle{};
  triangle.index = index;
  triangle.location = location;
  std::memcpy(triangle.bytes, record, kTriangleSize);
  triangle.record = decodeTriangle(record);
  triangle.slot = textureSlotOf(triangle.record.state);
  triangle.blendMode = blendModeOf(triangle.record.state);
  triangle.before = before;
  triangle.after = stateAfter(before, triangle.record.state);
  triangle.fate = TriangleFate::drawn;
  const float width = static_cast<float>(renderer.screenWidth);
  const float height = static_cast<float>(renderer.screenHeight);
  for (int i = 0; i < 3; ++i) {
    const TriangleVertex& vertex = triangle.record.vertices[i];
    if (vertex.depth == 0) {
      triangle.fate = TriangleFate::notDrawn;
      continue;
    }
    const float x = renderer.xPixels[vertex.x];
    const float y = height - renderer.yPixels[vertex.y];
    triangle.landingX[i] = x;
    triangle.landingY[i] = y;
    const bool offPicture = x < 0 || x > width || y < 0 || y > height;
    if (triangle.fate == TriangleFate::drawn && (vertexW(vertex.depth) < 2.0f || offPicture))
      triangle.fate = TriangleFate::clipped;
  }
  return triangle;
}

// Every triangle up to the frame's mark, with the drawing state carried on.
struct TriangleWalk : ReadHooks {
  const TriangleRenderer* renderer;
  std::vector<FrameTriangle>* triangles;
  const SegmentedStream* stream;
  FrameDrawState state;

  void triangle(const uint8_t* record) {
    const RecordLocation location{stream->chunkStart.segmentNumber, stream->chunkStart.filePosition,
                                  static_cast<uint32_t>(record - stream->recordBuffer)};
    const uint32_t index = static_cast<uint32_t>(triangles->size());
    triangles->push_back(frameTriangleOf(record, index, location, state, *renderer));
    state = triangles->back().after;
  }
  RecordAction frameMark(float) { return RecordAction::Stop; }
};

}  // namespace

bool readFrameTriangles(RecordReader& reader, const FrameIndex& index,
                        const TriangleRenderer& renderer, int64_t frame,
                        std::vector<FrameTriangle>& triangles) {
  triangles.clear();
  const IndexedFrame& indexed = index.frames[static_cast<size_t>(frame)];
  triangles.reserve(indexed.triangles);
  SegmentedStream& stream = *reader.stream;
  const Console* console = stream.console;
  stream.console = &kQuietConsole;
  const bool opened = restoreReader(reader, indexed.start);
  if (opened) {
    TriangleWalk walk{};
    walk.renderer = &renderer;
    walk.triangles = &triangles;
    walk.stream = &stream;
    walk.state = indexed.state;
    readRecords(reader, walk);
  }
  stream.console = console;
  return opened;
}

}  // namespace drec
