#include "fuzz/harness.hpp"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "player/playback.hpp"
#include "recording/format.hpp"
#include "render/bmp.hpp"
#include "render/textures.hpp"
#include "render/triangles.hpp"
#include "tools/writer/recording_writer.hpp"

// Present in every sanitizer runtime; null in a plain build.
extern "C" int __sanitizer_install_malloc_and_free_hooks(
    void (*mallocHook)(const volatile void*, size_t), void (*freeHook)(const volatile void*))
    __attribute__((weak));

namespace drec::fuzz {
namespace {

// The hooks take no context, so the limit lives here, set once.
size_t allocationLimit = 0;

void checkAllocation(const volatile void*, size_t size) {
  if (allocationLimit > 0 && size > allocationLimit) {
    std::fprintf(stderr, "allocation of %zu bytes, above the limit of %zu\n", size, allocationLimit);
    std::abort();
  }
}

void ignoreFree(const volatile void*) {}

constexpr size_t kMaxGlProblems = 4;

// The GL table's functions are plain pointers without a context, so the run
// being noted is reached through this one pointer, set for the duration of
// playInMemory or loadTexturesInMemory.
struct GlNotes {
  PlayerRun* run;
  bool inBegin;
  int vertexCount;
  DrawnTriangle triangle;
  DrawnVertex pending;
  GLuint nextName;
  GLuint bound;
  GLint maxTextureSize;
};
GlNotes* activeNotes = nullptr;

void glProblem(const char* what) {
  PlayerRun& run = *activeNotes->run;
  if (run.glProblems.size() < kMaxGlProblems) run.glProblems.emplace_back(what);
}

// Every GL function not noted below does nothing (and answers zero).
template <typename Function>
struct Ignored;
template <typename Result, typename... Arguments>
struct Ignored<Result (*)(Arguments...)> {
  static Result call(Arguments...) {
    if constexpr (!std::is_void_v<Result>) return Result{};
  }
};

void noteGenTextures(GLsizei count, GLuint* names) {
  for (GLsizei i = 0; i < count; ++i) {
    names[i] = activeNotes->nextName++;
    activeNotes->run->textures.push_back(GlTexture{0, 0, false, 0});
  }
}

void noteBindTexture(GLenum, GLuint name) { activeNotes->bound = name; }

GlTexture* boundTexture() {
  GLuint name = activeNotes->bound;
  std::vector<GlTexture>& textures = activeNotes->run->textures;
  if (name == 0 || name > textures.size()) {
    glProblem("texture image sent with no texture bound");
    return nullptr;
  }
  return &textures[name - 1];
}

void noteTexImage2D(GLenum, GLint, GLint, GLsizei width, GLsizei height, GLint, GLenum, GLenum,
                  const GLvoid*) {
  GlTexture* texture = boundTexture();
  if (!texture) return;
  texture->width = width;
  texture->height = height;
}

void noteTexSubImage2D(GLenum, GLint, GLint x, GLint y, GLsizei width, GLsizei height, GLenum,
                     GLenum, const GLvoid* pixels) {
  GlTexture* texture = boundTexture();
  if (!texture) return;
  if (x != 0 || y != 0 || width != texture->width || height != texture->height || width <= 0 ||
      height <= 0 || !pixels) {
    glProblem("texture image not sent whole at its allocated size");
    return;
  }
  // Reads every byte, so that a short image is an out-of-bounds read.
  const auto* bytes = static_cast<const uint8_t*>(pixels);
  const size_t count = 4 * static_cast<size_t>(width) * static_cast<size_t>(height);
  uint32_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum += bytes[i];
  texture->pixelSum = sum;
  texture->imageSent = true;
}

void noteGetIntegerv(GLenum name, GLint* values) {
  values[0] = name == GL_MAX_TEXTURE_SIZE ? activeNotes->maxTextureSize : 0;
}

void noteBegin(GLenum mode) {
  if (activeNotes->inBegin) glProblem("Begin inside Begin");
  if (mode != GL_TRIANGLES) glProblem("Begin with a mode other than triangles");
  activeNotes->inBegin = true;
  activeNotes->vertexCount = 0;
}

void noteEnd() {
  if (!activeNotes->inBegin) glProblem("End without Begin");
  if (activeNotes->vertexCount != 3) glProblem("a triangle without exactly 3 vertices");
  if (activeNotes->inBegin && activeNotes->vertexCount == 3)
    activeNotes->run->drawn.push_back(activeNotes->triangle);
  activeNotes->inBegin = false;
}

void noteTexCoord2f(GLfloat s, GLfloat t) {
  activeNotes->pending.s = s;
  activeNotes->pending.t = t;
}

void noteColor4f(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha) {
  activeNotes->pending.red = red;
  activeNotes->pending.green = green;
  activeNotes->pending.blue = blue;
  activeNotes->pending.alpha = alpha;
}

void noteVertex3f(GLfloat x, GLfloat y, GLfloat z) {
  GlNotes& notes = *activeNotes;
  if (!notes.inBegin) {
    glProblem("Vertex outside Begin and End");
    return;
  }
  if (notes.vertexCount < 3) {
    notes.pending.x = x;
    notes.pending.y = y;
    notes.pending.z = z;
    notes.triangle.vertices[notes.vertexCount] = notes.pending;
  }
  ++notes.vertexCount;
}

GlApi notingGlApi() {
  GlApi gl{};
#define DREC_GL_IGNORE(result, name, parameters) gl.name = Ignored<decltype(gl.name)>::call;
  DREC_GL_FUNCTIONS(DREC_GL_IGNORE)
#undef DREC_GL_IGNORE
  gl.Perspective = Ignored<decltype(gl.Perspective)>::call;
  gl.GenTextures = noteGenTextures;
  gl.BindTexture = noteBindTexture;
  gl.TexImage2D = noteTexImage2D;
  gl.TexSubImage2D = noteTexSubImage2D;
  gl.GetIntegerv = noteGetIntegerv;
  gl.Begin = noteBegin;
  gl.End = noteEnd;
  gl.TexCoord2f = noteTexCoord2f;
  gl.Color4f = noteColor4f;
  gl.Vertex3f = noteVertex3f;
  return gl;
}

struct NotesScope {
  GlNotes notes{};
  NotesScope(PlayerRun& run, GLint maxTextureSize) {
    notes.run = &run;
    notes.nextName = 1;
    notes.maxTextureSize = maxTextureSize;
    activeNotes = &notes;
  }
  ~NotesScope() {
    if (notes.inBegin) glProblem("Begin without End");
    activeNotes = nullptr;
  }
  NotesScope(const NotesScope&) = delete;
  NotesScope& operator=(const NotesScope&) = delete;
};

void consoleWrite(void* context, const char* text, size_t length) {
  static_cast<PlayerRun*>(context)->printed.append(text, length);
}

// A clock that moves only when the player sleeps; no key is ever held, and
// the key buffer stays empty until the call limit, if any, is reached.
struct FakeWorld {
  PlayerRun* run;
  double seconds;
  uint64_t limit;
};

bool countCall(FakeWorld& world) {
  ++world.run->serviceCalls;
  if (world.limit > 0 && world.run->serviceCalls > world.limit) {
    world.run->stoppedByLimit = true;
    return false;
  }
  return true;
}

double fakeClock(void* context) {
  FakeWorld& world = *static_cast<FakeWorld*>(context);
  countCall(world);
  return world.seconds;
}

void fakeSleep(void* context, int64_t milliseconds) {
  FakeWorld& world = *static_cast<FakeWorld*>(context);
  countCall(world);
  world.run->sleeps.push_back(milliseconds);
  if (milliseconds > 0) world.seconds += static_cast<double>(milliseconds) / 1000.0;
}

void fakePresent(void* context) {
  FakeWorld& world = *static_cast<FakeWorld*>(context);
  countCall(world);
  ++world.run->presents;
}

bool fakeKeyHeld(void* context, int) {
  countCall(*static_cast<FakeWorld*>(context));
  return false;
}

KeyEntry fakeNextKey(void* context) {
  if (!countCall(*static_cast<FakeWorld*>(context))) return closeRequestKey();
  return KeyEntry{0, {0, 0}};
}

bool openDisplay(void* context, int width, int height) {
  PlayerRun& run = *static_cast<FakeWorld*>(context)->run;
  ++run.displaysOpened;
  run.width = width;
  run.height = height;
  return true;
}

void consoleKeyWait(void* context) { ++static_cast<FakeWorld*>(context)->run->consoleWaits; }

bool keyCanArrive(void*) { return false; }

bool endsWith(const std::string& text, const char* tail) {
  size_t length = std::strlen(tail);
  return text.size() >= length && text.compare(text.size() - length, length, tail) == 0;
}

bool startsLikeZlib(const uint8_t* bytes) {
  const unsigned method = bytes[0] & 0x0Fu;
  const unsigned window = bytes[0] >> 4;
  const unsigned check = (static_cast<unsigned>(bytes[0]) << 8) | bytes[1];
  return method == 8 && window <= 7 && check % 31 == 0 && (bytes[1] & 0x20) == 0;
}

// Inflates from every offset of `bytes` that starts a zlib header and adds
// the triangles of every stream that ends within the record buffer's size.
void addInflatable(TriangleSet& set, const Bytes& bytes, Bytes& output) {
  for (size_t offset = 0; offset + 2 <= bytes.size(); ++offset) {
    if (!startsLikeZlib(bytes.data() + offset)) continue;
    z_stream z{};
    if (inflateInit(&z) != Z_OK) continue;
    z.next_in = const_cast<uint8_t*>(bytes.data() + offset);
    z.avail_in = static_cast<uInt>(bytes.size() - offset);
    z.next_out = output.data();
    z.avail_out = static_cast<uInt>(output.size());
    const int status = inflate(&z, Z_FINISH);
    const size_t produced = output.size() - z.avail_out;
    inflateEnd(&z);
    if (status != Z_STREAM_END) continue;
    for (size_t i = 0; i + kTriangleSize <= produced; ++i) {
      if (output[i] == kRecordTriangle) addTriangle(set, output.data() + i);
    }
  }
}

}  // namespace

void limitAllocations(size_t bytes) {
  if (allocationLimit != 0 || !__sanitizer_install_malloc_and_free_hooks) return;
  allocationLimit = bytes;
  __sanitizer_install_malloc_and_free_hooks(checkAllocation, ignoreFree);
}

std::vector<Bytes> splitInput(const uint8_t* data, size_t size, const char* separator,
                              size_t maxParts) {
  std::vector<Bytes> parts;
  const size_t separatorSize = std::strlen(separator);
  const uint8_t* end = data + size;
  const uint8_t* start = data;
  for (;;) {
    const uint8_t* found = end;
    if (parts.size() + 1 < maxParts) {
      found = std::search(start, end, separator, separator + separatorSize);
    }
    parts.emplace_back(start, found);
    if (found == end) break;
    start = found + separatorSize;
  }
  return parts;
}

Bytes joinInput(const std::vector<Bytes>& parts, const char* separator) {
  Bytes joined;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) joined.insert(joined.end(), separator, separator + std::strlen(separator));
    joined.insert(joined.end(), parts[i].begin(), parts[i].end());
  }
  return joined;
}

