// drawarrays_reference: the renderer's own limit on this machine, as a plain
// OpenGL program, beside the player's drawing of the same frames.
//
// Reads a whole recording first (the real stream reader and record walk) and
// keeps every complete frame in memory twice: as its triangle records, and as
// one interleaved vertex array (position, texture coordinate, colour: the
// values the player's drawing sends for the same vertices) cut into runs of
// triangles that share a texture and a blend mode. Then, in one window
// (hidden, as `drec bench` draws; --shown for a visible one), it plays every
// frame as fast as it can, with no pacing, drawing and presenting each frame
// twice in a row, once each way (in turns of which goes first, so that a
// machine shared with other work favours neither):
//   drawTriangle  each triangle through the player's drawTriangle (immediate
//                 mode, glBegin and glEnd per triangle);
//   glDrawArrays  each run with one glDrawArrays call from the vertex array
//                 (OpenGL 1.1 client arrays): a frame of one texture and one
//                 blend mode is one call.
// The first frame of each pass is left out. Prints frames per second and frame
// times for both and the ratio drawTriangle / glDrawArrays, by frames per
// second and by median frame time.
//
// Usage:
//   drawarrays_reference REC [--textures DIR] [--passes N] [--shown]
//       Textures: DIR, or ROOT/Video/TexDump/ when REC is ROOT/Video/Stream/NAME,
//       else Video/TexDump/ under the current folder. Needs DISPLAY.
//   drawarrays_reference --write-10k DIR
//       Writes DIR/Video/Stream/Triangles10k.rec (150 frames of 10,000 textured
//       opaque triangles of about 70 pixels each at 640 x 480, covering the
//       screen about 2.4 times over; 60 frames a second) and its one texture
//       in DIR/Video/TexDump/.
#include <GL/gl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/console.hpp"
#include "platform/display.hpp"
#include "platform/files.hpp"
#include "recording/reader.hpp"
#include "tools/drec/recording_files.hpp"
#include "recording/format.hpp"
#include "recording/stream.hpp"
#include "render/gl_api.hpp"
#include "render/setup.hpp"
#include "render/textures.hpp"
#include "render/triangles.hpp"
#include "tools/writer/bmp_writer.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {


// One vertex as glDrawArrays reads it: the values drawTriangle sends through
// glTexCoord2f, glColor4f and glVertex3f.
struct ArrayVertex {
  float x, y, z;
  float s, t;
  float red, green, blue, alpha;
};

struct Run {
  int firstVertex;
  int vertexCount;
  int slot;
  int blend;  // 0 opaque, 1 alpha blended, 2 colour buffer unchanged
};

struct Frame {
  size_t firstTriangle;  // in `records`, in triangles
  size_t triangleCount;
  size_t firstRun;
  size_t runCount;
};

struct Frames : ReadHooks {
  void triangle(const uint8_t* record);
  RecordAction frameMark(float);

  std::vector<uint8_t> records;  // every triangle record, 26 bytes each
  std::vector<ArrayVertex> vertices;
  std::vector<Run> runs;
  std::vector<Frame> frames;
  Frame open;      // the frame being collected
  int blend;       // the blend mode in force, as modes 3 to 7 keep it
  const TriangleRenderer* positions;
};

void Frames::triangle(const uint8_t* record) {
  Frames& f = *this;
  f.records.insert(f.records.end(), record, record + kTriangleSize);
  ++f.open.triangleCount;
  const int slot = textureSlotOf(record[1]);
  const int mode = blendModeOf(record[1]);
  if (mode <= 2) f.blend = mode;
  const uint8_t* vertex = record + 2;
  for (int i = 0; i < 3; ++i) {
    if (loadU16(vertex + i * kVertexSize + 4) == 0) return;  // not drawn, as in the player
  }
  const bool sameRun = f.open.runCount > 0 && f.runs.back().slot == slot &&
                       f.runs.back().blend == f.blend;
  if (!sameRun) {
    f.runs.push_back(Run{static_cast<int>(f.vertices.size()), 0, slot, f.blend});
    ++f.open.runCount;
  }
  for (int i = 0; i < 3; ++i, vertex += kVertexSize) {
    const float w = vertexW(loadU16(vertex + 4));
    const VertexPosition p = vertexPosition(*f.positions, vertex[2], vertex[3], w);
    const VertexColor c = colorFromPacked(loadU16(vertex + 6));
    f.vertices.push_back(
        ArrayVertex{p.x, p.y, p.z, texCoordOf(vertex[0]), texCoordOf(vertex[1]), c.red, c.green,
                    c.blue, c.alpha});
  }
  f.runs.back().vertexCount += 3;
}

