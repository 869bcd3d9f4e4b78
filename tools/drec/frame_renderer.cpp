#include "tools/drec/frame_renderer.hpp"

#include <cstring>

#include "platform/program.hpp"
#include "recording/reader.hpp"
#include "render/setup.hpp"

namespace drec {
namespace {

// Keeps the pixel buffers (4 and 3 bytes a pixel) within 448 MB.
constexpr int kMaxScreenSide = 8192;

// The texture library's "Texture #" lines are the player's; the tool warns
// about missing files in its own words instead.
Console silentConsole() {
  return Console{nullptr, [](void*, const char*, size_t) {}};
}

}  // namespace

bool screenSizeUsable(const RecordingHeader& header) {
  return header.width > 0 && header.height > 0 && header.width <= kMaxScreenSide &&
         header.height <= kMaxScreenSide;
}

RendererStart openFrameRenderer(FrameRenderer& renderer, const RecordingHeader& header,
                                const std::string& texturesDirectory) {
  renderer.width = header.width;
  renderer.height = header.height;
  renderer.offscreen = false;
  if (!screenSizeUsable(header)) return RendererStart::BadScreenSize;
  DisplayOpenOptions options;
  options.hidden = true;
  if (!openDisplayWith(renderer.display, renderer.width, renderer.height, "drec", options)) {
    options.videoDriver = "offscreen";
    if (!openDisplayWith(renderer.display, renderer.width, renderer.height, "drec", options))
      return RendererStart::NoContext;
  }
  renderer.offscreen = std::strcmp(displayDriverName(renderer.display), "offscreen") == 0;

  prepareFrameRenderer(renderer, header, texturesDirectory, realGlApi());
  return RendererStart::Ready;
}

void prepareFrameRenderer(FrameRenderer& renderer, const RecordingHeader& header,
                          const std::string& texturesDirectory, const GlApi& gl) {
  renderer.width = header.width;
  renderer.height = header.height;
  renderer.gl = gl;
  renderSetup(renderer.gl, renderer.width, renderer.height);
  renderer.slots = TextureSlots{};
  loadAllTextures(renderer.slots, header, texturesDirectory.c_str(), renderer.gl, realFileAccess(),
                  silentConsole());
  renderer.missingTextures = 0;
  for (int slot = 1; slot <= kTextureSlotCount; ++slot) {
    if (!renderer.slots.fileMissing[slot]) continue;
    if (renderer.missingTextures++ == 0)
      renderer.firstMissingTexture = texturePath(texturesDirectory, header.keys[slot]);
  }
  setupTriangleRenderer(renderer.triangles, renderer.gl, renderer.slots, renderer.width,
                        renderer.height);
  resetTriangleCache(renderer.triangles);
  renderer.readBack.assign(static_cast<size_t>(renderer.width) * static_cast<size_t>(renderer.height) * 4, 0);
}

void closeFrameRenderer(FrameRenderer& renderer) { closeDisplay(renderer.display); }

FrameRenderer::~FrameRenderer() { closeFrameRenderer(*this); }

const char* surfaceName(const FrameRenderer& renderer) {
  return renderer.offscreen ? "SDL's offscreen driver" : "a hidden window";
}

std::string rendererName(const FrameRenderer& renderer) {
  const GLubyte* name = renderer.gl.GetString(GL_RENDERER);
  return name ? reinterpret_cast<const char*>(name) : "unknown";
}

void drawRecordedTriangle(FrameRenderer& renderer, const uint8_t* record) {
  drawTriangle(renderer.triangles, record, false);
}

void presentFrame(FrameRenderer& renderer) { presentDisplay(renderer.display); }

void finishDrawing(FrameRenderer& renderer) { renderer.gl.Finish(); }

size_t rgbFrameBytes(const FrameRenderer& renderer) {
  return static_cast<size_t>(renderer.width) * static_cast<size_t>(renderer.height) * 3;
}

void readFramePixels(FrameRenderer& renderer, uint8_t* rgb, bool rowsTopFirst) {
  // The read buffer is the one being drawn (the back buffer of a double-
  // buffered window); rows of 4-byte pixels meet the default pack alignment.
  // Blue, green, red, alpha is the buffer's own order on Mesa: read so, the
  // pixels are copied as they are (eight times faster than red first).
  renderer.gl.ReadPixels(0, 0, renderer.width, renderer.height, GL_BGRA, GL_UNSIGNED_BYTE,
                         renderer.readBack.data());
  const size_t width = static_cast<size_t>(renderer.width);
  const size_t height = static_cast<size_t>(renderer.height);
  for (size_t y = 0; y < height; ++y) {
    const uint8_t* source = renderer.readBack.data() + (rowsTopFirst ? y : height - 1 - y) * width * 4;
    uint8_t* destination = rgb + y * width * 3;
    for (size_t x = 0; x < width; ++x) {
      destination[3 * x] = source[4 * x + 2];
      destination[3 * x + 1] = source[4 * x + 1];
      destination[3 * x + 2] = source[4 * x];
    }
  }
}


void warnOfMissingTextures(const FrameRenderer& renderer, const OpenedRecording& recording) {
  if (renderer.missingTextures == 0 || recording.quiet) return;
  const bool one = renderer.missingTextures == 1;
  printError("warning: " + counted(renderer.missingTextures, "texture file") +
             (one ? " does" : " do") + " not open ('" + renderer.firstMissingTexture +
             (one ? "'): its" : "' and more): their") +
             " triangles show their vertex colours alone");
}

bool openRendererFor(FrameRenderer& renderer, const OpenedRecording& recording) {
  switch (openFrameRenderer(renderer, recording.header, recording.texturesDirectory)) {
    case RendererStart::Ready:
      warnOfMissingTextures(renderer, recording);
      return true;
    case RendererStart::BadScreenSize:
      printError("'" + recording.segmentTemplate + "' has an unusable screen size " +
                 std::to_string(recording.header.width) + " x " +
                 std::to_string(recording.header.height));
      return false;
    case RendererStart::NoContext:
      printError("no OpenGL context: neither a hidden window nor SDL's offscreen driver opened one");
      return false;
  }
  return false;
}

int drawingStatus(int status, const FrameRenderer& renderer, bool allowMissingTextures) {
  if (status == kExitSuccess && renderer.missingTextures > 0 && !allowMissingTextures)
    return kExitDamaged;
  return status;
}

void reportPlayerMessages(OpenedRecording& recording, int64_t frame) {
  if (recording.messages.length == 0) return;
  printError("frame " + std::to_string(frame) + ": " + playerMessagesText(recording.messages));
  clearPlayerMessages(recording.messages);
}

namespace {

// Draws every triangle and hands each frame mark on; says what the player
// would have said about damage, with the frame it was met in.
struct FrameWalk : ReadHooks {
  FrameRenderer* renderer;
  OpenedRecording* recording;
  void* context;
  FrameDone frameDone;
  Progress* progress;
  int64_t totalFrames;
  const int64_t* progressDone;  // null: the frames walked
  int64_t frame;
  int64_t chunkFrame;  // the frame the chunk being walked starts in
  bool damaged;
  bool stopped;
  int interrupted;

