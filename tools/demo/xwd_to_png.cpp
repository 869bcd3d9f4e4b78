// drec-xwd-to-png: turns a window dump made by `xwd` into a PNG file.
// Usage: drec-xwd-to-png DUMP.xwd OUT.png
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/demo/xwd_image.hpp"
#include "tools/drec/png_file.hpp"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "Usage: drec-xwd-to-png DUMP.xwd OUT.png\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  drec::XwdImage image;
  std::string problem;
  if (!drec::decodeXwd(bytes.data(), bytes.size(), image, problem)) {
    std::fprintf(stderr, "drec-xwd-to-png: %s: %s\n", argv[1], problem.c_str());
    return 1;
  }
  if (!drec::writePngFile(argv[2], image.width, image.height, image.rgb.data(), problem)) {
    std::fprintf(stderr, "drec-xwd-to-png: cannot write %s: %s\n", argv[2], problem.c_str());
    return 1;
  }
  return 0;
}
