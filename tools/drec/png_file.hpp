// Pictures written as PNG files through libpng.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace drec {

// An 8-bit RGB picture, `width` x `height` pixels of red, green and blue,
// top row first. False, with the reason in `error`, when it cannot be written.
bool writePngFile(const std::string& path, int width, int height, const uint8_t* rgb,
                  std::string& error);
// The hidden temporary name that a file is written under, beside it, before
// it is renamed into place: ".NAME.partial" followed by `ending` (a video
// keeps its extension there, so that its encoder still knows the format).
std::string partialPath(const std::string& path, const char* ending = "");
// The picture written whole under its partialPath, then renamed: a file of
// that name is always complete, whatever ends the writing (a full disk, an
// interrupt, a crash).
bool writeWholePngFile(const std::string& path, int width, int height, const uint8_t* rgb,
                       std::string& error);

// Reads any PNG file as 8-bit RGB, top row first (alpha dropped, palettes
// expanded). False, with the reason in `error`, when it cannot be read.
bool readPngFile(const std::string& path, int& width, int& height, std::vector<uint8_t>& rgb,
                 std::string& error);

}  // namespace drec
