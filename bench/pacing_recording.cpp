// pacing_recording: writes the recordings that bench/play-pacing.sh plays.
//
// Both are 300 frames of 640 x 480 whose frame intervals are drawn at random
// (a fixed seed) between 12 and 20 ms, so that the due times fall at every
// phase against the millisecond:
//   DIR/light.rec   6 small untextured triangles a frame,
//   DIR/heavy.rec   1,500 untextured triangles a frame, about 40 x 30
//                   pixels each (the screen covered about three times over),
//   DIR/times.txt   the recorded time stamps, one a line, exactly as stored.
//
// Usage: pacing_recording DIR
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

constexpr int kFrames = 300;
constexpr int kLightTriangles = 6;
constexpr int kHeavyTriangles = 1500;
constexpr int16_t kWidth = 640;
constexpr int16_t kHeight = 480;
constexpr double kShortestInterval = 0.012;
constexpr double kLongestInterval = 0.020;
constexpr uint32_t kSeed = 20261208;
// The nearest depth the player draws (w = 2); a larger one lies before the
// near plane and is clipped away.
constexpr uint16_t kDepth = 32767;

// The stored time stamps. mt19937 is the same sequence everywhere; the
// mapping to an interval is ours, not a library distribution's.
std::vector<float> frameTimes() {
  std::mt19937 random(kSeed);
  std::vector<float> times;
  double time = 0.0;
  for (int frame = 0; frame < kFrames; ++frame) {
    const double unit = static_cast<double>(random()) / 4294967296.0;
    time += kShortestInterval + (kLongestInterval - kShortestInterval) * unit;
    times.push_back(static_cast<float>(time));
  }
  return times;
}

uint8_t coordinate(int value) { return static_cast<uint8_t>(((value % 256) + 256) % 256); }

// A triangle of `size` units (of 255 across the screen) at a spot that
// drifts with the frame.
void writeSmallTriangle(RecordingWriter& writer, int frame, int index, int size) {
  const int x = (index * 37 + frame * 3) % (255 - size);
  const int y = (index * 53 + frame) % (255 - size);
  const PackedColor16 color = packColor(15, index % 16, (index / 16) % 16, frame % 16);
  const TriangleVertex vertices[3] = {
      {0, 0, coordinate(x), coordinate(y), kDepth, color},
      {0, 0, coordinate(x + size), coordinate(y), kDepth, color},
      {0, 0, coordinate(x), coordinate(y + size), kDepth, color}};
  writeTriangle(writer, triangleState(0, 0), vertices);
}

Bytes makeRecording(const std::vector<float>& times, int triangles, int size) {
  RecordingWriter writer;
  beginRecording(writer, kWidth, kHeight, TextureTable{});
  for (int frame = 0; frame < kFrames; ++frame) {
    for (int i = 0; i < triangles; ++i) writeSmallTriangle(writer, frame, i, size);
    writeFrameMark(writer, times[static_cast<size_t>(frame)]);
  }
  return finishRecording(writer);
}

bool writeTimes(const std::string& path, const std::vector<float>& times) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (!file) return false;
  for (float time : times) std::fprintf(file, "%.9g\n", static_cast<double>(time));
  return std::fclose(file) == 0;
}

}  // namespace
}  // namespace drec

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: pacing_recording DIR\n");
    return 2;
  }
  const std::string directory = argv[1];
  const std::vector<float> times = drec::frameTimes();
  const bool written =
      drec::writeBytesToFile(directory + "/light.rec", drec::makeRecording(times, drec::kLightTriangles, 20)) &&
      drec::writeBytesToFile(directory + "/heavy.rec", drec::makeRecording(times, drec::kHeavyTriangles, 16)) &&
      drec::writeTimes(directory + "/times.txt", times);
  if (!written) {
    std::fprintf(stderr, "pacing_recording: cannot write into '%s'\n", directory.c_str());
    return 1;
  }
  return 0;
}
