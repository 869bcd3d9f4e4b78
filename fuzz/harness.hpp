// In-memory runs of the player and of the texture loader, shared by the fuzz
// targets and the damage sweeps: the real main flow (runPlayer) over files
// held in memory, with a clock that moves only when the player sleeps, no
// keys, and a GL table that draws nothing but notes every triangle. After a
// run, the checks below say whether it behaved: it ended, never slept longer
// than a quarter second (apart from the one second after "Overflow on input
// buffer"), closed its files, sent well-formed GL, and drew only triangles
// that the recording's bytes hold.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "render/triangles.hpp"
#include "tools/writer/memory_files.hpp"

namespace drec::fuzz {

using Bytes = std::vector<uint8_t>;

// A player fuzz input is a recording split into segment files at each
// occurrence of this separator (at most kMaxSegments files; later separators
// stay in the last one). Without a separator the input is one plain file,
// played under kPlainName; with one, the files are segments 0, 1, ... of
// kSegmentTemplate.
constexpr char kSegmentSeparator[] = "|SEG|";
constexpr size_t kMaxSegments = 16;
constexpr char kSegmentTemplate[] = "r.%i.rec";
constexpr char kPlainName[] = "r.rec";
// A texture fuzz input: the 264 header bytes, then the texture files in the
// order of the header's non-zero slots, separated by this.
constexpr char kTextureSeparator[] = "|BMP|";

// The largest single allocation the targets allow: a texture at the loader's
// limit of 16,777,216 pixels, 4 bytes each.
constexpr size_t kAllocationLimit = size_t{64} << 20;
// Makes every later allocation above `bytes` abort, in builds with the
// sanitizers' allocation hooks (a sanitizer or fuzzer build); elsewhere it
// does nothing. libFuzzer's own -malloc_limit_mb also stops an allocation
// of exactly the limit, which the texture loader may make by design.
void limitAllocations(size_t bytes);

std::vector<Bytes> splitInput(const uint8_t* data, size_t size, const char* separator,
                              size_t maxParts);
Bytes joinInput(const std::vector<Bytes>& parts, const char* separator);
// Adds segments as the player fuzz input names them: one part as kPlainName,
// several as segments of kSegmentTemplate. Returns the name to play.
const char* addRecordingFiles(MemoryFiles& files, const std::vector<Bytes>& segments);

// What one triangle sent to GL: per vertex the texture coordinates, the
// colour and the position, in the order they were sent.
struct DrawnVertex {
  float s, t, red, green, blue, alpha, x, y, z;
};
struct DrawnTriangle {
  DrawnVertex vertices[3];
};
using TriangleKey = std::array<uint32_t, 27>;  // the 27 floats' bits
TriangleKey keyOf(const DrawnTriangle& triangle);

// A renderer with the offset tables of a width x height screen (no GL).
TriangleRenderer offsetRenderer(int width, int height);
// What the renderer sends for the 26-byte triangle `record`.
DrawnTriangle expectedDrawing(const uint8_t* record, const TriangleRenderer& renderer);

struct GlTexture {
  int32_t width;   // as allocated with TexImage2D
  int32_t height;
  bool imageSent;  // TexSubImage2D filled it
  uint32_t pixelSum;  // sum of the bytes sent, so every byte is read
};

struct PlayerRun {
  int status = -1;
  std::string printed;
  std::vector<int64_t> sleeps;
  int presents = 0;
  int displaysOpened = 0;
  int width = 0;  // of the last display opened
  int height = 0;
  int consoleWaits = 0;
  std::vector<DrawnTriangle> drawn;
  std::vector<GlTexture> textures;
  std::vector<std::string> glProblems;  // malformed GL sequences, first few
  int maxFilesOpen = 0;
  int filesLeftOpen = 0;
  uint64_t serviceCalls = 0;
  bool stoppedByLimit = false;  // the call limit was reached: it did not end by itself
};

// Plays `name` from `files`. A limit above 0 makes the keyboard report the
// window's close request after that many service calls, so that a run that
// would never end is stopped and reported instead of hanging.
PlayerRun playInMemory(MemoryFiles& files, const char* name, uint64_t serviceCallLimit = 0);

// What Mesa's software renderer answers for GL_MAX_TEXTURE_SIZE; the GL
// table of playInMemory answers the same.
constexpr int kMesaMaxTextureSize = 16384;
// Loads the textures that `header` (264 bytes) names from `files` into the
// note-taking GL table, as start-up does, with a GL that takes textures up
// to `maxTextureSize` a side.
PlayerRun loadTexturesInMemory(MemoryFiles& files, const uint8_t* header,
                               int maxTextureSize = kMesaMaxTextureSize);

// The checks every run must pass; empty when they hold, else what failed.
std::string checkRun(const PlayerRun& run);
// The texture checks: every image within 16,384 per side and 16,777,216
// pixels, sent whole at the size allocated.
std::string checkTextures(const PlayerRun& run);

// The triangles a set of recording bytes can hold, as the renderer would
// draw them, for checking that nothing else was drawn.
struct TriangleSet {
  TriangleRenderer renderer;     // the screen size the triangles are drawn at
  std::vector<TriangleKey> keys;  // sorted by finishSet
};
TriangleSet emptySet(int width, int height);
void addTriangle(TriangleSet& set, const uint8_t* record);
void finishSet(TriangleSet& set);  // sorts; call before contains
bool contains(const TriangleSet& set, const DrawnTriangle& triangle);
// Every 26-byte run that starts with the triangle type byte, in every
// chunk that the segments could decompress to, however the reader joins
// them (a segment alone or followed by the next, the rest zero).
TriangleSet reachableTriangles(const std::vector<Bytes>& segments, int width, int height);
// Index of the first drawn triangle not in `set`, or -1.
int firstUnrecorded(const PlayerRun& run, const TriangleSet& set);

// A recording written by the project's writer for sweeps and seeds: every
// triangle different from every other, frame marks `frameSeconds` apart,
// chunks cut when their records reach
// `chunkRecordLimit` bytes, so that frames span chunks.
struct SampleRecording {
  int16_t width;
  int16_t height;
  std::vector<Bytes> chunkRecords;  // the decompressed records of each chunk
};
SampleRecording sampleRecording(int frames, int trianglesPerFrame, size_t chunkRecordLimit,
                                double frameSeconds);
// The header, then every chunk compressed.
Bytes assembleRecording(const SampleRecording& sample);
// The triangle records of chunks [first, last), in order.
std::vector<const uint8_t*> triangleRecords(const SampleRecording& sample, size_t first,
                                            size_t last);

}  // namespace drec::fuzz
