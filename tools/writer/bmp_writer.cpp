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

uint32_t paletteEntries(const BmpWriteSpec& spec) { return spec.depth <= 8 ? 1u << spec.depth : 0u; }
uint32_t paletteEntrySize(const BmpWriteSpec& spec) { return spec.infoSize == 12 ? 3u : 4u; }
bool masksAfterHeader(const BmpWriteSpec& spec) { return spec.infoSize == 40 && spec.compression == 3; }

void putRow(std::vector<uint8_t>& out, const BmpWriteSpec& spec, const uint32_t* row) {
  size_t start = out.size();
  int32_t width = spec.width;
  switch (spec.depth) {
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

uint32_t bmpStoredRowSize(const BmpWriteSpec& spec) {
  uint64_t bits = static_cast<uint64_t>(spec.width > 0 ? spec.width : 0) * spec.depth;
  return static_cast<uint32_t>((bits + 31) / 32 * 4);
}

uint32_t bmpDataOffset(const BmpWriteSpec& spec) {
  uint32_t offset = 14 + spec.infoSize;
  if (masksAfterHeader(spec)) offset += 12;
  offset += paletteEntries(spec) * paletteEntrySize(spec);
  return offset + spec.gapBeforeData;
}

std::vector<uint8_t> writeBmp(const BmpWriteSpec& spec, const std::vector<uint32_t>& pixels) {
  std::vector<uint8_t> out;
  int32_t width = spec.overrideWidth ? spec.widthField : spec.width;
  int32_t height = spec.overrideHeight ? spec.heightField : (spec.topDown ? -spec.height : spec.height);
  uint32_t rowSize = bmpStoredRowSize(spec);
  uint32_t imageSize = spec.omitPixels ? 0 : rowSize * static_cast<uint32_t>(spec.height);

  out.push_back(spec.badSignature ? 'M' : 'B');
  out.push_back(spec.badSignature ? 'B' : 'M');
  putU32(out, 0);  // file size, set at the end
  putU32(out, 0);  // reserved
  putU32(out, spec.overrideDataOffset ? spec.dataOffsetField : bmpDataOffset(spec));

  putU32(out, spec.infoSize);
  if (spec.infoSize == 12) {
    putU16(out, static_cast<uint32_t>(width));
    putU16(out, static_cast<uint32_t>(height));
    putU16(out, spec.planes);
    putU16(out, spec.depth);
  } else {
    putU32(out, static_cast<uint32_t>(width));
    putU32(out, static_cast<uint32_t>(height));
    putU16(out, spec.planes);
    putU16(out, spec.depth);
    putU32(out, spec.compression);
    putU32(out, imageSize);
    putU32(out, 2835);  // 72 dots per inch, as pixels per metre
    putU32(out, 2835);
    putU32(out, paletteEntries(spec));
    putU32(out, 0);
    if (spec.infoSize >= 56) {
      for (uint32_t mask : spec.masks) putU32(out, mask);
    }
    if (spec.infoSize >= 108) {
      putU32(out, 0x73524742);  // colour space "sRGB"
      for (int i = 0; i < 9 + 3; ++i) putU32(out, 0);  // end points, gamma
    }
    if (spec.infoSize >= 124) {
      putU32(out, 4);  // rendering intent: images
      for (int i = 0; i < 3; ++i) putU32(out, 0);  // profile data, size, reserved
    }
    while (out.size() < 14 + static_cast<size_t>(spec.infoSize)) out.push_back(0);
  }
  if (masksAfterHeader(spec)) {
    for (int i = 0; i < 3; ++i) putU32(out, spec.masks[i]);
  }
  for (uint32_t i = 0; i < paletteEntries(spec); ++i) {
    BmpColor color = i < spec.palette.size() ? spec.palette[i] : BmpColor{0, 0, 0};
    out.push_back(color.blue);
    out.push_back(color.green);
    out.push_back(color.red);
    if (paletteEntrySize(spec) == 4) out.push_back(0);
  }
  out.insert(out.end(), spec.gapBeforeData, 0);

  if (!spec.omitPixels) {
    // Missing values are written as 0 rather than read past the caller's vector.
    std::vector<uint32_t> values(pixels);
    values.resize(static_cast<size_t>(spec.width) * static_cast<size_t>(spec.height));
    for (int32_t fileRow = 0; fileRow < spec.height; ++fileRow) {
      int32_t pictureRow = spec.topDown ? fileRow : spec.height - 1 - fileRow;
      putRow(out, spec, values.data() + static_cast<size_t>(pictureRow) * static_cast<size_t>(spec.width));
    }
  }
  setU32(out, 2, static_cast<uint32_t>(out.size()));
  if (spec.keepBytes >= 0 && static_cast<size_t>(spec.keepBytes) < out.size()) {
    out.resize(static_cast<size_t>(spec.keepBytes));
  }
  return out;
}

}  // namespace drec
