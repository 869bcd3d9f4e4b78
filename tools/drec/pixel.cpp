// drec pixel REC --frame N --at X,Y: which triangles of frame N drew pixel
// (X, Y), in drawing order, with their records, drawing state and vertices,
// and the pixel's colour before and after each (pixel_history.hpp).
#include <cinttypes>
#include <string>

#include "platform/sdl_setup.hpp"
#include "tools/drec/command_line.hpp"
#include "tools/drec/frame_index.hpp"
#include "tools/drec/frame_renderer.hpp"
#include "tools/drec/json_writer.hpp"
#include "tools/drec/output.hpp"
#include "tools/drec/pixel_history.hpp"
#include "tools/drec/recording_files.hpp"
#include "tools/drec/scan.hpp"
#include "tools/drec/seek.hpp"
#include "tools/drec/subcommands.hpp"

namespace drec {
namespace {

const OptionSpec kPixelOptions[] = {
    {"--frame", "N", "the frame, from 0; required"},
    {"--at", "X,Y", "the pixel, from the picture's top-left corner; required"},
    kJsonOption,
    kTexturesOption,
    kAllowMissingTexturesOption,
    kQuietOption,
};

}  // namespace

const CommandSpec kPixelSpec{
    "pixel", "REC --frame N --at X,Y",
    "Lists, in drawing order, every triangle of frame N that the GL rasterised at\n"
    "pixel (X, Y) of the recorded picture, also those that left its colour as it\n"
    "was (blend mode 2, a colour-keyed texel): where its record lies, its texture\n"
    "slot and blend mode, its vertices as recorded and as drawn, and the pixel's\n"
    "colour before and after it; then the pixel's final colour, which is that\n"
    "pixel in drec export --frames N. Frame N is drawn with the player's own\n"
    "drawing code over the exact picture of frame N - 1, without a visible window.\n"
    "A frame that REC does not have or a pixel outside the picture is refused\n"
    "before anything is drawn.\n"
    "Exit status: 0 done, 1 the recording is damaged at or before frame N or\n"
    "texture files are missing, 2 usage error or unreadable input.\n",
    kPixelOptions, sizeof kPixelOptions / sizeof kPixelOptions[0], 1, 1};

namespace {

struct PixelRequest {
  int64_t frame;
  int64_t x;
  int64_t y;
};

// "X,Y": two whole numbers.
bool parsePixel(const char* text, PixelRequest& request) {
  const std::string at = text;
  const size_t comma = at.find(',');
  if (comma == std::string::npos) return false;
  return parseInteger(at.substr(0, comma).c_str(), request.x) &&
         parseInteger(at.substr(comma + 1).c_str(), request.y);
}

std::string colorText(const PixelColor& color) {
  std::string text;
  appendFormat(text, "#%02X%02X%02X", color.red, color.green, color.blue);
  return text;
}

// What the texture slot holds: its key, or none.
struct SlotNames {
  const RecordingHeader* header;
  const FrameRenderer* renderer;

