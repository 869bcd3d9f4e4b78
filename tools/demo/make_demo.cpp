// drec-make-demo: writes the bundled demo recording and its textures.
// Usage: drec-make-demo DIR
// Writes DIR/Video/Stream/Recording_12_01_2013_13_41_13.N.rec (N = 0, 1, ...)
// and DIR/Video/TexDump/<key>.bmp: put them beside drec-player and it plays
// the demo when started with no recording name.
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/demo/demo_scene.hpp"

namespace {

constexpr char kUsage[] =
    "Usage: drec-make-demo DIR\n"
    "\n"
    "Writes the bundled demo recording below DIR, making the folders it needs:\n"
    "  DIR/Video/Stream/Recording_12_01_2013_13_41_13.N.rec (N = 0, 1, ...)\n"
    "  DIR/Video/TexDump/KEY.bmp, one file a texture\n"
    "Files already there are replaced; the same bytes come out every time.\n"
    "With DIR the folder of drec-player, the player plays the demo when it is\n"
    "started with no recording name (the build writes it there).\n"
    "\n"
    "Options: --help (-h) prints this help; any other argument starting with\n"
    "'-' is a usage error. \"--\" ends the options, for a DIR that starts with '-'.\n"
    "\n"
    "Exit status: 0 written, 1 a file could not be written, 2 usage error.\n";

int usageError(const std::string& problem) {
  std::fprintf(stderr, "drec-make-demo: %s\nUsage: drec-make-demo DIR (--help tells more)\n",
               problem.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // An option is never taken for DIR: "--help" would otherwise make a folder
  // of that name.
  const char* directoryArgument = nullptr;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (!optionsEnded && argument[0] == '-' && argument[1] != '\0') {
      if (std::strcmp(argument, "--") == 0) {
        optionsEnded = true;
        continue;
      }
      if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
      }
      std::string problem = "unknown option '";
      problem += argument;
      problem += '\'';
      return usageError(problem);
    }
    if (directoryArgument) return usageError("more than one DIR");
    directoryArgument = argument;
  }
  if (!directoryArgument) return usageError("missing DIR");
  const std::string directory = directoryArgument;
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