RecordAction Frames::frameMark(float) {
  frames.push_back(open);
  open = Frame{records.size() / kTriangleSize, 0, runs.size(), 0};
  return RecordAction::Continue;
}

// Reads the whole recording; the vertex positions need the screen size, so
// `positions` is set up from the header before the first chunk.
bool readFrames(const char* recording, Frames& frames, RecordingHeader& header,
                TriangleRenderer& positions, const GlApi& gl, const TextureSlots& slots) {
  const FileAccess files = realFileAccess();
  const Console console = standardOutputConsole();
  SegmentedStream stream;
  uint8_t headerBytes[kHeaderSize];
  if (startStream(stream, files, console, recording, headerBytes) != StartOutcome::Opened) {
    std::printf("cannot open %s\n", recording);
    return false;
  }
  header = parseHeader(headerBytes);
  if (!hasRecordingMagic(header) || header.width <= 0 || header.height <= 0) {
    std::printf("%s is not a playable recording\n", recording);
    return false;
  }
  setupTriangleRenderer(positions, gl, slots, header.width, header.height);
  frames.positions = &positions;
  frames.blend = 1;  // the render set-up leaves alpha blending on
  createStreamBuffers(stream);
  RecordReader reader = startReader(stream);
  readRecords(reader, frames);
  return true;
}

struct Timing {
  std::vector<double> frameSeconds;  // every counted frame
  double seconds = 0;
};

void drawImmediate(TriangleRenderer& renderer, const Frames& frames, const Frame& frame) {
  const uint8_t* record = frames.records.data() + frame.firstTriangle * kTriangleSize;
  for (size_t i = 0; i < frame.triangleCount; ++i, record += kTriangleSize) {
    drawTriangle(renderer, record, false);
  }
}

void drawArrays(const Frames& frames, const Frame& frame, const TextureSlots& slots) {
  int boundSlot = -1;
  int blend = -1;
  for (size_t r = frame.firstRun; r < frame.firstRun + frame.runCount; ++r) {
    const Run& run = frames.runs[r];
    if (run.slot != boundSlot) {
      glBindTexture(GL_TEXTURE_2D, slots.names[run.slot]);
      boundSlot = run.slot;
    }
    if (run.blend != blend) {
      if (run.blend == 0) {
        glDisable(GL_BLEND);
      } else {
        glEnable(GL_BLEND);
        glBlendFunc(run.blend == 1 ? GL_SRC_ALPHA : GL_ZERO,
                    run.blend == 1 ? GL_ONE_MINUS_SRC_ALPHA : GL_ONE);
      }
      blend = run.blend;
    }
    glDrawArrays(GL_TRIANGLES, run.firstVertex, run.vertexCount);
  }
}

// One pass over every frame, each frame drawn and presented twice in a row:
// once through drawTriangle and once with glDrawArrays, in turns of which
// goes first. Pairing the two on the same frame at the same moment keeps a
// machine shared with other work from favouring either. A frame's time runs
// from the end of the present before it to the end of its own present. The
// first frame is drawn but not counted.
void playPairedPass(Display& display, TriangleRenderer& renderer, const Frames& frames,
                    const TextureSlots& slots, Timing& immediate, Timing& arrays) {
  const ArrayVertex* base = frames.vertices.data();
  glVertexPointer(3, GL_FLOAT, sizeof(ArrayVertex), &base->x);
  glTexCoordPointer(2, GL_FLOAT, sizeof(ArrayVertex), &base->s);
  glColorPointer(4, GL_FLOAT, sizeof(ArrayVertex), &base->red);
  // Enabled client arrays leave glBegin and glEnd alone.
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glEnableClientState(GL_COLOR_ARRAY);
  double previous = clockSeconds();
  for (size_t i = 0; i < frames.frames.size(); ++i) {
    for (int turn = 0; turn < 2; ++turn) {
      const bool useImmediate = (i + static_cast<size_t>(turn)) % 2 == 0;
      if (useImmediate) {
        resetTriangleCache(renderer);  // the arrays' draws changed the binding and blending
        drawImmediate(renderer, frames, frames.frames[i]);
      } else {
        drawArrays(frames, frames.frames[i], slots);
      }
      presentDisplay(display);
      const double now = clockSeconds();
      if (i > 0) {
        Timing& timing = useImmediate ? immediate : arrays;
        timing.frameSeconds.push_back(now - previous);
        timing.seconds += now - previous;
      }
      previous = now;
    }
  }
  glDisableClientState(GL_VERTEX_ARRAY);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  glDisableClientState(GL_COLOR_ARRAY);
}

double medianOf(std::vector<double> seconds) {
  std::sort(seconds.begin(), seconds.end());
  return seconds[seconds.size() / 2];
}

