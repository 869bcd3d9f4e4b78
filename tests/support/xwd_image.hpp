// What the X server shows, as RGB pixels: the dump that the xwd tool writes
// of a window or of the root, decoded. Windowed tests take screenshots with
// it to check the picture a program left on the screen.
//
// An xwd file (version 7) is a header of 25 big-endian 32-bit fields (at
// least 100 bytes, `header_size` giving the whole header with the window
// name after the fields), then `ncolors` colour-map entries of 12 bytes,
// then the image: `height` rows of `bytes_per_line` bytes, top row first,
// each pixel `bits_per_pixel` wide in the image's own byte order. Only
// true-colour ZPixmap images of 24 or 32 bits per pixel are decoded (what
// Xvfb's 24-bit screens give).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace drec::test {

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // red, green, blue per pixel, top row first

  // 0xRRGGBB at (x, y), 0 outside the image.
  unsigned pixel(int x, int y) const;
};

// False, with the reason in `error`, for a file that is not such an image or
// is cut short.
bool decodeXwd(const std::vector<uint8_t>& file, RgbImage& image, std::string& error);

// Runs `xwd -silent -id <window>` (the root when `window` is 0) with a
// timeout and decodes what it writes.
bool captureWindow(unsigned long window, RgbImage& image, std::string& error);

}  // namespace drec::test
