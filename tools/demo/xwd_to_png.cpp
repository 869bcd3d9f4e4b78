// drec-xwd-to-png: turns a window dump made by `xwd` into a PNG file.
// Usage: drec-xwd-to-png DUMP.xwd OUT.png
#include <png.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/demo/xwd_image.hpp"

namespace {

bool writePng(const drec::XwdImage& image, const char* path) {
  FILE* file = std::fopen(path, "wb");
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height),
               8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < image.height; ++y)
    png_write_row(png, &image.rgb[static_cast<size_t>(y) * image.width * 3]);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0;
}

}  // namespace

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
  if (!writePng(image, argv[2])) {
    std::fprintf(stderr, "drec-xwd-to-png: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
