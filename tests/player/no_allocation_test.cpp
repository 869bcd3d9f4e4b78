// No heap allocation after start-up: once the textures are loaded, the
// player's stream reader, record walk, frame pacer and triangle drawing run
// the whole recording on the buffers made at start-up.
//
// This binary replaces malloc, calloc, realloc, free, the aligned allocators
// and operator new and delete with counting versions that hand on to the C
// library's allocator. Counting is off except while a test switches it on;
// the playback test switches it on inside the present seam at the first
// present (startPacing, right after the textures are loaded) and off inside
// the console seam when "Done." starts the end sequence. Presenting, the
// clock, keys and GL are seams that allocate nothing themselves, and the
// files are either in memory or real files on disk. The GL driver's own
// allocations are out of the picture: GL is behind the seam.
//
// Not built with the sanitizers: they bring their own allocator.
#include <errno.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <ostream>
#include <string>
#include <vector>

#include "player/playback.hpp"
#include "tests/support/test_paths.hpp"
#include "tools/writer/bmp_writer.hpp"
#include "tools/writer/memory_files.hpp"
#include "tools/writer/recording_writer.hpp"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* pointer);
}

namespace {

// Global because the allocator entry points have no context to carry it.
struct HeapCounts {
  std::atomic<bool> counting;
  std::atomic<long> allocations;
  std::atomic<long> releases;
};
HeapCounts heap;

void noteAllocation() {
  if (heap.counting.load(std::memory_order_relaxed))
    heap.allocations.fetch_add(1, std::memory_order_relaxed);
}

void noteRelease(void* pointer) {
  if (pointer && heap.counting.load(std::memory_order_relaxed))
    heap.releases.fetch_add(1, std::memory_order_relaxed);
}

bool validAlignment(size_t alignment) {
  return alignment >= sizeof(void*) && (alignment & (alignment - 1)) == 0;
}

void* allocateOrAbort(size_t size) {
  noteAllocation();
  void* pointer = __libc_malloc(size ? size : 1);
  if (!pointer) std::abort();  // built without exceptions: nothing to throw
  return pointer;
}

void* allocateAlignedOrAbort(size_t size, std::align_val_t alignment) {
  noteAllocation();
  void* pointer = __libc_memalign(static_cast<size_t>(alignment), size ? size : 1);
  if (!pointer) std::abort();
  return pointer;
}

}  // namespace

extern "C" {
void* malloc(size_t size) {
  noteAllocation();
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
  noteAllocation();
  return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) {
  noteAllocation();
  return __libc_realloc(pointer, size);
}
void free(void* pointer) {
  noteRelease(pointer);
  __libc_free(pointer);
}
void* memalign(size_t alignment, size_t size) {
  noteAllocation();
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
  noteAllocation();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** result, size_t alignment, size_t size) {
  noteAllocation();
  if (!validAlignment(alignment)) return EINVAL;
  void* pointer = __libc_memalign(alignment, size);
  if (!pointer) return ENOMEM;
  *result = pointer;
  return 0;
}
}

