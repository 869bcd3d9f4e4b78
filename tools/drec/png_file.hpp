// Pictures written as PNG files through libpng.
#pragma once
#include <cstdint>
#include <string>

namespace drec {

// An 8-bit RGB picture, `width` x `height` pixels of red, green and blue,
// top row first. False, with the reason in `error`, when it cannot be written.
bool writePngFile(const std::string& path, int width, int height, const uint8_t* rgb,
                  std::string& error);

}  // namespace drec
