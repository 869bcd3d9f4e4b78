#include "tools/drec/frame_renderer.hpp"

#include <cstring>

#include "player/walk.hpp"
#include "render/setup.hpp"

namespace drec {
namespace {

constexpr char kPlayerTextureFolder[] = "Video/TexDump/";
// Keeps the pixel buffers (4 and 3 bytes a pixel) within 448 MB.
constexpr int kMaxScreenSide = 8192;

TextureFolder& folderOf(void* context) { return *static_cast<TextureFolder*>(context); }

FileHandle openTexture(void* context, const char* name) {
  TextureFolder& folder = folderOf(context);
  std::string path = name;
  const size_t prefix = sizeof kPlayerTextureFolder - 1;
  if (path.compare(0, prefix, kPlayerTextureFolder) == 0)
    path = folder.directory + path.substr(prefix);
  FileHandle file = folder.files.open(folder.files.context, path.c_str());
  if (file < 0) folder.missing.push_back(path);
  return file;
}
int64_t textureLength(void* context, FileHandle file) {
  const FileAccess& files = folderOf(context).files;
  return files.length(files.context, file);
}
int64_t readTexture(void* context, FileHandle file, uint8_t* destination, int64_t count) {
  const FileAccess& files = folderOf(context).files;
  return files.read(files.context, file, destination, count);
}
bool seekTexture(void* context, FileHandle file, int64_t offset) {
  const FileAccess& files = folderOf(context).files;
  return files.seek(files.context, file, offset);
}
void closeTexture(void* context, FileHandle file) {
  const FileAccess& files = folderOf(context).files;
  files.close(files.context, file);
}

// The texture library's "Texture #" lines are the player's; the tool warns
// about missing files in its own words instead.
Console silentConsole() {
  return Console{nullptr, [](void*, const char*, size_t) {}};
}

}  // namespace

RendererStart openFrameRenderer(FrameRenderer& renderer, const RecordingHeader& header,
                                const std::string& texturesDirectory) {
  renderer.width = header.width;
  renderer.height = header.height;
  renderer.offscreen = false;
  if (renderer.width <= 0 || renderer.height <= 0 || renderer.width > kMaxScreenSide ||
      renderer.height > kMaxScreenSide)
    return RendererStart::BadScreenSize;
  DisplayOpenOptions options;
  options.hidden = true;
  if (!openDisplayWith(renderer.display, renderer.width, renderer.height, "drec", options)) {
    options.videoDriver = "offscreen";
    if (!openDisplayWith(renderer.display, renderer.width, renderer.height, "drec", options))
      return RendererStart::NoContext;
  }
  renderer.offscreen = std::strcmp(displayDriverName(renderer.display), "offscreen") == 0;

  renderer.gl = realGlApi();
  renderSetup(renderer.gl, renderer.width, renderer.height);
  renderer.textureFolder.files = realFileAccess();
  renderer.textureFolder.directory = texturesDirectory;
  renderer.textureFolder.missing.clear();
  renderer.textureFiles = FileAccess{&renderer.textureFolder, openTexture, textureLength,
                                     readTexture, seekTexture, closeTexture};
  renderer.slots = TextureSlots{};
  loadAllTextures(renderer.slots, header, renderer.gl, renderer.textureFiles, silentConsole());
  for (const std::string& path : renderer.textureFolder.missing)
    printError("warning: texture file '" + path +
               "' does not open: its triangles show their vertex colours alone");
  setupTriangleRenderer(renderer.triangles, renderer.gl, renderer.slots, renderer.width,
                        renderer.height);
  resetTriangleCache(renderer.triangles);
  renderer.readBack.assign(static_cast<size_t>(renderer.width) * static_cast<size_t>(renderer.height) * 4, 0);
  return RendererStart::Ready;
}

void closeFrameRenderer(FrameRenderer& renderer) { closeDisplay(renderer.display); }

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

void readFramePixels(FrameRenderer& renderer, uint8_t* rgb) {
  // The read buffer is the one being drawn (the back buffer of a double-
  // buffered window); rows of 4-byte pixels meet the default pack alignment.
  renderer.gl.ReadPixels(0, 0, renderer.width, renderer.height, GL_RGBA, GL_UNSIGNED_BYTE,
                         renderer.readBack.data());
  const size_t width = static_cast<size_t>(renderer.width);
  const size_t height = static_cast<size_t>(renderer.height);
  for (size_t y = 0; y < height; ++y) {
    const uint8_t* source = renderer.readBack.data() + (height - 1 - y) * width * 4;
    uint8_t* destination = rgb + y * width * 3;
    for (size_t x = 0; x < width; ++x) {
      destination[3 * x] = source[4 * x];
      destination[3 * x + 1] = source[4 * x + 1];
      destination[3 * x + 2] = source[4 * x + 2];
    }
  }
}


bool openRendererFor(FrameRenderer& renderer, const OpenedRecording& recording) {
  switch (openFrameRenderer(renderer, recording.header, recording.texturesDirectory)) {
    case RendererStart::Ready:
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

void reportPlayerMessages(OpenedRecording& recording, int64_t frame) {
  if (recording.messages.length == 0) return;
  printError("frame " + std::to_string(frame) + ": " + playerMessagesText(recording.messages));
  clearPlayerMessages(recording.messages);
}

namespace {

struct FrameWalk {
  FrameRenderer* renderer;
  void* context;
  FrameDone frameDone;
  int64_t frame;
  bool stopped;
};

void walkTriangle(void* context, const uint8_t* record) {
  drawRecordedTriangle(*static_cast<FrameWalk*>(context)->renderer, record);
}

PaceResult walkFrameMark(void* context, float timeStamp) {
  FrameWalk& walk = *static_cast<FrameWalk*>(context);
  const PaceResult result = walk.frameDone(walk.context, walk.frame, timeStamp);
  ++walk.frame;
  if (result == PaceResult::Quit) walk.stopped = true;
  return result;
}

int64_t recordingBytes(const OpenedRecording& recording) {
  int64_t total = 0;
  for (const SegmentFile& segment : findSegmentFiles(recording.files, recording.segmentTemplate))
    total += segment.size;
  return total;
}

}  // namespace

FrameWalkResult drawEveryFrame(OpenedRecording& recording, FrameRenderer& renderer, void* context,
                               FrameDone frameDone, const char* progressLabel) {
  FrameWalk walk{&renderer, context, frameDone, 0, false};
  const RecordHandlers handlers{&walk, walkTriangle, walkFrameMark};
  SegmentedStream& stream = recording.stream;
  bool damaged = false;
  Progress progress;
  startProgress(progress, progressLabel);
  const int64_t totalBytes = recordingBytes(recording);
  clearPlayerMessages(recording.messages);
  while (hasMoreData(stream)) {
    const ChunkOutcome outcome = nextChunk(stream);
    if (outcome != ChunkOutcome::Chunk) {
      endProgress(progress);
      reportPlayerMessages(recording, walk.frame);
      break;
    }
    const int64_t chunkFrame = walk.frame;
    const WalkResult result = walkRecords(stream.recordBuffer, stream.recordLength, handlers,
                                          recording.playerConsole, damaged);
    if (recording.messages.length != 0) {
      endProgress(progress);
      reportPlayerMessages(recording, chunkFrame);
    }
    if (result == WalkResult::Quit) break;
    updateProgress(progress, kHeaderSize + stream.bytesConsumed, totalBytes);
  }
  endProgress(progress);
  return FrameWalkResult{walk.frame, damaged || stream.damaged, walk.stopped};
}

}  // namespace drec