const char* addRecordingFiles(MemoryFiles& files, const std::vector<Bytes>& segments) {
  if (segments.size() == 1) {
    addMemoryFile(files, kPlainName, segments[0]);
    return kPlainName;
  }
  for (size_t i = 0; i < segments.size(); ++i) {
    std::string name = "r." + std::to_string(i) + ".rec";
    addMemoryFile(files, name, segments[i]);
  }
  return kSegmentTemplate;
}

TriangleKey keyOf(const DrawnTriangle& triangle) {
  TriangleKey key{};
  static_assert(sizeof(DrawnTriangle) == sizeof(TriangleKey));
  std::memcpy(key.data(), &triangle, sizeof key);
  return key;
}

TriangleRenderer offsetRenderer(int width, int height) {
  static const GlApi unused{};
  static const TextureSlots noSlots{};
  TriangleRenderer renderer{};
  setupTriangleRenderer(renderer, unused, noSlots, width, height);
  return renderer;
}

DrawnTriangle expectedDrawing(const uint8_t* record, const TriangleRenderer& renderer) {
  const TexturedTriangle decoded = decodeTriangle(record);
  DrawnTriangle triangle{};
  for (int i = 0; i < 3; ++i) {
    const TriangleVertex& vertex = decoded.vertices[i];
    const VertexColor color = colorFromPacked(vertex.color);
    const VertexPosition position =
        vertexPosition(renderer, vertex.x, vertex.y, vertexW(vertex.depth));
    triangle.vertices[i] = DrawnVertex{texCoordOf(vertex.s), texCoordOf(vertex.t), color.red,
                                       color.green, color.blue, color.alpha, position.x,
                                       position.y, position.z};
  }
  return triangle;
}

