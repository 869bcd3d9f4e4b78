#include "tools/writer/bmp_writer.hpp"

#include <cstddef>

namespace drec {
namespace {

void putU16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void putU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void setU32(std::vector<uint8_t>& out, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t paletteEntries(const BmpWriteSpec& layout) { return layout.depth <= 8 ? 1u << layout.depth : 0u; }
uint32_t paletteEntrySize(const BmpWriteSpec& layout) { return layout.infoSize == 12 ? 3u : 4u; }
bool masksAfterHeader(const BmpWriteSpec& layout) { return layout.infoSize == 40 && layout.compression == 3; }

void putRow(std::vector<uint8_t>& out, const BmpWriteSpec& layout, const uint32_t* row) {
  size_t start = out.size();
  int32_t width = layout.width;
  switch (layout.depth) {
    case 1:
      for (int32_t x = 0; x < width; x += 8) {
        uint32_t byte = 0;
        for (int i = 0; i < 8 && x + i < width; ++i) byte |= (row[x + i] & 1u) << (7 - i);
        out.push_back(static_cast<uint8_t>(byte));
      }
      break;
    case 4:
      for (int32_t x = 0; x < width; x += 2) {
        uint32_t byte = (row[x] & 15u) << 4;
        if (x + 1 < width) byte |= row[x + 1] & 15u;
        out.push_back(static_cast<uint8_t>(byte));
      }
      break;
    case 8:
      for (int32_t x = 0; x < width; ++x) out.push_back(static_cast<uint8_t>(row[x]));
      break;
    case 16:
      for (int32_t x = 0; x < width; ++x) putU16(out, row[x]);
      break;
    case 24:
      for (int32_t x = 0; x < width; ++x) {
        out.push_back(static_cast<uint8_t>(row[x]));
        out.push_back(static_cast<uint8_t>(row[x] >> 8));
        out.push_back(static_cast<uint8_t>(row[x] >> 16));
      }
      break;
    default:
      for (int32_t x = 0; x < width; ++x) putU32(out, row[x]);
      break;
  }
  while ((out.size() - start) % 4 != 0) out.push_back(0);
}

}  // namespace

uint32_t bmpStoredRowSize(const BmpWriteSpec& layout) {
  uint64_t bits = static_cast<uint64_t>(layout.width > 0 ? layout.width : 0) * layout.depth;
  return static_cast<uint32_t>((bits + 31) / 32 * 4);
}

uint32_t bmpDataOffset(const BmpWriteSpec& layout) {
  uint32_t offset = 14 + layout.infoSize;
  if (masksAfterHeader(layout)) offset += 12;
  offset += paletteEntries(layout) * paletteEntrySize(layout);
  return offset + layout.gapBeforeData;
}

std::vector<uint8_t> writeBmp(const BmpWriteSpec& layout, const std::vector<uint32_t>& pixels) {
  std::vector<uint8_t> out;
  int32_t width = layout.overrideWidth ? layout.widthField : layout.width;
  int32_t height = layout.overrideHeight ? layout.heightField : (layout.topDown ? -layout.height : layout.height);
  uint32_t rowSize = bmpStoredRowSize(layout);
  uint32_t imageSize = layout.omitPixels ? 0 : rowSize * static_cast<uint32_t>(layout.height);

  out.push_back(layout.badSignature ? 'M' : 'B');
  out.push_back(layout.badSignature ? 'B' : 'M');
  putU32(out, 0);  // file size, set at the end
  putU32(out, 0);  // reserved
  putU32(out, layout.overrideDataOffset ? layout.dataOffsetField : bmpDataOffset(layout));

  putU32(out, layout.infoSize);
  if (layout.infoSize == 12) {
    putU16(out, static_cast<uint32_t>(width));
    putU16(out, static_cast<uint32_t>(height));
    putU16(out, layout.planes);
    putU16(out, layout.depth);
  } else {
    putU32(out, static_cast<uint32_t>(width));
    putU32(out, static_cast<uint32_t>(height));
    putU16(out, layout.planes);
    putU16(out, layout.depth);
    putU32(out, layout.compression);
    putU32(out, imageSize);
    putU32(out, 2835);  // 72 dots per inch, as pixels per metre
    putU32(out, 2835);
    putU32(out, paletteEntries(layout));
    putU32(out, 0);
    if (layout.infoSize >= 56) {
      for (uint32_t mask : layout.masks) putU32(out, mask);
    }
    if (layout.infoSize >= 108) {
      putU32(out, 0x73524742);  // colour space "sRGB"
      for (int i = 0; i < 9 + 3; ++i) putU32(out, 0);  // end points, gamma
    }
    if (layout.infoSize >= 124) {
      putU32(out, 4);  // rendering intent: images
      for (int i = 0; i < 3; ++i) putU32(out, 0);  // profile data, size, reserved
    }
    while (out.size() < 14 + static_cast<size_t>(layout.infoSize)) out.push_back(0);
  }
  if (masksAfterHeader(layout)) {
    for (int i = 0; i < 3; ++i) putU32(out, layout.masks[i]);
  }
  for (uint32_t i = 0; i < paletteEntries(layout); ++i) {
    BmpColor color = i < layout.palette.size() ? layout.palette[i] : BmpColor{0, 0, 0};
    out.push_back(color.blue);
    out.push_back(color.green);
    out.push_back(color.red);
    if (paletteEntrySize(layout) == 4) out.push_back(0);
  }
  out.insert(out.end(), layout.gapBeforeData, 0);

  if (!layout.omitPixels) {
    // Missing values are written as 0 rather than read past the caller's vector.
    std::vector<uint32_t> values(pixels);
    values.resize(static_cast<size_t>(layout.width) * static_cast<size_t>(layout.height));
    for (int32_t fileRow = 0; fileRow < layout.height; ++fileRow) {
      int32_t pictureRow = layout.topDown ? fileRow : layout.height - 1 - fileRow;
      putRow(out, layout, values.data() + static_cast<size_t>(pictureRow) * static_cast<size_t>(layout.width));
    }
  }
  setU32(out, 2, static_cast<uint32_t>(out.size()));
  if (layout.keepBytes >= 0 && static_cast<size_t>(layout.keepBytes) < out.size()) {
    out.resize(static_cast<size_t>(layout.keepBytes));
  }
  return out;
}

}  // namespace drec