  TextureKey key(int slot) const { return header->keys[slot]; }
  bool missing(int slot) const { return renderer->slots.fileMissing[slot]; }
  std::string keyText(int slot) const {
    char hex[17];
    textureKeyHex(key(slot), hex);
    return hex;
  }
};

std::string historyText(const PixelHistory& history, const SlotNames& slots, int width, int height) {
  std::string out;
  appendFormat(out, "frame %" PRId64 ", pixel %d,%d of %d x %d: %s from the frames before\n",
               history.frame, history.x, history.y, width, height, colorText(history.start).c_str());
  for (const PixelTouch& touch : history.touches) {
    const FrameTriangle& triangle = touch.triangle;
    appendFormat(out, "\ntriangle %u%s: segment %d, chunk at %" PRId64 ", record at %u\n",
                 triangle.index, triangle.fate == TriangleFate::clipped ? " (clipped)" : "",
                 triangle.location.segment, triangle.location.chunkOffset,
                 triangle.location.recordOffset);
    std::string texture = "no texture";
    if (slots.key(triangle.slot) != 0)
      texture = "texture " + slots.keyText(triangle.slot) +
                (slots.missing(triangle.slot) ? " (file missing)" : "");
    appendFormat(out, "  slot %d, %s; blend mode %d (%s), in force %d\n", triangle.slot,
                 texture.c_str(), triangle.blendMode, blendModeName(triangle.blendMode),
                 triangle.after.blendInForce);
    out += "  vertex   s    t    x    y  depth colour  as drawn (r g b a)       lands at\n";
    for (int v = 0; v < 3; ++v) {
      const TriangleVertex& vertex = triangle.record.vertices[v];
      const VertexColor& drawn = touch.drawnColors[v];
      appendFormat(out, "  %d      %3d  %3d  %3d  %3d  %5u   %04X  %.3f %.3f %.3f %.3f  %.2f,%.2f\n", v,
                   vertex.s, vertex.t, vertex.x, vertex.y, vertex.depth, vertex.color,
                   static_cast<double>(drawn.red), static_cast<double>(drawn.green),
                   static_cast<double>(drawn.blue), static_cast<double>(drawn.alpha),
                   static_cast<double>(triangle.landingX[v]), static_cast<double>(triangle.landingY[v]));
    }
    appendFormat(out, "  %s -> %s\n", colorText(touch.before).c_str(), colorText(touch.after).c_str());
  }
  appendFormat(out, "\nfinal colour %s (%s)\n", colorText(history.final).c_str(),
               counted(static_cast<int64_t>(history.touches.size()), "triangle").c_str());
  return out;
}

void stateJson(JsonWriter& json, const char* key, const FrameDrawState& state) {
  jsonBeginObject(json, key);
  jsonField(json, "slot", nullUnless(state.slot >= 0, int64_t{state.slot}));
  jsonField(json, "blend_mode", nullUnless(state.blendMode >= 0, int64_t{state.blendMode}));
  jsonField(json, "blend_in_force", int64_t{state.blendInForce});
  jsonEndObject(json);
}

std::string historyJson(const PixelHistory& history, const SlotNames& slots,
                        const std::string& recording, int width, int height) {
  std::string out;
  JsonWriter json = makeJsonWriter(out);
  jsonBeginObject(json);
  jsonField(json, "recording", recording);
  jsonField(json, "frame", history.frame);
  jsonField(json, "x", history.x);
  jsonField(json, "y", history.y);
  jsonField(json, "width", width);
  jsonField(json, "height", height);
  jsonField(json, "color_before", colorText(history.start));
  jsonObjectList(json, "triangles", history.touches, [&](const PixelTouch& touch) {
    const FrameTriangle& triangle = touch.triangle;
    jsonField(json, "index", triangle.index);
    jsonField(json, "segment", triangle.location.segment);
    jsonField(json, "chunk_offset", triangle.location.chunkOffset);
    jsonField(json, "record_offset", triangle.location.recordOffset);
    jsonField(json, "state_byte", triangle.record.state);
    jsonField(json, "slot", triangle.slot);
    jsonField(json, "texture_key", nullUnless(slots.key(triangle.slot) != 0, slots.keyText(triangle.slot)));
    jsonField(json, "texture_missing", slots.missing(triangle.slot));
    jsonField(json, "blend_mode", triangle.blendMode);
    jsonField(json, "blend_in_force", triangle.after.blendInForce);
    jsonField(json, "clipped", triangle.fate == TriangleFate::clipped);
    stateJson(json, "state_before", triangle.before);
    stateJson(json, "state_after", triangle.after);
    jsonBeginArray(json, "vertices");
    for (int v = 0; v < 3; ++v) {
      const TriangleVertex& vertex = triangle.record.vertices[v];
      const VertexColor& drawn = touch.drawnColors[v];
      jsonBeginObject(json);
      jsonField(json, "s", vertex.s);
      jsonField(json, "t", vertex.t);
      jsonField(json, "x", vertex.x);
      jsonField(json, "y", vertex.y);
      jsonField(json, "depth", vertex.depth);
      jsonField(json, "color", vertex.color);
      jsonBeginArray(json, "color_drawn");
      for (float channel : {drawn.red, drawn.green, drawn.blue, drawn.alpha}) jsonFloat(json, channel);
      jsonEndArray(json);
      jsonField(json, "landing_x", triangle.landingX[v]);
      jsonField(json, "landing_y", triangle.landingY[v]);
      jsonEndObject(json);
    }
    jsonEndArray(json);
    jsonField(json, "color_before", colorText(touch.before));
    jsonField(json, "color_after", colorText(touch.after));
  });
  jsonField(json, "final_color", colorText(history.final));
  jsonEndObject(json);
  out += "\n";
  return out;
}

// The first frame at or before `frame` in which the reading met damage, or -1.
int64_t damageUpTo(const FrameIndex& index, int64_t frame) {
  return !index.damagedFrames.empty() && index.damagedFrames.front() <= frame ? index.damagedFrames.front() : -1;
}

}  // namespace

int pixelCommand(const ParsedCommand& parsed) {
  const char* frameText = optionValue(kPixelSpec, parsed, "--frame");
  const char* atText = optionValue(kPixelSpec, parsed, "--at");
  PixelRequest request{};
  if (!frameText) return usageError(kPixelSpec, "missing --frame N");
  if (!atText) return usageError(kPixelSpec, "missing --at X,Y");
  if (!parseInteger(frameText, request.frame) || request.frame < 0)
    return usageError(kPixelSpec, "--frame needs a whole number of 0 or more");
  if (!parsePixel(atText, request))
    return usageError(kPixelSpec, "--at needs two whole numbers, X,Y (e.g. 320,240)");

  OpenedRecording recording, indexed;
  if (!openRecordingOf(kPixelSpec, parsed, recording)) return kExitUsage;
  const RecordingHeader& header = recording.header;
  if (screenSizeUsable(header) &&
      (request.x < 0 || request.y < 0 || request.x >= header.width || request.y >= header.height))
    return usageError(kPixelSpec, "--at " + std::string(atText) + " is outside the picture of " +
                                      std::to_string(header.width) + " x " +
                                      std::to_string(header.height) + " pixels");
  if (!openRecording(indexed, recording.segmentTemplate.c_str(), nullptr)) return kExitUsage;
  FrameIndex index{};
  startFrameIndex(index, indexed.stream, 0);
  while (!indexFrames(index, 4096)) {
  }
  const int64_t frames = static_cast<int64_t>(index.frames.size());
  if (request.frame >= frames) {
    std::string problem = "'" + recording.segmentTemplate + "' has " + counted(frames, "frame");
    if (frames > 0) problem += " (0 to " + std::to_string(frames - 1) + ")";
    return usageError(kPixelSpec, problem + ": no frame " + std::to_string(request.frame));
  }

  FrameRenderer renderer;
  if (!openRendererFor(renderer, recording)) return kExitUsage;
  PictureTarget target{};
  if (!loadGlExtensionEntries(renderer.gl) ||
      !makePictureTarget(renderer.gl, renderer.width, renderer.height, target)) {
    printError("the OpenGL driver offers no framebuffer objects or occlusion queries");
    return kExitUsage;
  }
  Seeker seeker{};
  startSeeker(seeker, renderer, target, recording.stream, index, 0);
  RecordReader reader = startReader(indexed.stream);
  PixelHistory history{};
  const bool read = findPixelHistory(seeker, reader, request.frame, static_cast<int>(request.x),
                                     static_cast<int>(request.y), history);
  releasePixelHistory(renderer.gl, history);
  if (!read) {
    printError("cannot read '" + recording.segmentTemplate + "' again: a segment file no longer opens");
    return kExitUsage;
  }

  const SlotNames slots{&header, &renderer};
  printOut(hasOption(kPixelSpec, parsed, "--json")
               ? historyJson(history, slots, recording.segmentTemplate, renderer.width, renderer.height)
               : historyText(history, slots, renderer.width, renderer.height));
  int status = kExitSuccess;
  const int64_t damaged = damageUpTo(index, request.frame);
  if (damaged >= 0) {
    printError("the recording is damaged in frame " + std::to_string(damaged) +
               " (drec check tells where)");
    status = kExitDamaged;
  }
  return drawingStatus(status, renderer, hasOption(kPixelSpec, parsed, "--allow-missing-textures"));
}

}  // namespace drec
