// drec-make-demo: writes the bundled demo recording and its textures.
// Usage: drec-make-demo DIR
// Writes DIR/Video/Stream/Recording_12_01_2013_13_41_13.N.rec (N = 0, 1, ...)
// and DIR/Video/TexDump/<key>.bmp: put them beside drec-player and it plays
// the demo when started with no recording name.
#include <cstdio>
#include <string>

#include "tools/demo/demo_scene.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: drec-make-demo DIR\n");
    return 2;
  }
  const std::string directory = argv[1];
  drec::Demo demo;
  std::string problem;
  if (!drec::buildDemo(demo, problem) || !drec::writeDemo(demo, directory, problem)) {
    std::fprintf(stderr, "drec-make-demo: %s\n", problem.c_str());
    return 1;
  }
  std::printf("Demo recording: %d frames, %d triangles, %d chunks in %zu segments, %zu textures, in %s/Video\n",
              demo.frames, demo.triangles, demo.chunks, demo.segments.size(), demo.textures.size(),
              directory.c_str());
  return 0;
}
