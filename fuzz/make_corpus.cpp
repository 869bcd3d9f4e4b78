// drec-make-corpus: writes the fuzz targets' seed corpus with the project's
// own recording, BMP and hash list writers. Usage: drec-make-corpus DIR
// Writes DIR/player/*, DIR/seek/*, DIR/bmp/*, DIR/header/* and DIR/hash_list/*; the same
// bytes every run.
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "fuzz/harness.hpp"
#include "tools/drec/hash_list.hpp"
#include "tools/writer/bmp_writer.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec::fuzz {
namespace {

struct Seed {
  std::string name;
  Bytes bytes;
};

Bytes segmented(const Bytes& stream, int count) {
  const std::vector<size_t> cuts = planSegmentCuts(stream, count);
  return joinInput(cuts.empty() ? std::vector<Bytes>{stream} : splitAt(stream, cuts),
                   kSegmentSeparator);
}

Bytes withTimeStamp(SampleRecording sample, float timeStamp) {
  // The frame mark that ends the second chunk's first frame.
  Bytes& records = sample.chunkRecords[1];
  for (size_t offset = 0; offset < records.size();) {
    if (records[offset] == kRecordFrameMark) {
      Bytes mark;
      appendFrameMark(mark, timeStamp);
      std::copy(mark.begin(), mark.end(), records.begin() + static_cast<std::ptrdiff_t>(offset));
      break;
    }
    offset += records[offset] == kRecordTriangle ? kTriangleSize : kFrameMarkSize;
  }
  return assembleRecording(sample);
}

std::vector<Seed> playerSeeds() {
  std::vector<Seed> seeds;
  const SampleRecording small = sampleRecording(6, 3, 120, 0.02);
  const Bytes smallStream = assembleRecording(small);
  seeds.push_back({"plain-file", smallStream});
  const SampleRecording larger = sampleRecording(24, 4, 300, 0.02);
  const Bytes largerStream = assembleRecording(larger);
  seeds.push_back({"three-segments", segmented(largerStream, 3)});
  seeds.push_back({"two-segments", segmented(smallStream, 2)});
  {
    // Segment 1 is missing: the chunk that runs on into it is a broken stream.
    std::vector<Bytes> parts = splitAt(largerStream, planSegmentCuts(largerStream, 3));
    parts.resize(1);
    parts.push_back({});  // an empty later segment: shorter than the first, so the last
    seeds.push_back({"empty-second-segment", joinInput(parts, kSegmentSeparator)});
  }
  {
    Bytes cut = largerStream;
    cut.resize(cut.size() - 37);
    seeds.push_back({"cut-short", cut});
    Bytes stray = smallStream;
    stray.push_back(3);
    stray.push_back(0);
    seeds.push_back({"stray-bytes", stray});
  }
  for (int32_t length : {-1, 0, 32768, 32769, std::numeric_limits<int32_t>::min()}) {
    Bytes stream = headerBytes(64, 48, TextureTable{});
    appendChunk(stream, small.chunkRecords[0]);
    appendRawChunk(stream, length, Bytes(16, 0x78));
    seeds.push_back({"length-word-" + std::to_string(length), stream});
  }
  {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float infinity = std::numeric_limits<float>::infinity();
    const std::pair<const char*, float> stamps[] = {
        {"nan", nan}, {"infinity", infinity}, {"minus-infinity", -infinity},
        {"huge", 3.0e38f}, {"backwards", -100.0f}, {"pause", 5.0f}};
    for (const auto& [name, stamp] : stamps) seeds.push_back({std::string("time-") + name, withTimeStamp(small, stamp)});
  }
  {
    // Records of every kind the walker stops at, and one cut by its chunk's end.
    Bytes records = small.chunkRecords[0];
    records.push_back(3);
    Bytes stream = headerBytes(64, 48, TextureTable{});
    appendChunk(stream, records);
    records = small.chunkRecords[1];
    records.push_back(0x7F);
    records.push_back(0x01);
    appendChunk(stream, records);
    records = small.chunkRecords[2];
    records.resize(records.size() - 5);
    appendChunk(stream, records);
    appendChunk(stream, Bytes{});
    seeds.push_back({"stopping-records", stream});
  }
  {
    // A chunk whose records need more than the record buffer holds.
    Bytes records(kMaxRecordLength + 8, 0);
    for (size_t i = 0; i + kFrameMarkSize <= records.size(); i += kFrameMarkSize) records[i] = 1;
    Bytes stream = headerBytes(64, 48, TextureTable{});
    appendChunk(stream, records, 9);
    appendChunk(stream, small.chunkRecords[0]);
    seeds.push_back({"records-overflow", stream});
  }
  {
    Bytes header = headerBytes(64, 48, TextureTable{});
    seeds.push_back({"header-only", header});
    Bytes shortHeader = header;
    shortHeader.resize(8);
    seeds.push_back({"short-header", shortHeader});
    seeds.push_back({"negative-size", headerBytes(-64, 48, TextureTable{})});
    seeds.push_back({"not-a-recording", headerBytes(64, 48, TextureTable{}, 0x4345524Bu)});
    TextureTable keys{};
    keys[1] = 0x1234;
    keys[32] = 0xFEDCBA9876543210ull;
    Bytes stream = headerBytes(64, 48, keys);
    appendChunk(stream, small.chunkRecords[0]);
    seeds.push_back({"texture-keys", stream});
  }
  return seeds;
}

std::vector<uint32_t> pattern(int32_t width, int32_t height, uint32_t modulus) {
  std::vector<uint32_t> pixels;
  for (int32_t i = 0; i < width * height; ++i)
    pixels.push_back((static_cast<uint32_t>(i) * 2654435761u >> 7) % modulus);
  return pixels;
}

std::vector<BmpColor> palette(int entries) {
  std::vector<BmpColor> colors;
  for (int i = 0; i < entries; ++i)
    colors.push_back({static_cast<uint8_t>(i * 37), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 3)});
  return colors;
}

