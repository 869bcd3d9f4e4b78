// read_bench: how much the segmented stream reader and the record walk cost
// beside decompression itself.
//
// Generates a large recording of textured meshes (64 MiB of records by
// default), cut into chunks of 30,000 to 32,768 compressed bytes, and splits
// it into four segment files. Then, in one process and interleaved round by
// round, it times four passes over the same chunks:
//   zlib     plain one-shot uncompress of every chunk into one buffer, the
//            compressed bytes taken from memory: the reference;
//   reader   the real SegmentedStream on in-memory segment files without the
//            walk: what the reader alone costs;
//   memory   the real SegmentedStream (startStream, createStreamBuffers,
//            nextChunk until the end, closeStream) on in-memory segment
//            files, and the record walk over every chunk with drawing replaced
//            by a counter;
//   files    the same on real segment files in a temporary folder (read once
//            before timing, so the page cache holds them: every pass reads
//            the same warm cache).
// Each pass reports the best and the median wall time and CPU time of the
// thread over the rounds, and the throughput in MB of records per second.
// The figure of merit is the throughput of the reader with the walk over
// zlib's, by best CPU time (goal: at least 0.95): CPU time leaves out the
// moments another process held the core.
//
// Both a varied recording and a repetitive one (see MeshGenerator) are measured.
//
// Usage: read_bench [MiB of records] [rounds]   (default: 64 15)
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>
#include <zlib.h>

#include "platform/console.hpp"
#include "platform/files.hpp"
#include "recording/reader.hpp"
#include "recording/format.hpp"
#include "recording/stream.hpp"
#include "tools/writer/memory_files.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

constexpr char kTemplate[] = "read%i.rec";
constexpr int kSegments = 4;
constexpr size_t kTargetCompressed = 31500;  // aim between 30,000 and 32,768
constexpr size_t kLowestCompressed = 30000;

// A deterministic generator of plausible game geometry: meshes of a few
// dozen quads with one texture and blend mode, vertices on a slightly
// jittered grid with smoothly varying texture coordinates and depth, a colour
// per mesh with a little shading. With a pool, every mesh is one of `pool`
// fixed meshes (scenery and HUD drawn again and again): the same bytes
// repeat, zlib compresses them far better and inflates them faster, and the
// walk's share of the time is largest.
struct MeshGenerator {
  uint32_t random;
  uint32_t pool;  // 0: every mesh new
  int trianglesLeftInFrame;
  int frame;
};

uint32_t nextRandom(uint32_t& random, uint32_t range) {
  random = random * 1664525u + 1013904223u;
  return (random >> 8) % range;
}

constexpr int kTrianglesPerFrame = 3000;

uint8_t clampByte(int value) { return static_cast<uint8_t>(std::clamp(value, 0, 255)); }

// Appends one mesh (or a frame mark when the frame is full) to `records`.
void appendMesh(MeshGenerator& g, Bytes& records, int& triangles, int& frames) {
  if (g.trianglesLeftInFrame <= 0) {
    appendFrameMark(records, static_cast<float>(g.frame) / 60.0f);
    ++g.frame;
    ++frames;
    g.trianglesLeftInFrame = kTrianglesPerFrame;
    return;
  }
  uint32_t random = g.pool ? 977u * (1u + nextRandom(g.random, g.pool)) : nextRandom(g.random, 1u << 24);
  const int columns = 2 + static_cast<int>(nextRandom(random, 7));
  const int rows = 2 + static_cast<int>(nextRandom(random, 5));
  const int originX = static_cast<int>(nextRandom(random, 200));
  const int originY = static_cast<int>(nextRandom(random, 200));
  const int cell = 3 + static_cast<int>(nextRandom(random, 8));
  const int depthBase = 8000 + static_cast<int>(nextRandom(random, 40000));
  const int depthStep = static_cast<int>(nextRandom(random, 300)) - 150;
  const int red = static_cast<int>(nextRandom(random, 16));
  const int green = static_cast<int>(nextRandom(random, 16));
  const int blue = static_cast<int>(nextRandom(random, 16));
  const int slot = 1 + static_cast<int>(nextRandom(random, 32));
  const int blend = nextRandom(random, 4) == 0 ? 1 : 0;
  const uint8_t state = triangleState(slot, blend);

  auto vertexAt = [&](int column, int row) {
    const int shade = std::clamp(red - row / 2, 0, 15);
    return TriangleVertex{
        clampByte(column * 255 / columns), clampByte(row * 255 / rows),
        clampByte(originX + column * cell + static_cast<int>(nextRandom(random, 2))),
        clampByte(originY + row * cell + static_cast<int>(nextRandom(random, 2))),
        static_cast<uint16_t>(std::clamp(depthBase + (column + row) * depthStep, 1, 65535)),
        packColor(15, shade, green, blue)};
  };
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      const TriangleVertex a = vertexAt(column, row);
      const TriangleVertex b = vertexAt(column + 1, row);
      const TriangleVertex c = vertexAt(column, row + 1);
      const TriangleVertex d = vertexAt(column + 1, row + 1);
      const TriangleVertex first[3] = {a, b, c};
      const TriangleVertex second[3] = {b, d, c};
      appendTriangle(records, state, first);
      appendTriangle(records, state, second);
      triangles += 2;
      g.trianglesLeftInFrame -= 2;
    }
  }
}

