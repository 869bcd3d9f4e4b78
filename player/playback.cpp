#include "player/playback.hpp"

#include <cstdio>

#include "player/pacer.hpp"
#include "recording/format.hpp"
#include "recording/reader.hpp"
#include "render/setup.hpp"
#include "render/textures.hpp"
#include "render/triangles.hpp"

namespace drec {
namespace {

// The run state the chunk loop hands triangles and marks to: a quit poll
// before every chunk, triangles drawn, marks paced, and the walk's findings
// printed.
struct PlayerTargets : ReadHooks {
  TriangleRenderer* renderer;
  FramePacer* pacer;
  const PlaybackServices* services;
  const Console* console;
  bool damaged;

  bool beforeChunk() { return !quitRequested(*services); }
  void triangle(const uint8_t* record) { drawTriangle(*renderer, record, pacer->skipPresent); }
  RecordAction frameMark(float timeStamp) {
    return onFrameMark(*pacer, *services, timeStamp) == PaceResult::Quit ? RecordAction::Stop
                                                                          : RecordAction::Continue;
  }
  void walkEnded(const WalkEnd& end) {
    if (reportWalkEnd(end, *console)) damaged = true;
  }
};

void endSequence(const Console& console, const PlaybackServices& services) {
  printText(console, "Done.");
  while (services.nextKey(services.context).length != 0) {
  }
  if (!services.keyCanArrive(services.context)) return;
  while (services.nextKey(services.context).length == 0) {
    services.sleep(services.context, 1);
    services.present(services.context);
  }
}

int startupFailure(const Console& console, const PlaybackServices& services, const char* message) {
  printText(console, message);
  printText(console, "\r\n");
  services.consoleKeyWait(services.context);
  return kExitFailed;
}

}  // namespace

int runPlayer(const char* recordingName, const FileAccess& files, const Console& console,
              const GlApi& gl, const PlaybackServices& services) {
  const char* name = (recordingName && *recordingName) ? recordingName : kDefaultRecordingName;

  SegmentedStream stream;
  uint8_t headerArea[kHeaderSize];
  if (startStream(stream, files, console, name, headerArea) == StartOutcome::OpenFailed) {
    closeStream(stream);
    return startupFailure(console, services, "Failed to open video file");
  }
  const RecordingHeader header = parseHeader(headerArea);
  if (!hasRecordingMagic(header)) {
    closeStream(stream);
    return startupFailure(console, services, "File not a Dirtwake recording.");
  }
  const int width = header.width;
  const int height = header.height;
  if (width <= 0 || height <= 0) {
    // No window can have this size, and the projection would divide by zero.
    char message[80];
    std::snprintf(message, sizeof message, "Unusable screen size %i x %i", width, height);
    closeStream(stream);
    return startupFailure(console, services, message);
  }
  createStreamBuffers(stream);

  services.openDisplay(services.context, width, height);
  renderSetup(gl, width, height);
  TextureSlots slots{};
  loadAllTextures(slots, header, kPlayerTexturesFolder, gl, files, console);
  TriangleRenderer renderer;
  setupTriangleRenderer(renderer, gl, slots, width, height);
  FramePacer pacer{};
  startPacing(pacer, services);

  resetTriangleCache(renderer);
  PlayerTargets targets{{}, &renderer, &pacer, &services, &console, false};
  RecordReader reader = startReader(stream);
  if (readRecords(reader, targets) == ReadEnd::Overflow) {
    services.sleep(services.context, 1000);
    return kExitFailed;  // the program ends without the end sequence
  }
  endSequence(console, services);
  return targets.damaged || stream.damaged ? kExitFailed : kExitPlayed;
}

}  // namespace drec