PlayerRun playInMemory(MemoryFiles& files, const char* name, uint64_t serviceCallLimit) {
  PlayerRun run;
  NotesScope scope(run, kMesaMaxTextureSize);
  FakeWorld world{&run, 0.0, serviceCallLimit};
  const PlaybackServices services{&world,      fakeClock,      fakeSleep,
                                  fakePresent, fakeKeyHeld,    fakeNextKey,
                                  openDisplay, consoleKeyWait, keyCanArrive};
  run.status = runPlayer(name, memoryFileAccess(files), Console{&run, consoleWrite}, notingGlApi(),
                         services);
  run.maxFilesOpen = files.maxOpenCount;
  run.filesLeftOpen = files.openCount;
  return run;
}

PlayerRun loadTexturesInMemory(MemoryFiles& files, const uint8_t* header, int maxTextureSize) {
  PlayerRun run;
  NotesScope scope(run, maxTextureSize);
  const FileAccess access = memoryFileAccess(files);
  const Console console{&run, consoleWrite};
  const GlApi gl = notingGlApi();
  TextureSlots slots{};
  loadAllTextures(slots, parseHeader(header), kPlayerTexturesFolder, gl, access, console);
  run.status = 0;
  run.maxFilesOpen = files.maxOpenCount;
  run.filesLeftOpen = files.openCount;
  return run;
}

