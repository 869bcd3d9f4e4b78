// Drawing a recording's frames without a visible window, through the
// player's own code: the display service for the context, the render set-up,
// the texture library and the triangle drawing, fed by the player's reader
// and record walk.
//
// The context belongs to a window that is never shown, under the window
// system when there is one; otherwise SDL's offscreen driver gives one (EGL;
// on Mesa the same compatibility context). The picture is the recorded
// screen's size.
//
// Reading a frame back: export, hash and verify never swap. Every frame is
// drawn into the one drawing buffer (the hidden window's back buffer, or the
// offscreen surface) over what the frames before it left there, and its
// pixels are read from that buffer at its frame mark. That is what the
// player's window shows after presenting the frame, as long as the player
// dropped no frame before it (the player's buffer keeps its content across
// a swap, and the screen is cleared once, at set-up).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/display.hpp"
#include "platform/files.hpp"
#include "recording/walk.hpp"
#include "recording/format.hpp"
#include "render/gl_api.hpp"
#include "render/textures.hpp"
#include "render/triangles.hpp"
#include "tools/drec/output.hpp"
#include "tools/drec/recording_files.hpp"

namespace drec {

// Owns its display (the context) and closes it when closed or destroyed.
struct FrameRenderer {
  FrameRenderer() = default;
  FrameRenderer(const FrameRenderer&) = delete;
  FrameRenderer& operator=(const FrameRenderer&) = delete;
  ~FrameRenderer();

  Display display{};
  bool offscreen = false;  // SDL's offscreen driver, not a hidden window
  GlApi gl{};
  TextureSlots slots{};
  TriangleRenderer triangles{};
  int width = 0;
  int height = 0;
  int missingTextures = 0;  // texture files that do not open
  std::string firstMissingTexture;
  std::vector<uint8_t> readBack;  // BGRA rows as GL hands them over, bottom row first
};

enum class RendererStart {
  Ready,
  BadScreenSize,  // the header's width or height is 0 or less, or above 8192
  NoContext,      // neither a hidden window nor the offscreen driver gave a context
};

// Width and height above 0 and at most 8192 (the pixel buffers stay within
// 448 MB).
bool screenSizeUsable(const RecordingHeader& header);

// Opens the context at the header's size, sets the render state, loads the
// textures from `texturesDirectory` and readies the triangle drawing (cache
// at -1), as the player does before its first frame, and counts the texture
// files that do not open. `renderer` must stay where it is until closed: the
// triangle drawing points into it.
RendererStart openFrameRenderer(FrameRenderer& renderer, const RecordingHeader& header,
                                const std::string& texturesDirectory);
// The drawing alone, on a context that already exists and is current (a
// window of the caller's): the render set-up, the textures, the triangle
// drawing and the read-back buffer; `display` stays closed.
void prepareFrameRenderer(FrameRenderer& renderer, const RecordingHeader& header,
                          const std::string& texturesDirectory, const GlApi& gl);
void closeFrameRenderer(FrameRenderer& renderer);

// "a hidden window" or "SDL's offscreen driver".
const char* surfaceName(const FrameRenderer& renderer);
// GL_RENDERER, e.g. "llvmpipe (LLVM 15.0.6, 256 bits)".
std::string rendererName(const FrameRenderer& renderer);

void drawRecordedTriangle(FrameRenderer& renderer, const uint8_t* record);
// Swaps, as the player presents a frame (bench only).
void presentFrame(FrameRenderer& renderer);
// Waits until everything sent so far is drawn.
void finishDrawing(FrameRenderer& renderer);
// The picture in the drawing buffer: width x height pixels of red, green and
// blue, top row first, into `rgb` (width x height x 3 bytes). A window's
// buffer reads bottom row first; a picture target may hold its rows top
// first (`rowsTopFirst`).
void readFramePixels(FrameRenderer& renderer, uint8_t* rgb, bool rowsTopFirst = false);
size_t rgbFrameBytes(const FrameRenderer& renderer);


// Every frame of a recording drawn in order and none dropped. `frameDone`
// is called at each frame mark, with that frame's picture in the drawing
// buffer; returning Stop stops the walk, and so does an interrupt noted
// (noteInterrupts). Whatever the player would print about damage goes to
// standard error, with the frame it was met in. Progress shows on a
// terminal, counting the frames walked to `totalFrames` (from
// countRecordingFrames), or, given `progressDone`, that count of the
// caller's (a video's frames written) to `totalFrames`.
using FrameDone = RecordAction (*)(void* context, int64_t frame, float timeStamp);

struct FrameWalkResult {
  int64_t frames;    // frame marks met
  bool damaged;      // the reader or the walk met damage
  bool stopped;      // frameDone asked to stop
  int interrupted;   // the signal that stopped the walk, or 0
};

FrameWalkResult drawEveryFrame(OpenedRecording& recording, FrameRenderer& renderer,
                               void* context, FrameDone frameDone, const char* progressLabel,
                               int64_t totalFrames, const int64_t* progressDone = nullptr);

// The renderer opened for a subcommand, or its failure told on standard
// error; false: the subcommand exits kExitUsage. Missing texture files are
// told once, as a warning (unless --quiet).
bool openRendererFor(FrameRenderer& renderer, const OpenedRecording& recording);
// The one warning about texture files that do not open (unless --quiet).
void warnOfMissingTextures(const FrameRenderer& renderer, const OpenedRecording& recording);
// A drawing subcommand's exit status: `status`, or kExitDamaged instead of
// success when texture files were missing and --allow-missing-textures was
// not given.
int drawingStatus(int status, const FrameRenderer& renderer, bool allowMissingTextures);

// Prints what the player said while reading or walking (kept in the
// recording's messages) as one line on standard error, then clears it.
void reportPlayerMessages(OpenedRecording& recording, int64_t frame);

}  // namespace drec
