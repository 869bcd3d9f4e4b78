#include "tools/drec/frame_views.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/drec/recording_files.hpp"

namespace drec {

PicturePlacement placePicture(int windowWidth, int windowHeight, int pictureWidth, int pictureHeight) {
  PicturePlacement placement{};
  if (windowWidth <= 0 || windowHeight <= 0 || pictureWidth <= 0 || pictureHeight <= 0) return placement;
  placement.scale = std::min(static_cast<double>(windowWidth) / pictureWidth,
                             static_cast<double>(windowHeight) / pictureHeight);
  placement.width = static_cast<int>(std::lround(pictureWidth * placement.scale));
  placement.height = static_cast<int>(std::lround(pictureHeight * placement.scale));
  placement.left = (windowWidth - placement.width) / 2;
  placement.bottom = (windowHeight - placement.height) / 2;
  placement.top = windowHeight - placement.height - placement.bottom;
  placement.whole = placement.scale >= 1.0 && placement.scale == std::floor(placement.scale);
  return placement;
}

bool picturePixelAt(const PicturePlacement& placement, int pictureWidth, int pictureHeight, int x, int y,
                    int& pictureX, int& pictureY) {
  const int across = x - placement.left;
  const int down = y - placement.top;
  if (across < 0 || down < 0 || across >= placement.width || down >= placement.height) return false;
  // The window pixel's centre, on the picture: where the scaling blit samples it.
  pictureX = std::min(pictureWidth - 1, static_cast<int>((across + 0.5) * pictureWidth / placement.width));
  pictureY = std::min(pictureHeight - 1, static_cast<int>((down + 0.5) * pictureHeight / placement.height));
  return true;
}

void startOverdrawMap(OverdrawMap& map, int width, int height) {
  map.width = width;
  map.height = height;
  map.counts.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  map.most = 0;
  map.clipped = 0;
}

void clearOverdraw(OverdrawMap& map) {
  std::fill(map.counts.begin(), map.counts.end(), uint16_t{0});
  map.most = 0;
  map.clipped = 0;
}

void addToOverdraw(OverdrawMap& map, const CoverageSetup& coverage, const uint8_t* record) {
  CoverageTriangle triangle{};
  setupCoverageTriangle(coverage, record, triangle);
  if (triangle.kind == CoverageKind::nothing) return;
  if (triangle.kind == CoverageKind::clipped) ++map.clipped;
  const int firstRow = std::max(triangle.firstRow, 0);
  const int endRow = std::min(triangle.endRow, map.height);
  for (int row = firstRow; row < endRow; ++row) {
    const PixelSpan span = coveredSpan(triangle, row);
    const int first = std::max(span.first, 0);
    const int end = std::min(span.end, map.width);
    // Coverage counts rows up from the bottom; the map from the top.
    uint16_t* counts = map.counts.data() + static_cast<size_t>(map.height - 1 - row) * map.width;
    for (int x = first; x < end; ++x) {
      if (counts[x] < UINT16_MAX) ++counts[x];
      map.most = std::max<int>(map.most, counts[x]);
    }
  }
}

// Untouched pixels darken the picture; the rest go from blue to white.
const HeatStep kHeatScale[kHeatSteps] = {
    {0, 0, {0, 0, 0, 170}},          {1, 1, {40, 60, 210, 230}},    {2, 2, {30, 160, 230, 230}},
    {3, 3, {40, 190, 80, 230}},      {4, 4, {210, 220, 40, 230}},   {5, 6, {245, 150, 30, 230}},
    {7, 9, {230, 50, 30, 230}},      {10, 15, {210, 40, 170, 230}}, {16, UINT16_MAX, {255, 255, 255, 230}},
};

void overdrawPixels(const OverdrawMap& map, uint8_t* rgba) {
  const size_t pixels = map.counts.size();
  for (size_t i = 0; i < pixels; ++i) {
    const int count = map.counts[i];
    const HeatStep* step = kHeatScale;
    while (count > step->last) ++step;
    std::copy(step->rgba, step->rgba + 4, rgba + 4 * i);
  }
}

uint32_t slotColour(int slot) {
  if (slot <= 0) return 0xFFE0E0E0u;  // no texture: light grey
  // Hues a golden angle apart, so that neighbouring slots differ most.
  const double hue = std::fmod(slot * 137.508, 360.0) / 60.0;
  const double x = 1.0 - std::fabs(std::fmod(hue, 2.0) - 1.0);
  double red = 0, green = 0, blue = 0;
  switch (static_cast<int>(hue)) {
    case 0: red = 1, green = x; break;
    case 1: red = x, green = 1; break;
    case 2: green = 1, blue = x; break;
    case 3: green = x, blue = 1; break;
    case 4: red = x, blue = 1; break;
    default: red = 1, blue = x; break;
  }
  // Light enough to read over a dark picture.
  auto channel = [](double value) { return static_cast<uint32_t>(std::lround(90 + 165 * value)); };
  return 0xFF000000u | channel(blue) << 16 | channel(green) << 8 | channel(red);
}

std::vector<TextureSlotRow> textureSlotRows(const RecordingHeader& header, const TextureSlots& slots,
                                            const std::string& texturesDirectory) {
  std::vector<TextureSlotRow> rows;
  for (int slot = 1; slot <= kTextureSlotCount; ++slot) {
    if (header.keys[slot] == 0) continue;
    const TextureLoad& load = slots.loads[slot];
    TextureSlotRow row{};
    row.slot = slot;
    textureKeyHex(header.keys[slot], row.key);
    row.file = texturePath(texturesDirectory, header.keys[slot]);
    row.texture = load.width > 0 ? slots.names[slot] : 0;
    row.width = load.width;
    row.height = load.height;
    char text[64];
    if (load.width > 0) {
      std::snprintf(text, sizeof text, "%d x %d, %d-bit", load.width, load.height, load.depth);
      row.size = text;
    } else {
      row.size = "no image";
    }
    if (!load.problem) {
      row.decoded = "decoded";
    } else if (load.rowsDecoded > 0) {
      std::snprintf(text, sizeof text, "%s: %lld of %d rows", load.problem,
                    static_cast<long long>(load.rowsDecoded), load.height);
      row.decoded = text;
    } else {
      row.decoded = load.problem;
      if (load.width > 0) row.decoded += ": magenta";
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace drec
