// Fuzz target: the frame index and the start of a seek, over a recording in
// memory (split into segment files at each "|SEG|", as for the player).
// Checks: the index has the frames, time stamps and end of a plain reading
// from the start; and reading any frame from its indexed start, with its
// indexed drawing state put back into a GL whose state was scrambled, sends
// the same triangles under the same texture and blend state as the plain
// reading sent for that frame.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/harness.hpp"
#include "recording/reader.hpp"
#include "tools/drec/frame_index.hpp"
#include "tools/drec/frame_plan.hpp"
#include "tools/drec/seek.hpp"

namespace {

using namespace drec;

[[noreturn]] void fail(const char* what, int64_t frame) {
  std::fprintf(stderr, "seek check failed at frame %lld: %s\n", static_cast<long long>(frame), what);
  std::abort();
}

// The GL state that decides how a triangle draws, and a digest of every
// triangle sent under it. The GL table has no context: one instance, set
// for the run.
struct TrackedGl {
  GLuint bound;
  bool blending;
  GLenum source;
  GLenum destination;
  uint64_t digest;
};
TrackedGl* tracked = nullptr;

void mix(const void* bytes, size_t count) {
  tracked->digest = fnv1a64(static_cast<const uint8_t*>(bytes), count, tracked->digest);
}
void trackBind(GLenum, GLuint name) { tracked->bound = name; }
void trackEnable(GLenum capability) {
  if (capability == GL_BLEND) tracked->blending = true;
}
void trackDisable(GLenum capability) {
  if (capability == GL_BLEND) tracked->blending = false;
}
void trackBlendFunc(GLenum source, GLenum destination) {
  tracked->source = source;
  tracked->destination = destination;
}
// Each triangle counts with the state it is drawn under.
void trackBegin(GLenum mode) {
  const uint32_t state[5] = {mode, tracked->bound, tracked->blending ? 1u : 0u, tracked->source,
                             tracked->destination};
  mix(state, sizeof state);
}
void trackTexCoord(GLfloat s, GLfloat t) {
  const GLfloat values[2] = {s, t};
  mix(values, sizeof values);
}
void trackColor(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha) {
  const GLfloat values[4] = {red, green, blue, alpha};
  mix(values, sizeof values);
}
void trackVertex(GLfloat x, GLfloat y, GLfloat z) {
  const GLfloat values[3] = {x, y, z};
  mix(values, sizeof values);
}

template <typename Function>
struct Ignored;
template <typename Result, typename... Arguments>
struct Ignored<Result (*)(Arguments...)> {
  static Result call(Arguments...) {
    if constexpr (!std::is_void_v<Result>) return Result{};
  }
};

GlApi trackingGl() {
  GlApi gl{};
#define DREC_GL_IGNORE(result, name, parameters) gl.name = Ignored<decltype(gl.name)>::call;
  DREC_GL_FUNCTIONS(DREC_GL_IGNORE)
  DREC_GL_EXTENSION_FUNCTIONS(DREC_GL_IGNORE)
#undef DREC_GL_IGNORE
  gl.Perspective = Ignored<decltype(gl.Perspective)>::call;
  gl.BindTexture = trackBind;
  gl.Enable = trackEnable;
  gl.Disable = trackDisable;
  gl.BlendFunc = trackBlendFunc;
  gl.Begin = trackBegin;
  gl.TexCoord2f = trackTexCoord;
  gl.Color4f = trackColor;
  gl.Vertex3f = trackVertex;
  return gl;
}

// Draws every triangle; keeps each frame's digest, or stops after one frame.
struct DigestWalk : ReadHooks {
  FrameRenderer* renderer;
  std::vector<uint64_t>* digests;
  std::vector<float>* times;
  bool oneFrame;
  void triangle(const uint8_t* record) { drawTriangle(renderer->triangles, record, false); }
  RecordAction frameMark(float time) {
    if (digests) digests->push_back(tracked->digest);
    if (times) times->push_back(time);
    tracked->digest = kFnv1a64Offset;
    return oneFrame ? RecordAction::Stop : RecordAction::Continue;
  }
};

void ignoreText(void*, const char*, size_t) {}

bool openStream(SegmentedStream& stream, const FileAccess& files, const Console& console,
                const char* name, RecordingHeader& header) {
  uint8_t bytes[kHeaderSize];
  if (startStream(stream, files, console, name, bytes) != StartOutcome::Opened) return false;
  header = parseHeader(bytes);
  if (!hasRecordingMagic(header)) return false;
  createStreamBuffers(stream);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::limitAllocations(fuzz::kAllocationLimit);
  const std::vector<fuzz::Bytes> segments =
      fuzz::splitInput(data, size, fuzz::kSegmentSeparator, fuzz::kMaxSegments);
  MemoryFiles files{};
  const char* name = fuzz::addRecordingFiles(files, segments);
  const FileAccess access = memoryFileAccess(files);
  const Console console{nullptr, ignoreText};
  SegmentedStream plainStream, indexStream, seekStream;
  RecordingHeader header{};
  if (!openStream(plainStream, access, console, name, header) ||
      !openStream(indexStream, access, console, name, header) ||
      !openStream(seekStream, access, console, name, header))
    return 0;

  TrackedGl gl{0, true, GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, kFnv1a64Offset};
  tracked = &gl;
  FrameRenderer renderer;
  renderer.gl = trackingGl();
  for (int slot = 0; slot <= kTextureSlotCount; ++slot) renderer.slots.names[slot] = static_cast<GLuint>(100 + slot);
  setupTriangleRenderer(renderer.triangles, renderer.gl, renderer.slots, 64, 48);

  // The plain reading, from the start.
  std::vector<uint64_t> digests;
  std::vector<float> times;
  DigestWalk plain{};
  plain.renderer = &renderer;
  plain.digests = &digests;
  plain.times = &times;
  RecordReader plainReader = startReader(plainStream);
  const ReadEnd plainEnd = readRecords(plainReader, plain);

  FrameIndex index{};
  startFrameIndex(index, indexStream, 0);
  while (!indexFrames(index, 3)) {
  }
  if (index.frames.size() != digests.size()) fail("the index holds another number of frames", -1);
  if (index.end != plainEnd) fail("the index ends otherwise than the reading", -1);
  for (size_t frame = 0; frame < times.size(); ++frame)
    if (std::memcmp(&times[frame], &index.frames[frame].recordedTime, sizeof(float)) != 0)
      fail("another time stamp", static_cast<int64_t>(frame));

  // Every frame (up to 300, evenly) from its indexed start and state.
  const size_t frames = digests.size();
  const size_t step = frames > 300 ? frames / 300 : 1;
  RecordReader reader = startReader(seekStream);
  for (size_t frame = 0; frame < frames; frame += step) {
    gl = TrackedGl{7777, frame % 2 == 0, GL_ONE, GL_ONE, kFnv1a64Offset};
    renderer.triangles.cache = TriangleCache{-3, -3};
    restoreDrawState(renderer, index.frames[frame].state);
    if (!restoreReader(reader, index.frames[frame].start)) fail("the start does not open", static_cast<int64_t>(frame));
    std::vector<uint64_t> one;
    DigestWalk walk{};
    walk.renderer = &renderer;
    walk.digests = &one;
    walk.oneFrame = true;
    readRecords(reader, walk);
    if (one.size() != 1 || one[0] != digests[frame])
      fail("the frame draws otherwise from its indexed start", static_cast<int64_t>(frame));
  }
  tracked = nullptr;
  return 0;
}