std::string checkRun(const PlayerRun& run) {
  if (run.stoppedByLimit) return "the run did not end by itself";
  if (!run.glProblems.empty()) return "GL: " + run.glProblems[0];
  if (run.status != kExitPlayed && run.status != kExitFailed)
    return "exit status " + std::to_string(run.status);
  if (run.filesLeftOpen != 0) return std::to_string(run.filesLeftOpen) + " file(s) left open";
  if (run.maxFilesOpen > 2) return std::to_string(run.maxFilesOpen) + " files open at once";
  const bool overflow = endsWith(run.printed, "Overflow on input buffer\n");
  for (size_t i = 0; i < run.sleeps.size(); ++i) {
    const int64_t sleep = run.sleeps[i];
    const bool overflowSleep = overflow && sleep == 1000 && i + 1 == run.sleeps.size();
    if ((sleep < 0 || sleep > 250) && !overflowSleep)
      return "sleep of " + std::to_string(sleep) + " ms (sleep " + std::to_string(i) + ")";
  }
  const bool startupFailure = endsWith(run.printed, "\r\n");
  if (!overflow && !startupFailure && !endsWith(run.printed, "Done."))
    return "output ends neither in Done., a start-up failure nor an overflow";
  if (overflow && (run.sleeps.empty() || run.sleeps.back() != 1000))
    return "no one-second sleep after the overflow";
  if (startupFailure) {
    if (run.displaysOpened != 0 || run.presents != 0 || !run.drawn.empty())
      return "a start-up failure opened the display or drew";
    if (run.consoleWaits != 1) return "a start-up failure did not wait for a console key";
  }
  if (run.displaysOpened > 1) return "the display was opened more than once";
  return checkTextures(run);
}

std::string checkTextures(const PlayerRun& run) {
  if (!run.glProblems.empty()) return "GL: " + run.glProblems[0];
  for (size_t i = 0; i < run.textures.size(); ++i) {
    const GlTexture& texture = run.textures[i];
    if (texture.width == 0 && texture.height == 0) continue;  // no image
    if (texture.width <= 0 || texture.height <= 0 || texture.width > kMaxTextureSide ||
        texture.height > kMaxTextureSide ||
        static_cast<int64_t>(texture.width) * texture.height > kMaxTexturePixels)
      return "texture " + std::to_string(i + 1) + " allocated at " +
             std::to_string(texture.width) + " x " + std::to_string(texture.height);
    if (!texture.imageSent) return "texture " + std::to_string(i + 1) + " allocated, no image";
  }
  return {};
}

