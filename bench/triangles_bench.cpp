// Triangle drawing speed on a 5,000-triangle frame with one texture and one
// blend mode, the common case during playback (no state calls after the first).
//
//   DrawFrameMesa     the real drawTriangle on the real GL of a playback window
//                     (Mesa's software renderer under Xvfb), glFinish per frame;
//                     needs DISPLAY.
//   DrawFrameOwnCode  the same records through a GL table whose functions do
//                     nothing: the cost of our own code. Run it under
//                     callgrind and divide drawTriangle's inclusive cost, less
//                     the empty GL functions, by its call count.
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "platform/display.hpp"
#include "recording/format.hpp"
#include "render/gl_api.hpp"
#include "render/setup.hpp"
#include "render/textures.hpp"
#include "render/triangles.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

constexpr int kFrameTriangles = 5000;
constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr uint8_t kState = 0x21;  // slot 1, source-alpha blending

// Small triangles scattered over the screen, textured, with w between 2 and 4.
Bytes benchFrame() {
  Bytes records;
  uint32_t random = 2024;
  auto next = [&random](uint32_t range) {
    random = random * 1664525u + 1013904223u;
    return (random >> 8) % range;
  };
  for (int i = 0; i < kFrameTriangles; ++i) {
    const uint32_t x = next(225);
    const uint32_t y = next(225);
    TriangleVertex vertices[3];
    const uint32_t offsets[3][2] = {{0, 0}, {30, 0}, {0, 30}};
    for (int v = 0; v < 3; ++v) {
      vertices[v] = TriangleVertex{static_cast<uint8_t>(next(256)), static_cast<uint8_t>(next(256)),
                                   static_cast<uint8_t>(x + offsets[v][0]),
                                   static_cast<uint8_t>(y + offsets[v][1]),
                                   static_cast<uint16_t>(16384 + next(16000)),
                                   static_cast<PackedColor16>(next(65536))};
    }
    appendTriangle(records, kState, vertices);
  }
  return records;
}

void drawFrame(TriangleRenderer& renderer, const Bytes& frame) {
  for (size_t offset = 0; offset < frame.size(); offset += kTriangleSize) {
    drawTriangle(renderer, frame.data() + offset, false);
  }
}

template <typename Signature>
struct Nothing;
template <typename Result, typename... Args>
struct Nothing<Result (*)(Args...)> {
  static Result call(Args...) { return Result(); }
};

GlApi emptyGlApi() {
  GlApi api{};
#define DREC_GL_NOTHING(result, name, parameters) api.name = &Nothing<decltype(api.name)>::call;
  DREC_GL_FUNCTIONS(DREC_GL_NOTHING)
#undef DREC_GL_NOTHING
  api.Perspective = &Nothing<decltype(api.Perspective)>::call;
  return api;
}

void DrawFrameOwnCode(benchmark::State& state) {
  const GlApi gl = emptyGlApi();
  TextureSlots slots{};
  slots.names[1] = 1;
  TriangleRenderer renderer{};
  setupTriangleRenderer(renderer, gl, slots, kWidth, kHeight);
  const Bytes frame = benchFrame();
  for (auto _ : state) {
    drawFrame(renderer, frame);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kFrameTriangles);
}

void DrawFrameMesa(benchmark::State& state) {
  const char* x = std::getenv("DISPLAY");
  Display display{};
  if (!x || !*x || !openDisplay(display, kWidth, kHeight, "drec triangles bench")) {
    state.SkipWithError("needs an X server: run under Xvfb with DISPLAY set");
    return;
  }
  const GlApi gl = realGlApi();
  renderSetup(gl, kWidth, kHeight);

  // One 64 x 64 texture with varied texels, some of them keyed out.
  TextureSlots slots{};
  std::vector<uint8_t> texels(64 * 64 * 4);
  for (size_t i = 0; i < texels.size(); ++i) texels[i] = static_cast<uint8_t>(i * 37 + (i >> 7));
  for (size_t i = 3; i < texels.size(); i += 4) texels[i] = (i / 4) % 7 == 0 ? 0 : 255;
  gl.GenTextures(1, &slots.names[1]);
  gl.BindTexture(GL_TEXTURE_2D, slots.names[1]);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 64, 64, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());

  TriangleRenderer renderer{};
  setupTriangleRenderer(renderer, gl, slots, kWidth, kHeight);
  const Bytes frame = benchFrame();
  drawFrame(renderer, frame);  // warm-up: Mesa compiles its shaders on first use
  glFinish();
  for (auto _ : state) {
    drawFrame(renderer, frame);
    glFinish();
  }
  state.SetItemsProcessed(state.iterations() * kFrameTriangles);
  closeDisplay(display);
}

BENCHMARK(DrawFrameOwnCode)->Unit(benchmark::kMicrosecond);
BENCHMARK(DrawFrameMesa)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace drec

BENCHMARK_MAIN();