double framesPerSecond(const Timing& timing) {
  return static_cast<double>(timing.frameSeconds.size()) / timing.seconds;
}

void report(const char* name, Timing timing) {
  std::vector<double>& t = timing.frameSeconds;
  std::sort(t.begin(), t.end());
  auto at = [&t](double fraction) {
    return t[std::min(t.size() - 1, static_cast<size_t>(fraction * static_cast<double>(t.size())))] * 1e3;
  };
  std::printf("  %-13s %6zu frames in %7.3f s: %8.1f frames/s; frame ms min %.2f, mean %.2f, "
              "p50 %.2f, p95 %.2f, max %.2f\n",
              name, t.size(), timing.seconds, framesPerSecond(timing), t.front() * 1e3,
              timing.seconds / static_cast<double>(t.size()) * 1e3, at(0.5), at(0.95),
              t.back() * 1e3);
}

int measure(const char* recording, const std::string& textureFolder, int passes, bool shown) {
  const char* x = std::getenv("DISPLAY");
  if (!x || !*x) {
    std::printf("needs an X server: run under Xvfb with DISPLAY set\n");
    return 2;
  }
  Frames frames{};
  TriangleRenderer positions{};
  const GlApi gl = realGlApi();
  TextureSlots slots{};
  RecordingHeader header{};
  if (!readFrames(recording, frames, header, positions, gl, slots)) return 2;
  if (frames.frames.size() < 2) {
    std::printf("%s holds fewer than two complete frames\n", recording);
    return 2;
  }

  Display display{};
  DisplayOpenOptions options;
  options.hidden = !shown;
  if (!openDisplayWith(display, header.width, header.height, "drawarrays_reference", options)) {
    std::printf("cannot open a %d x %d window\n", header.width, header.height);
    return 2;
  }
  std::printf("GL_RENDERER %s, GL_VERSION %s, in a %s window\n",
              reinterpret_cast<const char*>(glGetString(GL_RENDERER)),
              reinterpret_cast<const char*>(glGetString(GL_VERSION)), shown ? "shown" : "hidden");
  renderSetup(gl, header.width, header.height);
  std::string printed;
  const Console quiet{&printed, [](void* context, const char* text, size_t length) {
                        static_cast<std::string*>(context)->append(text, length);
                      }};
  loadAllTextures(slots, header, textureFolder.c_str(), gl, realFileAccess(), quiet);
  const int missing = [&printed] {
    int count = 0;
    for (size_t at = printed.find("Failed"); at != std::string::npos; at = printed.find("Failed", at + 1))
      ++count;
    return count;
  }();
  TriangleRenderer renderer{};
  setupTriangleRenderer(renderer, gl, slots, header.width, header.height);

  size_t triangles = 0;
  for (const Frame& frame : frames.frames) triangles += frame.triangleCount;
  std::printf("%s: %d x %d, %zu frames, %.1f triangles and %.2f glDrawArrays calls a frame, "
              "%d texture files missing (from %s)\n",
              recording, header.width, header.height, frames.frames.size(),
              static_cast<double>(triangles) / static_cast<double>(frames.frames.size()),
              static_cast<double>(frames.runs.size()) / static_cast<double>(frames.frames.size()),
              missing, textureFolder.c_str());

  // A warm-up pass (Mesa compiles its shaders on first use), then the passes.
  Timing ignored;
  playPairedPass(display, renderer, frames, slots, ignored, ignored);
  Timing immediate;
  Timing arrays;
  for (int pass = 0; pass < passes; ++pass) {
    playPairedPass(display, renderer, frames, slots, immediate, arrays);
  }
  closeDisplay(display);
  std::printf("%d passes, every frame drawn both ways, a present after each:\n", passes);
  report("drawTriangle", immediate);
  report("glDrawArrays", arrays);
  std::printf("  drawTriangle / glDrawArrays: %.3f of the frames per second, %.3f by median frame time\n",
              framesPerSecond(immediate) / framesPerSecond(arrays),
              medianOf(arrays.frameSeconds) / medianOf(immediate.frameSeconds));
  return 0;
}

constexpr TextureKey kTenKTexture = 0x10C0FFEE0000AB1Eull;