std::vector<Seed> bmpSeeds() {
  std::vector<Seed> seeds;
  for (uint16_t depth : {uint16_t{1}, uint16_t{4}, uint16_t{8}, uint16_t{16}, uint16_t{24}, uint16_t{32}}) {
    BmpWriteSpec layout;
    layout.width = 7;
    layout.height = 5;
    layout.depth = depth;
    if (depth <= 8) layout.palette = palette(1 << depth);
    const uint32_t modulus = depth == 32 ? 0xFFFFFFFFu : (1u << (depth < 32 ? depth : 31));
    seeds.push_back({"depth-" + std::to_string(depth), writeBmp(layout, pattern(7, 5, modulus))});
    layout.topDown = true;
    seeds.push_back({"top-down-" + std::to_string(depth), writeBmp(layout, pattern(7, 5, modulus))});
  }
  {
    BmpWriteSpec layout;
    layout.width = 6;
    layout.height = 4;
    layout.depth = 16;
    layout.compression = 3;
    layout.masks[0] = 0xF800;
    layout.masks[1] = 0x07E0;
    layout.masks[2] = 0x001F;
    seeds.push_back({"bitfields-565", writeBmp(layout, pattern(6, 4, 65536))});
    layout.infoSize = 124;
    layout.depth = 32;
    layout.masks[0] = 0x3FF00000;  // 10 bits a channel: wider than 8
    layout.masks[1] = 0x000FFC00;
    layout.masks[2] = 0x000003FF;
    seeds.push_back({"bitfields-wide-v5", writeBmp(layout, pattern(6, 4, 0xFFFFFFFFu))});
    layout.infoSize = 56;
    layout.masks[0] = 0;
    layout.masks[1] = 0xFFFF;
    layout.masks[2] = 0xFF00;  // overlapping the green mask
    seeds.push_back({"bitfields-odd-56", writeBmp(layout, pattern(6, 4, 0xFFFFFFFFu))});
    layout.infoSize = 108;
    seeds.push_back({"bitfields-odd-108", writeBmp(layout, pattern(6, 4, 0xFFFFFFFFu))});
  }
  {
    BmpWriteSpec layout;
    layout.width = 9;
    layout.height = 6;
    layout.depth = 24;
    layout.keepBytes = static_cast<int64_t>(bmpDataOffset(layout) + 2 * bmpStoredRowSize(layout) + 5);
    seeds.push_back({"pixels-cut-short", writeBmp(layout, pattern(9, 6, 0x1000000))});
    layout.depth = 8;
    layout.palette = palette(256);
    layout.keepBytes = 54 + 300;
    seeds.push_back({"palette-cut-short", writeBmp(layout, pattern(9, 6, 256))});
    BmpWriteSpec huge;
    huge.width = 16384;
    huge.height = 16384;
    huge.omitPixels = true;
    seeds.push_back({"claims-16384-square", writeBmp(huge, {})});
    huge.overrideHeight = true;
    huge.heightField = std::numeric_limits<int32_t>::min();
    seeds.push_back({"height-int32-min", writeBmp(huge, {})});
  }
  return seeds;
}

