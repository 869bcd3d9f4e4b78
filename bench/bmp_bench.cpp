// BMP decoding speed: our decoder against the BMP loader of the stb_image
// header library (Debian's libstb-dev), on the same 1024 x 1024 files of 8,
// 24 and 32 bits, in one run. Both produce RGBA. Prints megapixels per
// second for each and, at the end, our speed divided by the reference's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "render/bmp.hpp"
#include "tools/writer/bmp_writer.hpp"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#include <stb/stb_image.h>

namespace {

constexpr int32_t kSide = 1024;
constexpr int64_t kPixels = int64_t{kSide} * kSide;

// A picture with varied content so that no decoder gets a trivial branch path.
std::vector<uint8_t> benchFile(int depth) {
  drec::BmpWriteSpec layout{.width = kSide, .height = kSide, .depth = static_cast<uint16_t>(depth)};
  std::vector<uint32_t> pixels(static_cast<size_t>(kPixels));
  uint32_t state = 12345;
  for (uint32_t& pixel : pixels) {
    state = state * 1664525u + 1013904223u;
    pixel = depth == 8 ? state >> 24 : (state >> 8) | (depth == 32 ? 0xFF000000u : 0u);
  }
  if (depth == 8) {
    for (int i = 0; i < 256; ++i) {
      layout.palette.push_back(drec::BmpColor{static_cast<uint8_t>(i), static_cast<uint8_t>(i * 3),
                                            static_cast<uint8_t>(255 - i)});
    }
  }
  return drec::writeBmp(layout, pixels);
}

const std::vector<uint8_t>& fileFor(int depth) {
  static std::map<int, std::vector<uint8_t>> files;
  auto found = files.find(depth);
  if (found == files.end()) found = files.emplace(depth, benchFile(depth)).first;
  return found->second;
}

void ours(benchmark::State& state) {
  const std::vector<uint8_t>& file = fileFor(static_cast<int>(state.range(0)));
  std::vector<uint8_t> rgba(static_cast<size_t>(kPixels) * 4);
  for (auto _ : state) {
    int64_t rows = drec::decodeBmp(file.data(), file.size(), rgba.data(), rgba.size());
    benchmark::DoNotOptimize(rows);
    benchmark::DoNotOptimize(rgba.data());
    if (rows != kSide) state.SkipWithError("our decoder failed");
  }
  state.SetItemsProcessed(state.iterations() * kPixels);
}

// As the reference works: a fresh picture for every decode.
void oursAllocating(benchmark::State& state) {
  const std::vector<uint8_t>& file = fileFor(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    uint8_t* rgba = new uint8_t[static_cast<size_t>(kPixels) * 4];
    int64_t rows = drec::decodeBmp(file.data(), file.size(), rgba, static_cast<size_t>(kPixels) * 4);
    benchmark::DoNotOptimize(rows);
    benchmark::DoNotOptimize(rgba);
    delete[] rgba;
    if (rows != kSide) state.SkipWithError("our decoder failed");
  }
  state.SetItemsProcessed(state.iterations() * kPixels);
}

void reference(benchmark::State& state) {
  const std::vector<uint8_t>& file = fileFor(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &width, &height,
                                            &channels, 4);
    benchmark::DoNotOptimize(pixels);
    if (!pixels) state.SkipWithError("reference decoder failed");
    stbi_image_free(pixels);
  }
  state.SetItemsProcessed(state.iterations() * kPixels);
}

BENCHMARK(ours)->Arg(8)->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond);
BENCHMARK(oursAllocating)->Arg(8)->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond);
BENCHMARK(reference)->Arg(8)->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond);

// Both decoders must agree on every byte, or the comparison means nothing.
bool outputsAgree(int depth) {
  const std::vector<uint8_t>& file = fileFor(depth);
  std::vector<uint8_t> rgba(static_cast<size_t>(kPixels) * 4);
  drec::decodeBmp(file.data(), file.size(), rgba.data(), rgba.size());
  int width = 0, height = 0, channels = 0;
  stbi_uc* pixels = stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &width, &height, &channels, 4);
  bool same = pixels && width == kSide && height == kSide && std::memcmp(pixels, rgba.data(), rgba.size()) == 0;
  stbi_image_free(pixels);
  return same;
}

// Keeps each run's pixel rate as it goes by, for the ratio at the end.
class RateReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> megapixelsPerSecond;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      auto rate = run.counters.find("items_per_second");
      if (rate != run.counters.end()) megapixelsPerSecond[run.benchmark_name()] = rate->second.value / 1e6;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  for (int depth : {8, 24, 32}) {
    if (!outputsAgree(depth)) {
      std::printf("decoders disagree on the %d-bit file\n", depth);
      return 1;
    }
  }
  benchmark::Initialize(&argc, argv);
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // "into a buffer": ours decoding into one kept picture; "allocating": ours
  // with a fresh picture per decode, as the reference does. Ratios: ours / reference.
  std::printf("\n%-6s %12s %12s %12s %10s %10s\n", "depth", "buffer MP/s", "alloc MP/s", "stb MP/s",
              "ratio buf", "ratio alloc");
  for (int depth : {8, 24, 32}) {
    double rates[3] = {0, 0, 0};
    const char* names[3] = {"ours", "oursAllocating", "reference"};
    bool complete = true;
    for (int i = 0; i < 3; ++i) {
      char name[40];
      std::snprintf(name, sizeof name, "%s/%d", names[i], depth);
      auto found = reporter.megapixelsPerSecond.find(name);
      if (found == reporter.megapixelsPerSecond.end()) {
        complete = false;
      } else {
        rates[i] = found->second;
      }
    }
    if (!complete) continue;
    std::printf("%-6d %12.1f %12.1f %12.1f %10.2f %10.2f\n", depth, rates[0], rates[1], rates[2],
                rates[0] / rates[2], rates[1] / rates[2]);
  }
  benchmark::Shutdown();
  return 0;
}
