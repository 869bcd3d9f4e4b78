// The bundled demo: a short drive along a country road, generated from
// nothing but this code and written through the one recording writer, so
// that the player has something to play out of the box.
//
// 25 seconds at 60 frames per second on a 640 x 480 screen: sky and ground
// with vertex-colour gradients, distant hills and clouds, a road with kerbs
// and lane markings receding in perspective, trees, curve signs and two
// bridges passing by, a car seen from behind with its shadow, and a HUD with
// the lap, the lap times and the speed. Half a second into the second lap
// the recording holds a pause (the game hitched), which the player cuts
// short. The same bytes come out on every run.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/writer/recording_writer.hpp"

namespace drec {

// Where the player looks when it is given no recording name.
constexpr char kDemoTemplate[] = "Video/Stream/Recording_12_01_2013_13_41_13.%i.rec";
constexpr char kDemoTextureFolder[] = "Video/TexDump/";

constexpr int16_t kDemoWidth = 640;
constexpr int16_t kDemoHeight = 480;
constexpr int kDemoFramesPerSecond = 60;
constexpr int kDemoFrames = 1500;
// From this frame on every time stamp is later by the pause.
constexpr int kDemoPauseFrame = 780;
constexpr double kDemoPauseSeconds = 0.6;
constexpr int kDemoSegments = 4;

// The time stamp of frame `frame` (0-based): frame / 60, plus the pause.
float demoFrameTime(int frame);

struct DemoTexture {
  int slot;
  TextureKey key;
  const char* what;  // what the picture shows
  Bytes file;        // the whole BMP file
};

struct Demo {
  Bytes stream;  // the header, then every chunk: the recording as one stream
  std::vector<size_t> cuts;  // stream offsets where one segment file ends
  std::vector<Bytes> segments;
  std::vector<DemoTexture> textures;
  int frames;
  int triangles;
  int chunks;
};

// Builds the whole demo in memory. False, with `problem` saying why, when the
// stream cannot be split into segments the reader follows to the end.
bool buildDemo(Demo& demo, std::string& problem);

// Writes the segment files and the textures below `directory`.
bool writeDemo(const Demo& demo, const std::string& directory, std::string& problem);

// "Video/TexDump/" followed by the key in 16 upper-case hex digits and ".bmp".
std::string demoTexturePath(TextureKey key);

// Whether the reader follows a stream split at `cuts` to its end: every cut
// lies strictly inside a chunk's compressed bytes (the reader moves to the
// next segment only there), every segment but the last is at least as long
// as segment 0 (a shorter one is taken as the last), and no chunk holds two
// cuts (a chunk continues into one further segment at most).
bool segmentCutsFollowable(const Bytes& stream, const std::vector<size_t>& cuts,
                           std::string& problem);

}  // namespace drec