struct Generated {
  Bytes stream;
  int chunks = 0;
  int triangles = 0;
  int frames = 0;
  size_t recordBytes = 0;
  size_t smallestCompressed = SIZE_MAX;
  size_t largestCompressed = 0;
  size_t largestRecords = 0;
};

// Fills chunks with whole meshes until the compressed size lands between
// kLowestCompressed and 32,768 bytes (or the records would pass 262,144).
Generated generate(size_t recordTarget, uint32_t pool) {
  Generated out;
  TextureTable keys{};
  for (int slot = 1; slot <= kTextureSlotCount; ++slot) keys[slot] = 0x1000u + slot;
  out.stream = headerBytes(640, 480, keys);
  MeshGenerator g{12345u, pool, kTrianglesPerFrame, 0};
  size_t recordLimit = 150000;
  Bytes records;
  while (out.recordBytes < recordTarget) {
    for (int attempt = 0;; ++attempt) {
      MeshGenerator start = g;
      records.clear();
      int triangles = 0;
      int frames = 0;
      while (records.size() < recordLimit && records.size() + 4096 < kMaxRecordLength) {
        appendMesh(g, records, triangles, frames);
      }
      const Bytes compressed = compressRecords(records);
      const size_t size = compressed.size();
      const bool fits = size <= static_cast<size_t>(kMaxCompressedLength);
      // After a few tries a chunk that fits is taken, so the loop always ends.
      const bool fullEnough = size >= kLowestCompressed || attempt >= 6 ||
                              records.size() + 8192 >= kMaxRecordLength;
      if (fits && fullEnough) {
        appendRawChunk(out.stream, static_cast<int32_t>(size), compressed);
        ++out.chunks;
        out.triangles += triangles;
        out.frames += frames;
        out.recordBytes += records.size();
        out.smallestCompressed = std::min(out.smallestCompressed, size);
        out.largestCompressed = std::max(out.largestCompressed, size);
        out.largestRecords = std::max(out.largestRecords, records.size());
        recordLimit = records.size() * kTargetCompressed / size;
        break;
      }
      // Try again from the same place with a limit scaled to this chunk's ratio.
      g = start;
      recordLimit = records.size() * kTargetCompressed / size - (fits ? 0 : 2048);
    }
  }
  return out;
}

