// seek_recording: writes the recordings that bench/seek-figures.sh seeks in.
//
//   seek_recording covered FRAMES OUT.rec
//       every frame opens with an opaque sky and ground (two quads, each two
//       triangles sharing an edge, together exactly the recorded screen), as
//       game frames do, then 24 smaller quads of every blend mode;
//   seek_recording partial FRAMES OUT.rec
//       the same, but the sky and ground leave the recorded screen's left
//       fifth uncovered, where only blended quads ever draw: the picture
//       there depends on every frame since the first.
// 640 x 480, 60 frames a second, untextured, a fixed seed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

constexpr uint16_t kDepth = 16384;  // w = 4: inside the clip volume

void writeQuad(RecordingWriter& writer, int mode, int left, int top, int right, int bottom,
               PackedColor16 color) {
  const auto x0 = static_cast<uint8_t>(left), y0 = static_cast<uint8_t>(top);
  const auto x1 = static_cast<uint8_t>(right), y1 = static_cast<uint8_t>(bottom);
  const TriangleVertex first[3] = {{0, 0, x0, y0, kDepth, color}, {0, 0, x1, y0, kDepth, color},
                                   {0, 0, x0, y1, kDepth, color}};
  const TriangleVertex second[3] = {{0, 0, x1, y0, kDepth, color}, {0, 0, x1, y1, kDepth, color},
                                    {0, 0, x0, y1, kDepth, color}};
  writeTriangle(writer, triangleState(0, mode), first);
  writeTriangle(writer, triangleState(0, mode), second);
}

int run(int argc, char** argv) {
  if (argc != 4 || (std::strcmp(argv[1], "covered") != 0 && std::strcmp(argv[1], "partial") != 0)) {
    std::fprintf(stderr, "usage: seek_recording covered|partial FRAMES OUT.rec\n");
    return 2;
  }
  const bool covered = std::strcmp(argv[1], "covered") == 0;
  const long frames = std::strtol(argv[2], nullptr, 10);
  if (frames <= 0) return 2;
  std::mt19937 random(20261209);
  RecordingWriter writer;
  beginRecording(writer, 640, 480, TextureTable{});
  const int skyLeft = covered ? 0 : 51;
  for (long frame = 0; frame < frames; ++frame) {
    const int horizon = 100 + static_cast<int>(frame % 40);
    writeQuad(writer, 0, skyLeft, 0, 255, horizon, packColor(1, 6, 9, 15));
    writeQuad(writer, 3, skyLeft, horizon, 255, 255, packColor(1, 6, 12, 6));
    for (int quad = 0; quad < 24; ++quad) {
      const int left = static_cast<int>(random() % 230), top = static_cast<int>(random() % 230);
      const int size = 4 + static_cast<int>(random() % 22);
      writeQuad(writer, static_cast<int>(random() % 8), left, top, std::min(255, left + size),
                std::min(255, top + size),
                packColor(static_cast<int>(random() % 2), 6 + static_cast<int>(random() % 10),
                          static_cast<int>(random() % 16), static_cast<int>(random() % 16)));
    }
    writeFrameMark(writer, static_cast<float>(frame) / 60.0f);
  }
  return writeBytesToFile(argv[3], finishRecording(writer)) ? 0 : 1;
}

}  // namespace
}  // namespace drec

int main(int argc, char** argv) { return drec::run(argc, argv); }