std::vector<Seed> headerSeeds() {
  std::vector<Seed> seeds;
  TextureTable keys{};
  keys[1] = 0xABCDEF0123456789ull;
  keys[2] = 1;
  keys[5] = 0xFFFFFFFFFFFFFFFFull;
  keys[32] = 0x10;
  std::vector<Bytes> parts{headerBytes(640, 480, keys)};
  BmpWriteSpec layout;
  layout.width = 4;
  layout.height = 3;
  layout.depth = 8;
  layout.palette = palette(256);
  parts.push_back(writeBmp(layout, pattern(4, 3, 256)));
  layout.depth = 32;
  layout.topDown = true;
  parts.push_back(writeBmp(layout, pattern(4, 3, 0xFFFFFFFFu)));
  BmpWriteSpec huge;
  huge.width = 4096;
  huge.height = 4096;
  huge.omitPixels = true;
  parts.push_back(writeBmp(huge, {}));
  seeds.push_back({"three-textures-one-missing", joinInput(parts, kTextureSeparator)});
  seeds.push_back({"keys-no-files", headerBytes(640, 480, keys)});
  seeds.push_back({"no-keys", headerBytes(320, 200, TextureTable{})});
  return seeds;
}

Bytes textBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::vector<Seed> hashListSeeds() {
  std::vector<Seed> seeds;
  std::string list;
  appendHashListHeader(list, 640, 480);
  for (int64_t frame = 0; frame < 5; ++frame)
    appendHashLine(list, frame, static_cast<float>(frame) / 30.0f, 0x9E3779B97F4A7C15ull * static_cast<uint64_t>(frame + 1));
  seeds.push_back({"five-frames", textBytes(list)});
  std::string crlf;
  for (char c : list) {
    if (c == '\n') crlf += "\r\n\n";
    else crlf += c;
  }
  seeds.push_back({"blank-lines-and-cr-lf", textBytes(crlf)});
  std::string unended = list;
  unended.pop_back();
  seeds.push_back({"no-last-line-break", textBytes(unended)});
  std::string upper = list;
  for (char& c : upper)
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  seeds.push_back({"upper-case-digits", textBytes(upper)});
  seeds.push_back({"frame-out-of-order", textBytes(list + "6 0.200000 0123456789abcdef\n")});
  seeds.push_back({"huge-frame-number", textBytes("99999999999999999999 0.000000 0123456789abcdef\n")});
  seeds.push_back({"short-hash", textBytes("0 0.000000 0123\n")});
  seeds.push_back({"another-hash", textBytes("# drec hash sha-256 rgb 640x480\n")});
  std::string longLine = "0 ";
  longLine.append(kMaxHashLineLength, '9');
  longLine += " 0123456789abcdef\n";
  seeds.push_back({"long-line", textBytes(longLine)});
  return seeds;
}

bool writeSeeds(const std::string& directory, const std::vector<Seed>& seeds) {
  for (const Seed& seed : seeds) {
    if (!writeBytesToFile(directory + "/" + seed.name, seed.bytes)) {
      std::fprintf(stderr, "drec-make-corpus: cannot write %s/%s\n", directory.c_str(), seed.name.c_str());
      return false;
    }
  }
  std::printf("%zu seeds in %s\n", seeds.size(), directory.c_str());
  return true;
}

}  // namespace
}  // namespace drec::fuzz

int main(int argc, char** argv) {
  using namespace drec::fuzz;
  if (argc != 2) {
    std::fprintf(stderr, "Usage: drec-make-corpus DIR\n");
    return 2;
  }
  const std::string directory = argv[1];
  // The seek target reads the player's inputs: the same seeds.
  const bool written = writeSeeds(directory + "/player", playerSeeds()) &&
                       writeSeeds(directory + "/seek", playerSeeds()) &&
                       writeSeeds(directory + "/bmp", bmpSeeds()) &&
                       writeSeeds(directory + "/header", headerSeeds()) &&
                       writeSeeds(directory + "/hash_list", hashListSeeds());
  return written ? 0 : 1;
}