double clockReading(clockid_t clock) {
  timespec now;
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Wall time, and the CPU time of this thread: the second leaves out the
// time the thread waited for a core that another process held.
struct Stopwatch {
  double wall;
  double cpu;
};

Stopwatch startStopwatch() {
  return Stopwatch{clockReading(CLOCK_MONOTONIC), clockReading(CLOCK_THREAD_CPUTIME_ID)};
}

Stopwatch elapsed(const Stopwatch& start) {
  return Stopwatch{clockReading(CLOCK_MONOTONIC) - start.wall,
                   clockReading(CLOCK_THREAD_CPUTIME_ID) - start.cpu};
}

struct PassResult {
  Stopwatch seconds;
  uint64_t recordBytes;
  uint64_t triangles;
  uint64_t frames;
  bool damaged;
};

PassResult zlibPass(const Bytes& stream, const std::vector<ChunkSpan>& spans, uint8_t* buffer) {
  PassResult result{};
  const Stopwatch start = startStopwatch();
  for (const ChunkSpan& span : spans) {
    uLongf length = kMaxRecordLength;
    if (uncompress(buffer, &length, stream.data() + span.dataOffset,
                   static_cast<uLong>(span.length)) != Z_OK)
      result.damaged = true;
    result.recordBytes += length;
  }
  result.seconds = elapsed(start);
  return result;
}

struct Counts {
  uint64_t triangles;
  uint64_t frames;
};

// Drawing replaced by a counter, handed to the chunk loop as the player
// hands its drawing and pacing.
struct CountingHandler : ReadHooks {
  Counts* counts;
  uint64_t* recordBytes;
  bool damaged;
  void chunkRead(const SegmentedStream& stream) { *recordBytes += stream.recordLength; }
  void triangle(const uint8_t*) { ++counts->triangles; }
  RecordAction frameMark(float) {
    ++counts->frames;
    return RecordAction::Continue;
  }
  void walkEnded(const WalkEnd& end) { damaged = damaged || walkMetDamage(end); }
};

PassResult readerPass(const FileAccess& files, const Console& console, bool walk) {
  PassResult result{};
  Counts counts{};
  CountingHandler handler{{}, &counts, &result.recordBytes, false};
  const Stopwatch start = startStopwatch();
  SegmentedStream stream;
  uint8_t header[kHeaderSize];
  if (startStream(stream, files, console, kTemplate, header) != StartOutcome::Opened) {
    closeStream(stream);
    result.damaged = true;
    return result;
  }
  createStreamBuffers(stream);
  if (walk) {
    RecordReader reader = startReader(stream);
    readRecords(reader, handler);
  } else {
    while (hasMoreData(stream) && nextChunk(stream) == ChunkOutcome::Chunk)
      result.recordBytes += stream.recordLength;
  }
  closeStream(stream);
  result.seconds = elapsed(start);
  result.triangles = counts.triangles;
  result.frames = counts.frames;
  result.damaged = handler.damaged || stream.damaged;
  return result;
}

struct Series {
  const char* name;
  std::vector<double> wall;
  std::vector<double> cpu;
};

void add(Series& series, const Stopwatch& seconds) {
  series.wall.push_back(seconds.wall);
  series.cpu.push_back(seconds.cpu);
}

double best(const std::vector<double>& seconds) {
  return *std::min_element(seconds.begin(), seconds.end());
}
double median(std::vector<double> seconds) {
  std::sort(seconds.begin(), seconds.end());
  return seconds[seconds.size() / 2];
}

bool sameWork(const PassResult& pass, const Generated& generated, bool walked) {
  if (pass.damaged || pass.recordBytes != generated.recordBytes) return false;
  return !walked || (pass.triangles == static_cast<uint64_t>(generated.triangles) &&
                     pass.frames == static_cast<uint64_t>(generated.frames));
}

// Generates one recording, times the three passes over it and prints the
// figures. False when the recording could not be set up or a pass missed
// records.
bool measure(const char* kind, uint32_t pool, size_t recordTarget, int rounds) {
  const Generated generated = generate(recordTarget, pool);
  const std::vector<ChunkSpan> spans = chunkSpans(generated.stream);
  const std::vector<size_t> cuts = planSegmentCuts(generated.stream, kSegments);
  if (cuts.empty() || spans.size() != static_cast<size_t>(generated.chunks)) {
    std::printf("the generated recording cannot be split into %d segments\n", kSegments);
    return false;
  }
  const std::vector<Bytes> segments = splitAt(generated.stream, cuts);
  const double compressedBytes = static_cast<double>(generated.stream.size() - kHeaderSize);
  const double recordBytes = static_cast<double>(generated.recordBytes);
  std::printf(
      "%s recording: %.1f MiB of records (%d triangles, %d frames) in %d chunks, %.1f MiB "
      "compressed in %d segment files\n"
      "  chunks of %zu to %zu compressed bytes (mean %.0f), records up to %zu bytes a chunk, "
      "compression ratio %.2f\n",
      kind, recordBytes / 1048576.0, generated.triangles, generated.frames, generated.chunks,
      compressedBytes / 1048576.0, kSegments, generated.smallestCompressed,
      generated.largestCompressed, compressedBytes / generated.chunks - 4.0,
      generated.largestRecords, recordBytes / compressedBytes);

  MemoryFiles memory{};
  addSegmentsToMemory(memory, kTemplate, segments);
  const FileAccess memoryFiles = memoryFileAccess(memory);

  char folderPattern[] = "/tmp/drec-read-bench-XXXXXX";
  if (!mkdtemp(folderPattern)) {
    std::printf("cannot make a temporary folder\n");
    return false;
  }
  const std::filesystem::path folder = folderPattern;
  const std::filesystem::path previous = std::filesystem::current_path();
  if (!writeSegmentFiles(folder.string(), kTemplate, segments)) {
    std::printf("cannot write the segment files to %s\n", folder.c_str());
    std::filesystem::remove_all(folder);
    return false;
  }
  std::filesystem::current_path(folder);
  const FileAccess realFiles = realFileAccess();
  const Console console = standardOutputConsole();
  std::vector<uint8_t> zlibBuffer(kMaxRecordLength);

  // A first pass of each warms the page cache, the allocator and the code.
  bool ok = sameWork(zlibPass(generated.stream, spans, zlibBuffer.data()), generated, false) &&
            sameWork(readerPass(memoryFiles, console, false), generated, false) &&
            sameWork(readerPass(memoryFiles, console, true), generated, true) &&
            sameWork(readerPass(realFiles, console, true), generated, true);
  Series zlib{"zlib", {}, {}};
  Series readerOnly{"reader", {}, {}};
  Series inMemory{"memory", {}, {}};
  Series onFiles{"files", {}, {}};
  for (int round = 0; ok && round < rounds; ++round) {
    // Rotate the order so that no pass always runs right after another.
    for (int turn = 0; turn < 4; ++turn) {
      switch ((round + turn) % 4) {
        case 0: {
          PassResult pass = zlibPass(generated.stream, spans, zlibBuffer.data());
          ok = ok && sameWork(pass, generated, false);
          add(zlib, pass.seconds);
          break;
        }
        case 1: {
          PassResult pass = readerPass(memoryFiles, console, false);
          ok = ok && sameWork(pass, generated, false);
          add(readerOnly, pass.seconds);
          break;
        }
        case 2: {
          PassResult pass = readerPass(memoryFiles, console, true);
          ok = ok && sameWork(pass, generated, true);
          add(inMemory, pass.seconds);
          break;
        }
        default: {
          PassResult pass = readerPass(realFiles, console, true);
          ok = ok && sameWork(pass, generated, true);
          add(onFiles, pass.seconds);
          break;
        }
      }
    }
  }
  std::filesystem::current_path(previous);
  std::filesystem::remove_all(folder);
  if (!ok) {
    std::printf("a pass did not deliver every record: the figures would mean nothing\n");
    return false;
  }

  const double megabytes = recordBytes / 1e6;
  std::printf("  %d rounds; time per pass, best and median (MB of records per second):\n", rounds);
  for (const Series* series : {&zlib, &readerOnly, &inMemory, &onFiles}) {
    std::printf("    %-7s wall %7.2f ms (%6.1f MB/s), %7.2f ms;  cpu %7.2f ms (%6.1f MB/s), %7.2f ms\n",
                series->name, best(series->wall) * 1e3, megabytes / best(series->wall),
                median(series->wall) * 1e3, best(series->cpu) * 1e3,
                megabytes / best(series->cpu), median(series->cpu) * 1e3);
  }
  for (const Series* series : {&readerOnly, &inMemory, &onFiles}) {
    const double wallRatio = best(zlib.wall) / best(series->wall);
    const double cpuRatio = best(zlib.cpu) / best(series->cpu);
    const double medianRatio = median(zlib.cpu) / median(series->cpu);
    std::printf(
        "    %-7s throughput / zlib: %.3f by best cpu time (goal at least 0.95: %s), "
        "%.3f by best wall time, %.3f by median cpu time\n",
        series->name, cpuRatio,
        series == &readerOnly ? "not the goal's measure" : cpuRatio >= 0.95 ? "met" : "MISSED",
        wallRatio, medianRatio);
  }
  return true;
}

}  // namespace
}  // namespace drec

int main(int argc, char** argv) {
  const long mebibytes = argc > 1 ? std::atol(argv[1]) : 64;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 15;
  if (mebibytes < 1 || mebibytes > 1024 || rounds < 1 || rounds > 1000) {
    std::printf("usage: read_bench [MiB of records, 1-1024] [rounds, 1-1000]\n");
    return 2;
  }
  const size_t target = static_cast<size_t>(mebibytes) << 20;
  bool ok = drec::measure("varied", 0, target, rounds);
  ok = drec::measure("repetitive", 24, target, rounds) && ok;
  return ok ? 0 : 1;
}
