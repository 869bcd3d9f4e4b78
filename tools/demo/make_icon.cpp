// drec-make-icon FRAME.png LEFT TOP SIDE SIZE OUT.png: the program's icon,
// cut from a frame of the demo that drec export wrote. The square of SIDE
// pixels at LEFT, TOP is scaled to SIZE x SIZE by averaging the area each
// icon pixel covers, so that a downscale stays smooth rather than sampled.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/drec/png_file.hpp"

namespace drec {
namespace {

struct Cut {
  int left, top, side, size;
};

struct Share {
  int source;
  double weight;
};

// For each icon column (or row), the source pixels it covers and how much
// of each, adding up to 1.
std::vector<std::vector<Share>> areaShares(int side, int size) {
  std::vector<std::vector<Share>> shares(static_cast<size_t>(size));
  const double ratio = static_cast<double>(side) / size;
  for (int target = 0; target < size; ++target) {
    const double from = target * ratio;
    const double to = from + ratio;
    for (int source = static_cast<int>(std::floor(from)); source < to && source < side; ++source) {
      const double covered = std::min(to, source + 1.0) - std::max(from, static_cast<double>(source));
      if (covered > 0) shares[static_cast<size_t>(target)].push_back({source, covered / ratio});
    }
  }
  return shares;
}

std::vector<uint8_t> cutAndScale(const std::vector<uint8_t>& frame, int frameWidth, const Cut& cut) {
  const auto shares = areaShares(cut.side, cut.size);
  std::vector<uint8_t> icon(static_cast<size_t>(cut.size) * cut.size * 3);
  for (int y = 0; y < cut.size; ++y) {
    for (int x = 0; x < cut.size; ++x) {
      double sum[3] = {0, 0, 0};
      for (const Share& row : shares[static_cast<size_t>(y)]) {
        for (const Share& column : shares[static_cast<size_t>(x)]) {
          const size_t at = (static_cast<size_t>(cut.top + row.source) * frameWidth +
                             static_cast<size_t>(cut.left + column.source)) * 3;
          for (int channel = 0; channel < 3; ++channel)
            sum[channel] += frame[at + static_cast<size_t>(channel)] * row.weight * column.weight;
        }
      }
      const size_t at = (static_cast<size_t>(y) * cut.size + static_cast<size_t>(x)) * 3;
      for (int channel = 0; channel < 3; ++channel)
        icon[at + static_cast<size_t>(channel)] =
            static_cast<uint8_t>(std::lround(std::min(255.0, sum[channel])));
    }
  }
  return icon;
}

bool parseSide(const char* text, int& value) {
  char* end = nullptr;
  errno = 0;
  const long number = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || number < 0 || number > 16384) return false;
  value = static_cast<int>(number);
  return true;
}

int makeIcon(int argc, char** argv) {
  Cut cut{};
  if (argc != 7 || !parseSide(argv[2], cut.left) || !parseSide(argv[3], cut.top) ||
      !parseSide(argv[4], cut.side) || !parseSide(argv[5], cut.size) || cut.side == 0 ||
      cut.size == 0) {
    std::fprintf(stderr, "Usage: drec-make-icon FRAME.png LEFT TOP SIDE SIZE OUT.png\n");
    return 2;
  }
  int width = 0, height = 0;
  std::vector<uint8_t> frame;
  std::string error;
  if (!readPngFile(argv[1], width, height, frame, error)) {
    std::fprintf(stderr, "drec-make-icon: cannot read '%s': %s\n", argv[1], error.c_str());
    return 2;
  }
  if (cut.left + cut.side > width || cut.top + cut.side > height) {
    std::fprintf(stderr, "drec-make-icon: the square does not fit in the %d x %d frame\n", width,
                 height);
    return 2;
  }
  const std::vector<uint8_t> icon = cutAndScale(frame, width, cut);
  if (!writeWholePngFile(argv[6], cut.size, cut.size, icon.data(), error)) {
    std::fprintf(stderr, "drec-make-icon: cannot write '%s': %s\n", argv[6], error.c_str());
    return 2;
  }
  return 0;
}

}  // namespace
}  // namespace drec

int main(int argc, char** argv) { return drec::makeIcon(argc, argv); }
