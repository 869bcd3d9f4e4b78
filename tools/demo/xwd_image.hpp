// Decoding of the X window dumps that `xwd` writes, from bytes in memory:
// the screenshot script turns them into PNG files and the windowed tests
// look at their pixels.
//
// The file: a header of 25 unsigned 32-bit big-endian fields (header size,
// version 7, pixmap format, depth, width, height, x offset, byte order,
// bitmap unit, bit order, bitmap pad, bits per pixel, bytes per line, visual
// class, red, green and blue masks, bits per RGB, colour map entries, number
// of colours, window width, height, x, y, border width), the window name up
// to the header size, `ncolors` colour entries of 12 bytes, then `height`
// rows of `bytes per line` bytes. Pixels of 24 or 32 bits in the given byte
// order, the channels picked by the masks (a true-colour visual, as Xvfb's
// 24-bit screens have).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace drec {

struct XwdImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // 3 bytes a pixel, top row first
};

// False, with `problem` saying why, for a dump this decoder does not read.
bool decodeXwd(const uint8_t* bytes, size_t size, XwdImage& image, std::string& problem);

struct PixelColour {
  int red;
  int green;
  int blue;
};
inline PixelColour pixelAt(const XwdImage& image, int x, int y) {
  size_t at = (static_cast<size_t>(y) * image.width + x) * 3;
  return PixelColour{image.rgb[at], image.rgb[at + 1], image.rgb[at + 2]};
}

}  // namespace drec