  void chunkRead(const SegmentedStream&) { chunkFrame = frame; }
  void triangle(const uint8_t* record) { drawRecordedTriangle(*renderer, record); }
  RecordAction frameMark(float timeStamp) {
    const RecordAction action = frameDone(context, frame, timeStamp);
    ++frame;
    updateProgress(*progress, progressDone ? *progressDone : frame, totalFrames);
    if (action == RecordAction::Stop) stopped = true;
    interrupted = interruptNoted();
    return action == RecordAction::Stop || interrupted != 0 ? RecordAction::Stop
                                                            : RecordAction::Continue;
  }
  void walkEnded(const WalkEnd& end) {
    if (reportWalkEnd(end, recording->playerConsole)) damaged = true;
    reportMessages(chunkFrame);
  }
  void reportMessages(int64_t where) {
    if (recording->messages.length == 0) return;
    endProgress(*progress);
    reportPlayerMessages(*recording, where);
  }
};

}  // namespace

FrameWalkResult drawEveryFrame(OpenedRecording& recording, FrameRenderer& renderer, void* context,
                               FrameDone frameDone, const char* progressLabel,
                               int64_t totalFrames, const int64_t* progressDone) {
  Progress progress;
  startProgress(progress, progressLabel, recording.quiet);
  FrameWalk walk{};
  walk.renderer = &renderer;
  walk.recording = &recording;
  walk.context = context;
  walk.frameDone = frameDone;
  walk.progress = &progress;
  walk.totalFrames = totalFrames;
  walk.progressDone = progressDone;
  clearPlayerMessages(recording.messages);
  RecordReader reader = startReader(recording.stream);
  const ReadEnd end = readRecords(reader, walk);
  // Stopped in a chunk: what its reading said belongs to the frame it starts in.
  walk.reportMessages(end == ReadEnd::Stopped ? walk.chunkFrame : walk.frame);
  if (walk.interrupted)
    breakProgress(progress);
  else
    endProgress(progress);
  return FrameWalkResult{walk.frame, walk.damaged || recording.stream.damaged, walk.stopped,
                         walk.interrupted};
}

}  // namespace drec
