#include "tools/drec/png_file.hpp"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace drec {

bool writePngFile(const std::string& path, int width, int height, const uint8_t* rgb,
                  std::string& error) {
  // libpng's simplified interface reports errors in the image structure
  // rather than by a long jump, which suits a program without exceptions.
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGB;
  const png_int_32 rowStride = static_cast<png_int_32>(width) * 3;
  if (png_image_write_to_file(&image, path.c_str(), 0, rgb, rowStride, nullptr) == 0) {
    error = image.message[0] ? image.message : "libpng failed";
    png_image_free(&image);
    return false;
  }
  return true;
}

std::string partialPath(const std::string& path, const char* ending) {
  const size_t slash = path.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  std::string partial = path.substr(0, nameStart);
  partial += '.';
  partial += path.substr(nameStart);
  partial += ".partial";
  partial += ending;
  return partial;
}

bool writeWholePngFile(const std::string& path, int width, int height, const uint8_t* rgb,
                       std::string& error) {
  const std::string partial = partialPath(path);
  if (!writePngFile(partial, width, height, rgb, error)) {
    std::remove(partial.c_str());
    return false;
  }
  if (std::rename(partial.c_str(), path.c_str()) != 0) {
    error = std::strerror(errno);
    std::remove(partial.c_str());
    return false;
  }
  return true;
}

bool readPngFile(const std::string& path, int& width, int& height, std::vector<uint8_t>& rgb,
                 std::string& error) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
    error = image.message[0] ? image.message : "libpng failed";
    png_image_free(&image);
    return false;
  }
  image.format = PNG_FORMAT_RGB;
  // A bound on the size keeps width x height x 3 far from overflowing.
  constexpr png_uint_32 kMaxSide = 16384;
  if (image.width > kMaxSide || image.height > kMaxSide) {
    error = "larger than 16384 pixels a side";
    png_image_free(&image);
    return false;
  }
  rgb.resize(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) == 0) {
    error = image.message[0] ? image.message : "libpng failed";
    png_image_free(&image);
    return false;
  }
  width = static_cast<int>(image.width);
  height = static_cast<int>(image.height);
  return true;
}

}  // namespace drec