TriangleSet emptySet(int width, int height) {
  TriangleSet set;
  set.renderer = offsetRenderer(width, height);
  return set;
}

void addTriangle(TriangleSet& set, const uint8_t* record) {
  set.keys.push_back(keyOf(expectedDrawing(record, set.renderer)));
}

void finishSet(TriangleSet& set) {
  std::sort(set.keys.begin(), set.keys.end());
  set.keys.erase(std::unique(set.keys.begin(), set.keys.end()), set.keys.end());
}

bool contains(const TriangleSet& set, const DrawnTriangle& triangle) {
  return std::binary_search(set.keys.begin(), set.keys.end(), keyOf(triangle));
}

TriangleSet reachableTriangles(const std::vector<Bytes>& segments, int width, int height) {
  TriangleSet set = emptySet(width, height);
  Bytes output(kMaxRecordLength);
  const Bytes zeros(kMaxCompressedLength, 0);
  for (size_t i = 0; i < segments.size(); ++i) {
    Bytes joined = segments[i];
    joined.insert(joined.end(), zeros.begin(), zeros.end());
    addInflatable(set, joined, output);
    if (i + 1 < segments.size()) {
      joined.resize(segments[i].size());
      joined.insert(joined.end(), segments[i + 1].begin(), segments[i + 1].end());
      joined.insert(joined.end(), zeros.begin(), zeros.end());
      addInflatable(set, joined, output);
    }
  }
  finishSet(set);
  return set;
}

int firstUnrecorded(const PlayerRun& run, const TriangleSet& set) {
  for (size_t i = 0; i < run.drawn.size(); ++i) {
    if (!contains(set, run.drawn[i])) return static_cast<int>(i);
  }
  return -1;
}

SampleRecording sampleRecording(int frames, int trianglesPerFrame, size_t chunkRecordLimit,
                                double frameSeconds) {
  SampleRecording sample{320, 200, {}};
  Bytes records;
  int serial = 0;
  for (int frame = 0; frame < frames; ++frame) {
    for (int i = 0; i < trianglesPerFrame; ++i, ++serial) {
      // The serial number in the first vertex makes every triangle unique.
      const uint8_t low = static_cast<uint8_t>(serial & 255);
      const uint8_t high = static_cast<uint8_t>((serial >> 8) & 255);
      const TriangleVertex vertices[3] = {
          {low, high, low, high, static_cast<uint16_t>(20000 + serial % 512), packColor(15, 9, 4, 2)},
          {200, 10, static_cast<uint8_t>(255 - low), 40, 30000, packColor(0, 3, 12, 7)},
          {10, 250, 90, static_cast<uint8_t>(200 - high), 65535, packColor(8, 15, 15, 15)}};
      appendTriangle(records, triangleState(serial % 3, serial % 4), vertices);
      if (records.size() >= chunkRecordLimit) {
        sample.chunkRecords.push_back(records);
        records.clear();
      }
    }
    appendFrameMark(records, static_cast<float>(frame * frameSeconds));
    if (records.size() >= chunkRecordLimit) {
      sample.chunkRecords.push_back(records);
      records.clear();
    }
  }
  if (!records.empty()) sample.chunkRecords.push_back(records);
  return sample;
}

Bytes assembleRecording(const SampleRecording& sample) {
  Bytes stream = headerBytes(sample.width, sample.height, TextureTable{});
  for (const Bytes& records : sample.chunkRecords) appendChunk(stream, records);
  return stream;
}

std::vector<const uint8_t*> triangleRecords(const SampleRecording& sample, size_t first,
                                            size_t last) {
  std::vector<const uint8_t*> triangles;
  for (size_t chunk = first; chunk < last && chunk < sample.chunkRecords.size(); ++chunk) {
    const Bytes& records = sample.chunkRecords[chunk];
    size_t offset = 0;
    while (offset < records.size()) {
      if (records[offset] == kRecordTriangle) {
        triangles.push_back(records.data() + offset);
        offset += kTriangleSize;
      } else {
        offset += kFrameMarkSize;
      }
    }
  }
  return triangles;
}

}  // namespace drec::fuzz