int writeTenK(const std::string& folder) {
  constexpr int16_t kWidth = 640;
  constexpr int16_t kHeight = 480;
  constexpr int kFrames = 150;
  constexpr int kTriangles = 10000;
  TextureTable keys{};
  keys[1] = kTenKTexture;
  RecordingWriter writer;
  beginRecording(writer, kWidth, kHeight, keys);
  uint32_t random = 77;
  auto next = [&random](uint32_t range) {
    random = random * 1664525u + 1013904223u;
    return (random >> 8) % range;
  };
  // Each triangle keeps its shape and drifts across the screen frame by frame.
  // Legs of 3 to 8 units: 7.5 to 20 pixels across, 5.6 to 15 down.
  struct Shape {
    uint8_t x, y, dx, dy;
    uint16_t depth;
    PackedColor16 color;
    uint8_t s, t;
  };
  std::vector<Shape> shapes(kTriangles);
  for (Shape& shape : shapes) {
    shape = Shape{static_cast<uint8_t>(next(240)), static_cast<uint8_t>(next(240)),
                  static_cast<uint8_t>(3 + next(6)), static_cast<uint8_t>(3 + next(6)),
                  static_cast<uint16_t>(8192 + next(24000)),
                  packColor(15, 6 + static_cast<int>(next(10)), static_cast<int>(next(16)),
                            static_cast<int>(next(16))),
                  static_cast<uint8_t>(next(200)), static_cast<uint8_t>(next(200))};
  }
  for (int frame = 0; frame < kFrames; ++frame) {
    for (const Shape& shape : shapes) {
      const uint8_t x = static_cast<uint8_t>((shape.x + frame) % 240);
      const uint8_t y = static_cast<uint8_t>((shape.y + frame / 2) % 240);
      const TriangleVertex vertices[3] = {
          {shape.s, shape.t, x, y, shape.depth, shape.color},
          {static_cast<uint8_t>(shape.s + 55), shape.t, static_cast<uint8_t>(x + shape.dx), y,
           shape.depth, shape.color},
          {shape.s, static_cast<uint8_t>(shape.t + 55), x, static_cast<uint8_t>(y + shape.dy),
           shape.depth, shape.color}};
      writeTriangle(writer, triangleState(1, 0), vertices);
    }
    writeFrameMark(writer, static_cast<float>(frame) / 60.0f);
  }
  const std::string recording = folder + "/Video/Stream/Triangles10k.rec";
  if (!writeBytesToFile(recording, finishRecording(writer))) {
    std::printf("cannot write %s\n", recording.c_str());
    return 2;
  }
  BmpWriteSpec layout;
  layout.width = 256;
  layout.height = 256;
  layout.depth = 24;
  std::vector<uint32_t> pixels(256 * 256);
  for (size_t i = 0; i < pixels.size(); ++i) {
    const uint32_t column = static_cast<uint32_t>(i % 256);
    const uint32_t row = static_cast<uint32_t>(i / 256);
    pixels[i] = ((column * 5) << 16) | ((row * 3) << 8) | (((column ^ row) & 16) ? 0xC0u : 0x40u);
    pixels[i] &= 0xFFFFFF;
  }
  char name[64];
  std::snprintf(name, sizeof name, "/Video/TexDump/%016llX.bmp",
                static_cast<unsigned long long>(kTenKTexture));
  if (!writeBytesToFile(folder + name, writeBmp(layout, pixels))) {
    std::printf("cannot write %s%s\n", folder.c_str(), name);
    return 2;
  }
  std::printf("wrote %s: %d frames of %d triangles, and its texture\n", recording.c_str(), kFrames,
              kTriangles);
  return 0;
}

}  // namespace
}  // namespace drec

int main(int argc, char** argv) {
  const char* usage =
      "usage: drawarrays_reference REC [--textures DIR] [--passes N] [--shown]\n"
      "       drawarrays_reference --write-10k DIR\n";
  if (argc == 3 && std::strcmp(argv[1], "--write-10k") == 0) return drec::writeTenK(argv[2]);
  if (argc < 2 || argv[1][0] == '-') {
    std::printf("%s", usage);
    return 2;
  }
  const char* recording = argv[1];
  std::string textures = drec::texturesDirectoryFor(recording, nullptr);
  int passes = 3;
  bool shown = false;
  for (int i = 2; i < argc; i += 2) {
    if (std::strcmp(argv[i], "--shown") == 0) {
      shown = true;
      --i;
      continue;
    }
    if (i + 1 >= argc) {
      std::printf("%s", usage);
      return 2;
    }
    if (std::strcmp(argv[i], "--textures") == 0) {
      textures = drec::texturesDirectoryFor(recording, argv[i + 1]);
    } else if (std::strcmp(argv[i], "--passes") == 0) {
      passes = std::atoi(argv[i + 1]);
    } else {
      std::printf("%s", usage);
      return 2;
    }
  }
  if (passes < 1 || passes > 1000) {
    std::printf("%s", usage);
    return 2;
  }
  return drec::measure(recording, textures, passes, shown);
}