// Every form of new and delete, so that none falls through to a default
// that would bypass the counters or count twice.
void* operator new(std::size_t size) { return allocateOrAbort(size); }
void* operator new[](std::size_t size) { return allocateOrAbort(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  noteAllocation();
  return __libc_malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  noteAllocation();
  return __libc_malloc(size ? size : 1);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return allocateAlignedOrAbort(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return allocateAlignedOrAbort(size, alignment);
}
void operator delete(void* pointer) noexcept {
  noteRelease(pointer);
  __libc_free(pointer);
}
void operator delete[](void* pointer) noexcept {
  noteRelease(pointer);
  __libc_free(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept {
  noteRelease(pointer);
  __libc_free(pointer);
}
void operator delete[](void* pointer, std::size_t) noexcept {
  noteRelease(pointer);
  __libc_free(pointer);
}
void operator delete(void* pointer, std::align_val_t) noexcept {
  noteRelease(pointer);
  __libc_free(pointer);
}
void operator delete[](void* pointer, std::align_val_t) noexcept {
  noteRelease(pointer);
  __libc_free(pointer);
}
void operator delete(void* pointer, std::size_t, std::align_val_t) noexcept {
  noteRelease(pointer);
  __libc_free(pointer);
}
void operator delete[](void* pointer, std::size_t, std::align_val_t) noexcept {
  noteRelease(pointer);
  __libc_free(pointer);
}

namespace drec {
namespace {

void startCounting() {
  heap.allocations = 0;
  heap.releases = 0;
  heap.counting = true;
}

void stopCounting() { heap.counting = false; }

// Keeps the compiler from removing an allocation whose result is unused.
void* volatile sink;

struct Over64 {
  alignas(64) uint8_t bytes[64];
};

// The counters see allocations made by this file, by libstdc++, by the C
// library itself and by zlib: a playback run that allocated would be seen.
TEST(AllocationCounter, SeesEveryWayOfAllocating) {
  struct Row {
    const char* name;
    void (*allocate)();
  };
  const Row rows[] = {
      {"malloc", [] { sink = std::malloc(24); }},
      {"calloc", [] { sink = std::calloc(3, 8); }},
      {"realloc of null", [] { sink = std::realloc(nullptr, 40); }},
      {"aligned_alloc", [] { sink = aligned_alloc(64, 128); }},
      {"posix_memalign",
       [] {
         void* pointer = nullptr;
         if (posix_memalign(&pointer, 64, 100) == 0) sink = pointer;
       }},
      {"new", [] { sink = new int(5); }},
      {"new[]", [] { sink = new char[33]; }},
      {"new of an over-aligned type", [] { sink = new Over64(); }},
      {"std::string growing (libstdc++)",
       [] { sink = new std::string(std::string(100, 'x') + std::string(100, 'y')); }},
      {"strdup (inside the C library)", [] { sink = strdup("a string to copy"); }},
      {"inflateInit (inside zlib)",
       [] {
         z_stream* z = static_cast<z_stream*>(__libc_calloc(1, sizeof(z_stream)));
         inflateInit(z);  // its state is allocated by zlib; left in place on purpose
         sink = z;
       }},
  };
  for (const Row& row : rows) {
    startCounting();
    row.allocate();
    stopCounting();
    EXPECT_GE(heap.allocations.load(), 1) << "not counted: " << row.name;
  }
}

TEST(AllocationCounter, SeesReleases) {
  void* fromMalloc = std::malloc(16);
  int* fromNew = new int(1);
  char* fromNewArray = new char[10];
  startCounting();
  std::free(fromMalloc);
  delete fromNew;
  delete[] fromNewArray;
  stopCounting();
  EXPECT_EQ(3, heap.releases.load());
  EXPECT_EQ(0, heap.allocations.load());
}

// The GL seam: every function does nothing and allocates nothing; draws and
// state calls are counted. Global, as the GL table's functions take no context.
struct GlCounts {
  int begins;
  int vertices;
  int binds;
  int blendFunctions;
  int textureUploads;
  GLuint nextName;
};
GlCounts glCounts;

template <typename Signature>
struct Nothing;
template <typename Result, typename... Args>
struct Nothing<Result (*)(Args...)> {
  static Result call(Args...) { return Result(); }
};

GlApi countingGlApi() {
  GlApi api{};
#define DREC_GL_NOTHING(result, name, parameters) api.name = &Nothing<decltype(api.name)>::call;
  DREC_GL_FUNCTIONS(DREC_GL_NOTHING)
#undef DREC_GL_NOTHING
  api.Perspective = &Nothing<decltype(api.Perspective)>::call;
  api.Begin = [](GLenum) { ++glCounts.begins; };
  api.Vertex3f = [](GLfloat, GLfloat, GLfloat) { ++glCounts.vertices; };
  api.BindTexture = [](GLenum, GLuint) { ++glCounts.binds; };
  api.BlendFunc = [](GLenum, GLenum) { ++glCounts.blendFunctions; };
  api.TexSubImage2D = [](GLenum, GLint, GLint, GLint, GLsizei, GLsizei, GLenum, GLenum,
                         const GLvoid*) { ++glCounts.textureUploads; };
  api.GenTextures = [](GLsizei count, GLuint* names) {
    for (GLsizei i = 0; i < count; ++i) names[i] = ++glCounts.nextName;
  };
  api.GetIntegerv = [](GLenum, GLint* values) { values[0] = 4096; };
  return api;
}

// Clock, sleep, present and keys, and the files and console, for one run;
// nothing here allocates. The clock moves only when playback sleeps or a
// present takes time.
struct Session {
  double now;
  int presents;
  int slowPresentsFrom;  // presents from this one on take 40 ms ...
  int slowPresentsTo;    // ... up to this one: playback falls behind and drops frames
  int presentsCounted;
  int sleeps;
  int pauseSleeps;  // sleeps of a pause being cut short, while counting
  int begins;  // GL draws before counting stopped
  const FileAccess* inner;
  const char* folder;  // prefix for real files, "" in memory
  char path[512];
  int opens;
  int opensCounted;
  char printed[4096];
  size_t printedLength;
};

double sessionClock(void* context) { return static_cast<Session*>(context)->now; }
void sessionSleep(void* context, int64_t milliseconds) {
  Session& session = *static_cast<Session*>(context);
  session.now += static_cast<double>(milliseconds) / 1000.0;
  ++session.sleeps;
  if (milliseconds > 200 && heap.counting) ++session.pauseSleeps;
}
void sessionPresent(void* context) {
  Session& session = *static_cast<Session*>(context);
  ++session.presents;
  if (session.presents == 1) startCounting();  // startPacing: the textures are loaded
  if (heap.counting) ++session.presentsCounted;
  if (session.presents >= session.slowPresentsFrom && session.presents <= session.slowPresentsTo)
    session.now += 0.040;
}
bool sessionKeyHeld(void*, int) { return false; }
KeyEntry sessionNextKey(void*) { return KeyEntry{0, {0, 0}}; }
bool sessionOpenDisplay(void*, int, int) { return true; }
void sessionConsoleKeyWait(void*) {}
bool sessionKeyCanArrive(void*) { return false; }

void sessionWrite(void* context, const char* text, size_t length) {
  Session& session = *static_cast<Session*>(context);
  if (length == 5 && std::memcmp(text, "Done.", 5) == 0 && heap.counting) {
    stopCounting();  // the end sequence starts
    session.begins = glCounts.begins;
  }
  const size_t room = sizeof session.printed - 1 - session.printedLength;
  const size_t copied = length < room ? length : room;
  std::memcpy(session.printed + session.printedLength, text, copied);
  session.printedLength += copied;
  session.printed[session.printedLength] = '\0';
}

// Files through the real or in-memory table, with the opens counted.
FileHandle sessionOpen(void* context, const char* name) {
  Session& session = *static_cast<Session*>(context);
  ++session.opens;
  if (heap.counting) ++session.opensCounted;
  std::snprintf(session.path, sizeof session.path, "%s%s", session.folder, name);
  return session.inner->open(session.inner->context, session.path);
}
int64_t sessionLength(void* context, FileHandle file) {
  const FileAccess& inner = *static_cast<Session*>(context)->inner;
  return inner.length(inner.context, file);
}
int64_t sessionRead(void* context, FileHandle file, uint8_t* destination, int64_t count) {
  const FileAccess& inner = *static_cast<Session*>(context)->inner;
  return inner.read(inner.context, file, destination, count);
}
bool sessionSeek(void* context, FileHandle file, int64_t offset) {
  const FileAccess& inner = *static_cast<Session*>(context)->inner;
  return inner.seek(inner.context, file, offset);
}
void sessionClose(void* context, FileHandle file) {
  const FileAccess& inner = *static_cast<Session*>(context)->inner;
  inner.close(inner.context, file);
}

constexpr char kTemplate[] = "alloc.%i.rec";
constexpr int kFrames = 480;
constexpr int kSegments = 4;
constexpr int kPauseAfterFrame = 300;
constexpr int kMissingTextureSlot = 7;

TextureKey keyOfSlot(int slot) { return 0x00C0FFEE00000000ull + static_cast<TextureKey>(slot); }

std::string texturePath(int slot) {
  char path[64];
  std::snprintf(path, sizeof path, "Video/TexDump/%016llX.bmp",
                static_cast<unsigned long long>(keyOfSlot(slot)));
  return path;
}

// A texture of 8, 24 or 32 bits a pixel, by slot.
Bytes textureFile(int slot) {
  BmpWriteSpec layout;
  layout.width = 8 + slot;
  layout.height = 16;
  std::vector<uint32_t> pixels(static_cast<size_t>(layout.width * layout.height));
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint32_t>(i * 2654435761u);
  if (slot % 3 == 0) {
    layout.depth = 8;
    layout.palette.resize(256);
    for (int i = 0; i < 256; ++i)
      layout.palette[i] = BmpColor{static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), 128};
    for (uint32_t& pixel : pixels) pixel &= 0xFF;
  } else if (slot % 3 == 1) {
    layout.depth = 24;
    for (uint32_t& pixel : pixels) pixel &= 0xFFFFFF;
  } else {
    layout.depth = 32;
  }
  return writeBmp(layout, pixels);
}

struct Generated {
  std::vector<Bytes> segments;
  int triangles;
  int chunks;
};

// Frames of 10 to 69 triangles over every slot and blend mode, a few with a
// vertex at depth 0, chunks cut every 3,000 record bytes (so frames span
// chunks and chunks hold several frames), a long pause, one chunk ending in
// a point record and one in an invalid record type.
Generated generateRecording() {
  TextureTable keys{};
  for (int slot = 1; slot <= kTextureSlotCount; ++slot) keys[slot] = keyOfSlot(slot);
  RecordingWriter writer;
  beginRecording(writer, 320, 240, keys, 3000);
  double time = 0;
  int serial = 0;
  for (int frame = 0; frame < kFrames; ++frame) {
    const int triangles = 10 + (frame * 7) % 60;
    for (int i = 0; i < triangles; ++i, ++serial) {
      const uint8_t x = static_cast<uint8_t>((serial * 13) % 200);
      const uint8_t y = static_cast<uint8_t>((serial * 29) % 200);
      const uint16_t depth = serial % 97 == 0 ? 0 : static_cast<uint16_t>(1000 + serial % 60000);
      const PackedColor16 color = static_cast<PackedColor16>(serial * 40503u);
      const TriangleVertex vertices[3] = {{0, 0, x, y, depth, color},
                                          {255, 0, static_cast<uint8_t>(x + 40), y, 30000, color},
                                          {0, 255, x, static_cast<uint8_t>(y + 40), 30000, color}};
      writeTriangle(writer, triangleState(serial % 33 == 32 ? 0 : serial % 33, serial % 8),
                    vertices);
    }
    writeFrameMark(writer, static_cast<float>(time));
    time += frame == kPauseAfterFrame ? 1.5 : 1.0 / 60.0;
    if (frame == 100) {
      writer.records.push_back(kRecordPointA);
      flushChunk(writer);
    }
    if (frame == 200) {
      writer.records.push_back(0x77);
      writer.records.push_back(0x01);
      flushChunk(writer);
    }
  }
  const Bytes& stream = finishRecording(writer);
  Generated generated{splitAt(stream, planSegmentCuts(stream, kSegments)), writer.triangles,
                      writer.chunks};
  return generated;
}

struct FilesRow {
  const char* name;
  bool onDisk;
};
void PrintTo(const FilesRow& row, std::ostream* out) { *out << row.name; }

class PlaybackAllocations : public ::testing::TestWithParam<FilesRow> {};

TEST_P(PlaybackAllocations, NoneOfOursAfterTheTexturesAreLoaded) {
  const Generated generated = generateRecording();
  ASSERT_EQ(static_cast<size_t>(kSegments), generated.segments.size());
  ASSERT_GT(generated.chunks, 100);

  MemoryFiles memory{};
  test::TempDirectory folder;
  const std::string prefix = GetParam().onDisk ? folder.path + "/" : "";
  if (GetParam().onDisk) {
    ASSERT_TRUE(writeSegmentFiles(folder.path, kTemplate, generated.segments));
  } else {
    addSegmentsToMemory(memory, kTemplate, generated.segments);
  }
  for (int slot = 1; slot <= kTextureSlotCount; ++slot) {
    if (slot == kMissingTextureSlot) continue;
    if (GetParam().onDisk) {
      ASSERT_TRUE(writeBytesToFile(prefix + texturePath(slot), textureFile(slot)));
    } else {
      addMemoryFile(memory, texturePath(slot), textureFile(slot));
    }
  }
  const FileAccess inner = GetParam().onDisk ? realFileAccess() : memoryFileAccess(memory);

  Session session{};
  session.slowPresentsFrom = 40;
  session.slowPresentsTo = 90;
  session.inner = &inner;
  session.folder = prefix.c_str();
  const FileAccess files{&session, sessionOpen, sessionLength, sessionRead, sessionSeek,
                         sessionClose};
  const Console console{&session, sessionWrite};
  glCounts = GlCounts{};
  const GlApi gl = countingGlApi();
  const PlaybackServices services{&session,          sessionClock,          sessionSleep,
                                  sessionPresent,    sessionKeyHeld,        sessionNextKey,
                                  sessionOpenDisplay, sessionConsoleKeyWait, sessionKeyCanArrive};
  heap.allocations = 0;
  heap.releases = 0;
  const int status = runPlayer(kTemplate, files, console, gl, services);
  stopCounting();

  EXPECT_EQ(0, heap.allocations.load()) << "heap allocations during playback";
  EXPECT_EQ(0, heap.releases.load()) << "heap releases during playback";

  // The counted stretch really was the playback: textures before it, every
  // later segment opened inside it, triangles drawn and frames presented in
  // it, frames dropped while presenting was slow, the pause cut short, the
  // point and invalid records reported in it, and the end sequence after it.
  const std::string printed = session.printed;
  EXPECT_EQ(31, glCounts.textureUploads);
  EXPECT_NE(std::string::npos, printed.find("Failed to open 'Video/TexDump/"));
  EXPECT_EQ(kSegments - 1, session.opensCounted);
  EXPECT_EQ(1 + kTextureSlotCount + kSegments - 1, session.opens);
  EXPECT_GT(session.begins, generated.triangles / 2);
  EXPECT_LT(session.begins, generated.triangles);
  EXPECT_GT(session.presentsCounted, kFrames / 2);
  EXPECT_LT(session.presentsCounted, kFrames);
  EXPECT_GT(session.now, static_cast<double>(kFrames) / 60.0);
  EXPECT_GE(session.pauseSleeps, 1);
  EXPECT_LT(session.now, static_cast<double>(kFrames) / 60.0 + 1.5);
  EXPECT_NE(std::string::npos, printed.find("Points Not implemented!\n"));
  EXPECT_NE(std::string::npos, printed.find("Unknown record type 375\n"));
  EXPECT_EQ("Done.", printed.substr(printed.size() - 5));
  EXPECT_EQ(kExitFailed, status);  // the invalid record marks the run as damaged
}

INSTANTIATE_TEST_SUITE_P(Files, PlaybackAllocations,
                         ::testing::Values(FilesRow{"InMemory", false}, FilesRow{"OnDisk", true}),
                         [](const ::testing::TestParamInfo<FilesRow>& row) {
                           return std::string(row.param.name);
                         });

}  // namespace
}  // namespace drec
