#include "player/playback.hpp"

#include <cstdio>

#include "player/pacer.hpp"
#include "player/walk.hpp"
#include "recording/format.hpp"
#include "recording/stream.hpp"
#include "render/setup.hpp"
#include "render/textures.hpp"
#include "render/triangles.hpp"

namespace drec {
namespace {

// The run state the record walk hands triangles and marks to.
struct WalkTargets {
  TriangleRenderer* renderer;
  FramePacer* pacer;
  const PlaybackServices* services;

  void triangle(const uint8_t* record) { drawTriangle(*renderer, record, pacer->skipPresent); }
  PaceResult frameMark(float timeStamp) { return onFrameMark(*pacer, *services, timeStamp); }
};

bool quitRequested(const PlaybackServices& services) {
  if (services.keyHeld(services.context, kScanCodeEscape)) return true;
  return isCloseRequest(services.nextKey(services.context));
}

void endSequence(const PlayerSeams& seams) {
  const PlaybackServices& services = seams.services;
  printText(*seams.console, "Done.");
  while (services.nextKey(services.context).length != 0) {
  }
  if (!seams.keyCanArrive(seams.platform)) return;
  while (services.nextKey(services.context).length == 0) {
    services.sleep(services.context, 1);
    services.present(services.context);
  }
}

void startupFailure(const PlayerSeams& seams, const char* message) {
  printText(*seams.console, message);
  printText(*seams.console, "\r\n");
  seams.consoleKeyWait(seams.platform);
}

}  // namespace

int runPlayer(const char* recordingName, const PlayerSeams& seams) {
  const char* name = (recordingName && *recordingName) ? recordingName : kDefaultRecordingName;
  const PlaybackServices& services = seams.services;

  SegmentedStream stream;
  uint8_t headerArea[kHeaderSize];
  if (startStream(stream, *seams.files, *seams.console, name, headerArea) ==
      StartOutcome::OpenFailed) {
    closeStream(stream);
    startupFailure(seams, "Failed to open video file");
    return kExitFailed;
  }
  const RecordingHeader header = parseHeader(headerArea);
  if (!hasRecordingMagic(header)) {
    closeStream(stream);
    startupFailure(seams, "File not a Dirtwake recording.");
    return kExitFailed;
  }
  const int width = header.width;
  const int height = header.height;
  if (width <= 0 || height <= 0) {
    // No window can have this size, and the projection would divide by zero.
    char message[80];
    std::snprintf(message, sizeof message, "Unusable screen size %i x %i", width, height);
    closeStream(stream);
    startupFailure(seams, message);
    return kExitFailed;
  }
  createStreamBuffers(stream);

  seams.openDisplay(seams.platform, width, height);
  renderSetup(*seams.gl, width, height);
  TextureSlots slots{};
  loadAllTextures(slots, header, *seams.gl, *seams.files, *seams.console);
  TriangleRenderer renderer;
  setupTriangleRenderer(renderer, *seams.gl, slots, width, height);
  FramePacer pacer{};
  startPacing(pacer, services);

  bool damaged = false;
  int status = kExitPlayed;
  if (hasMoreData(stream)) {
    resetTriangleCache(renderer);
    WalkTargets targets{&renderer, &pacer, &services};
    bool playing = true;
    while (playing) {
      if (quitRequested(services)) break;
      ChunkOutcome outcome = nextChunk(stream);
      if (outcome == ChunkOutcome::Overflow) {
        services.sleep(services.context, 1000);
        closeStream(stream);
        return kExitFailed;  // the program ends without the end sequence
      }
      if (outcome == ChunkOutcome::EndOfRecording) break;
      if (walkRecordsWith(stream.recordBuffer, stream.recordLength, targets, *seams.console,
                          damaged) == WalkResult::Quit)
        break;
      playing = hasMoreData(stream);
    }
  }
  if (damaged || stream.damaged) status = kExitFailed;
  endSequence(seams);
  closeStream(stream);
  return status;
}

}  // namespace drec
