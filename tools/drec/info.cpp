// drec info REC: what a recording holds, read the way the player reads it:
// header and texture files, segment files, chunks, records, frames,
// triangles per frame, texture slots and blend modes used, time stamps,
// pauses, how far back each frame's picture depends on earlier frames (its
// dependency horizon, found with the GL's own rounding, which needs an
// OpenGL context: a hidden window, or the offscreen driver), and every
// problem found. --json prints the same as one object (field names in
// docs/drec-json.md).
#include <algorithm>
#include <cmath>
#include <string>

#include "platform/sdl_setup.hpp"
#include "tools/drec/command_line.hpp"
#include "tools/drec/frame_index.hpp"
#include "tools/drec/frame_renderer.hpp"
#include "tools/drec/json_writer.hpp"
#include "tools/drec/output.hpp"
#include "tools/drec/recording_files.hpp"
#include "tools/drec/scan.hpp"
#include "tools/drec/seek.hpp"
#include "tools/drec/subcommands.hpp"

namespace drec {
namespace {

const OptionSpec kInfoOptions[] = {
    kTexturesOption, kJsonOption, kQuietOption,
    {"--no-horizon", nullptr, "leave the dependency horizon out: no OpenGL, reading alone"}};

}  // namespace

const CommandSpec kInfoSpec{
    "info", "REC",
    "Describes REC: the header with each texture slot and its file, the segment\n"
    "files, chunks, records by type, frames, triangles per frame, texture slots\n"
    "and blend modes used, the recorded time stamps with the mean frame rate,\n"
    "pauses of 0.25 s or more (which the player cuts short), time stamps going\n"
    "backwards or not finite, how far back each frame's picture depends on\n"
    "earlier frames (its dependency horizon: drawing from there over a cleared\n"
    "picture gives the frame exactly; needs an OpenGL context, offscreen when\n"
    "there is no display), and every problem found (as drec check lists them).\n"
    "Lists of pauses, time stamps and problems show the first 100; counts are exact.\n"
    "Exit status: 0 clean, 1 damaged, 2 usage error or unreadable input.\n",
    kInfoOptions, sizeof kInfoOptions / sizeof kInfoOptions[0], 1, 1};

namespace {

const char* compressionName(uint32_t compression) {
  switch (compression) {
    case 0: return "plain";
    case 1: return "run-length 8";
    case 2: return "run-length 4";
    case 3: return "bit fields";
    default: return "unknown";
  }
}

int64_t segmentSize(const ScanReport& report, int64_t number) {
  for (const SegmentFile& file : report.segmentFiles)
    if (file.number == number) return file.size;
  return -1;
}

// Indices in increasing order, as many as there are texture slots at most.
struct IndexList {
  int indices[kTextureSlotCount + 1];
  int count;
  const int* begin() const { return indices; }
  const int* end() const { return indices + count; }
};

// The slots 1 to kTextureSlotCount whose key is not 0.
IndexList keyedSlots(const ScanReport& report) {
  IndexList list{};
  for (int slot = 1; slot <= kTextureSlotCount; ++slot)
    if (report.slots[slot].key != 0) list.indices[list.count++] = slot;
  return list;
}

// The indices of the counts that are not 0.
template <size_t N>
IndexList nonZeroIndices(const int64_t (&counts)[N]) {
  static_assert(N <= kTextureSlotCount + 1);
  IndexList list{};
  for (size_t index = 0; index < N; ++index)
    if (counts[index] != 0) list.indices[list.count++] = static_cast<int>(index);
  return list;
}

long long ll(int64_t value) { return static_cast<long long>(value); }

// How far back frames depend: each frame's distance to its horizon in
// frames and in seconds of the paced clock (the player's time, which never
// goes backwards), sorted.
struct HorizonSpread {
  bool asked;  // false: --no-horizon
  bool known;  // false: no OpenGL context
  bool exactCoverage;
  std::vector<int64_t> framesBack;
  std::vector<double> secondsBack;
  int64_t deepestFrame;     // the frame that depends furthest back
  int64_t standalone;       // frames whose picture depends on themselves alone
  int64_t backToFirst;      // frames after the first that depend on frame 0
};

// A reading pass of its own that tracks the horizon, on a picture target
// of the recorded size as drec play draws into.
HorizonSpread findHorizons(const OpenedRecording& recording) {
  HorizonSpread spread{};
  spread.asked = true;
  OpenedRecording indexed;
  indexed.quiet = true;
  if (!openRecording(indexed, recording.segmentTemplate.c_str(), nullptr)) return spread;
  FrameRenderer renderer;
  if (openFrameRenderer(renderer, recording.header, recording.texturesDirectory) != RendererStart::Ready) return spread;
  PictureTarget target{};
  if (!loadGlExtensionEntries(renderer.gl) ||
      !makePictureTarget(renderer.gl, renderer.width, renderer.height, target))
    return spread;
  HorizonTracker tracker{};
  spread.exactCoverage = prepareHorizonTracker(tracker, renderer);
  FrameIndex index{};
  startFrameIndex(index, indexed.stream, 0, &tracker);
  while (!indexFrames(index, 4096)) {
  }
  spread.known = true;
  int64_t deepest = -1;
  for (size_t frame = 0; frame < index.frames.size(); ++frame) {
    const IndexedFrame& row = index.frames[frame];
    const int64_t back = static_cast<int64_t>(frame) - row.horizon;
    spread.framesBack.push_back(back);
    spread.secondsBack.push_back(row.pacedTime -
                                 index.frames[static_cast<size_t>(row.horizon)].pacedTime);
    spread.standalone += back == 0;
    spread.backToFirst += frame > 0 && row.horizon == 0;
    if (back > deepest) {
      deepest = back;
      spread.deepestFrame = static_cast<int64_t>(frame);
    }
  }
  std::sort(spread.framesBack.begin(), spread.framesBack.end());
  std::sort(spread.secondsBack.begin(), spread.secondsBack.end());
  return spread;
}

// The nearest-rank percentile of a sorted, non-empty list.
template <typename Value>
Value percentile(const std::vector<Value>& sorted, int percent) {
  const size_t rank = (sorted.size() * static_cast<size_t>(percent) + 99) / 100;
  return sorted[std::max<size_t>(rank, 1) - 1];
}
double seconds(float value) { return static_cast<double>(value); }

// The line of one texture slot, after its key.
std::string describeSlot(const OpenedRecording& recording, const TextureSlotReport& entry) {
  std::string text;
  const std::string path = texturePath(recording.texturesDirectory, entry.key);
  if (!entry.present) return "missing  " + path;
  const BmpDescription& bmp = entry.description;
  appendFormat(text, "present  %s, %lld bytes", path.c_str(), ll(entry.fileSize));
  if (entry.fieldsKnown)
    appendFormat(text, ": %d x %d, %u bits, %s", bmp.header.width, bmp.header.height,
                 static_cast<unsigned>(bmp.header.depth), compressionName(bmp.header.compression));
  if (!bmp.decodable) {
    appendFormat(text, "; cannot be decoded: %s", bmp.problem);
  } else if (!bmp.texture.fits) {
    appendFormat(text, "; gives no texture: %s", bmp.texture.reason);
  } else if (bmp.rowsPresent < bmp.header.height) {
    appendFormat(text, "; cut short: %lld of %d rows", ll(bmp.rowsPresent), bmp.header.height);
  }
  return text;
}

// The counts that are not 0, each as `item(index)` appends it, separated by
// commas and followed by " triangles"; "none" when all are 0.
template <size_t N, typename Item>
void appendTriangleCounts(std::string& out, const int64_t (&counts)[N], Item item) {
  const char* separator = "";
  for (int index : nonZeroIndices(counts)) {
    out += separator;
    item(index);
    separator = ", ";
  }
  out += *separator ? " triangles\n" : "none\n";
}

// The dependency horizon's lines, after their label (none with --no-horizon).
void appendHorizonText(std::string& out, const HorizonSpread& horizon) {
  if (!horizon.asked) return;
  const char* label = "%-22s";
  appendFormat(out, label, "dependency horizon");
  if (!horizon.known) {
    out += "unknown (no OpenGL context)\n";
    return;
  }
  if (horizon.framesBack.empty()) {
    out += "no frames\n";
    return;
  }
  appendFormat(out, "frames back: median %lld, p99 %lld, max %lld", ll(percentile(horizon.framesBack, 50)),
               ll(percentile(horizon.framesBack, 99)), ll(horizon.framesBack.back()));
  if (horizon.framesBack.back() > 0) appendFormat(out, " (frame %lld)", ll(horizon.deepestFrame));
  out += "\n";
  appendFormat(out, label, "");
  appendFormat(out, "seconds back: median %.3f, p99 %.3f, max %.3f\n", percentile(horizon.secondsBack, 50),
               percentile(horizon.secondsBack, 99), horizon.secondsBack.back());
  appendFormat(out, label, "");
  appendFormat(out, "standing alone %lld, back to frame 0 %lld; coverage %s\n", ll(horizon.standalone),
               ll(horizon.backToFirst), horizon.exactCoverage ? "exact" : "with margins");
}

void printInfoText(const OpenedRecording& recording, const ScanReport& report,
                   const HorizonSpread& horizon) {
  std::string out;
  const char* label = "%-22s";
  auto field = [&](const char* name) { appendFormat(out, label, name); };

  field("recording");
  out += recording.segmentTemplate + "\n";
  field("screen");
  appendFormat(out, "%d x %d\n", report.width, report.height);
  field("texture folder");
  out += recording.texturesDirectory + "\n";
  field("texture slots");
  appendFormat(out, "%d with a key\n", keyedSlots(report).count);
  for (int slot : keyedSlots(report)) {
    const TextureSlotReport& entry = report.slots[slot];
    char hex[17];
    textureKeyHex(entry.key, hex);
    appendFormat(out, "  slot %2d  %s  ", slot, hex);
    out += describeSlot(recording, entry) + "\n";
  }

  int64_t segmentBytes = 0;
  for (int64_t number = 0; number <= report.lastSegmentRead; ++number)
    segmentBytes += std::max<int64_t>(segmentSize(report, number), 0);
  field("segments");
  appendFormat(out, "%lld read, %lld bytes\n", ll(report.lastSegmentRead + 1), ll(segmentBytes));
  for (int64_t number = 0; number <= report.lastSegmentRead; ++number)
    appendFormat(out, "  %s  %s bytes\n", segmentName(recording.segmentTemplate, number).c_str(),
                 decimalOrDash(segmentSize(report, number)).c_str());
  for (const SegmentFile& file : report.segmentFiles)
    if (file.number > report.lastSegmentRead)
      appendFormat(out, "  %s  %lld bytes, never read\n",
                   segmentName(recording.segmentTemplate, file.number).c_str(), ll(file.size));

  field("chunks");
  appendFormat(out, "%lld: %lld bytes compressed, %lld decompressed (%lld empty, %lld skipped as damaged)\n",
               ll(report.chunks), ll(report.compressedBytes), ll(report.decompressedBytes),
               ll(report.emptyChunks), ll(report.skippedChunks));
  field("largest chunk");
  appendFormat(out, "%lld bytes compressed, %lld decompressed\n", ll(report.largestCompressed),
               ll(report.largestDecompressed));
  field("records");
  appendFormat(out, "%lld frame marks, %lld triangles, %lld point records (type 3: %lld, type 4: %lld), %lld invalid\n",
               ll(report.frameMarks), ll(report.triangles),
               ll(report.pointRecords[0] + report.pointRecords[1]), ll(report.pointRecords[0]),
               ll(report.pointRecords[1]), ll(report.invalidRecords + report.recordsPastChunk));
  if (report.bytesNotWalked > 0) {
    field("not walked");
    appendFormat(out, "%lld decompressed bytes after records that end a chunk's walk\n",
                 ll(report.bytesNotWalked));
  }
  field("frames");
  appendFormat(out, "%lld\n", ll(report.frameMarks));
  field("triangles per frame");
  appendFormat(out, "min %lld, mean %.2f, max %lld", ll(report.trianglesMin), meanTrianglesPerFrame(report),
               ll(report.trianglesMax));
  if (report.trianglesAfterLastMark > 0)
    appendFormat(out, " (%lld after the last frame mark)", ll(report.trianglesAfterLastMark));
  out += "\n";

  field("texture slots used");
  appendTriangleCounts(out, report.slotTriangles, [&](int slot) {
    appendFormat(out, "%d: %lld%s", slot, ll(report.slotTriangles[slot]),
                 slot > 0 && report.slots[slot].key == 0 ? " (no key: untextured)" : "");
  });
  field("blend modes used");
  appendTriangleCounts(out, report.blendTriangles, [&](int mode) {
    appendFormat(out, "%d %s: %lld", mode, blendModeName(mode), ll(report.blendTriangles[mode]));
  });

  field("time stamps");
  if (report.finiteTimes > 0) {
    appendFormat(out, "first %.3f s, last %.3f s, duration %.3f s\n", seconds(report.firstTime),
                 seconds(report.lastTime), recordedDuration(report));
  } else {
    out += "none finite\n";
  }
  field("frame rate");
  appendFormat(out, "%.2f frames per second (mean)\n", meanFramesPerSecond(report));
  field("pauses");
  appendFormat(out, "%lld of 0.25 s or more, %.3f s in all (the player cuts %.3f s)\n",
               ll(report.pauseCount), report.pauseSeconds, report.pauseCutSeconds);
  for (const PauseEntry& pause : report.pauses)
    appendFormat(out, "  frame %lld: %.3f s to %.3f s (%.3f s)\n", ll(pause.frame), seconds(pause.from),
                 seconds(pause.to), seconds(pause.to) - seconds(pause.from));
  field("going backwards");
  appendFormat(out, "%lld time stamps\n", ll(report.backwardCount));
  for (const BackwardEntry& step : report.backward)
    appendFormat(out, "  frame %lld: %.3f s after %.3f s\n", ll(step.frame), seconds(step.time),
                 seconds(step.previous));
  field("not finite");
  appendFormat(out, "%lld time stamps\n", ll(report.notFiniteCount));
  for (const NotFiniteEntry& entry : report.notFinite)
    appendFormat(out, "  frame %lld: %g\n", ll(entry.frame), seconds(entry.time));

  appendHorizonText(out, horizon);

  field("damage");
  if (report.problemCount == 0) {
    out += "none\n";
  } else {
    out += counted(report.problemCount, "problem") + "\n";
    for (const Problem& problem : report.problems) out += "  " + problemLine(recording, problem);
  }
  printOut(out);
}

// An object under `key` for a list the report keeps the first kListedLimit
// entries of: "count", all of them, and "list", the entries kept, each one an
// object that `fields` writes.
template <typename Entry, typename Fields>
void writeCountedList(JsonWriter& json, const char* key, int64_t count,
                      const std::vector<Entry>& list, Fields fields) {
  jsonBeginObject(json, key);
  jsonField(json, "count", count);
  jsonObjectList(json, "list", list, fields);
  jsonEndObject(json);
}

// The JSON fields of one texture slot with a key.
void writeSlotJson(JsonWriter& json, const OpenedRecording& recording, int slot,
                   const TextureSlotReport& entry) {
  const BmpDescription& bmp = entry.description;
  char hex[17];
  textureKeyHex(entry.key, hex);
  jsonField(json, "slot", slot);
  jsonField(json, "key", hex);
  jsonField(json, "file", texturePath(recording.texturesDirectory, entry.key));
  jsonField(json, "present", entry.present);
  if (entry.present) {
    jsonField(json, "file_bytes", entry.fileSize);
    if (entry.fieldsKnown) {
      jsonField(json, "width", bmp.header.width);
      jsonField(json, "height", bmp.header.height);
      jsonField(json, "depth", bmp.header.depth);
      jsonField(json, "compression", bmp.header.compression);
      jsonField(json, "compression_name", compressionName(bmp.header.compression));
      jsonField(json, "top_down", bmp.header.topDown);
    }
    jsonField(json, "decodable", bmp.decodable);
    jsonField(json, "problem", nullUnless(!bmp.decodable, bmp.problem));
    jsonField(json, "rows_present", bmp.rowsPresent);
    jsonField(json, "texture_problem", nullUnless(!bmp.texture.fits, bmp.texture.reason));
  }
  jsonField(json, "triangles", entry.triangles);
}

void printInfoJson(const OpenedRecording& recording, const ScanReport& report,
                   const HorizonSpread& horizon) {
  std::string out;
  JsonWriter json = makeJsonWriter(out);
  const bool timed = report.finiteTimes > 0;
  jsonBeginObject(json);
  jsonField(json, "recording", recording.segmentTemplate);
  jsonField(json, "texture_folder", recording.texturesDirectory);

  jsonBeginObject(json, "header");
  jsonField(json, "bytes_present", report.headerBytesPresent);
  jsonField(json, "width", report.width);
  jsonField(json, "height", report.height);
  jsonObjectList(json, "texture_slots", keyedSlots(report),
                 [&](int slot) { writeSlotJson(json, recording, slot, report.slots[slot]); });
  jsonEndObject(json);

  jsonObjectList(json, "segments", report.segmentFiles, [&](const SegmentFile& file) {
    jsonField(json, "number", file.number);
    jsonField(json, "file", segmentName(recording.segmentTemplate, file.number));
    jsonField(json, "bytes", file.size);
    jsonField(json, "read", file.number <= report.lastSegmentRead);
  });
  jsonField(json, "segments_read", report.lastSegmentRead + 1);

  jsonBeginObject(json, "chunks");
  jsonField(json, "count", report.chunks);
  jsonField(json, "compressed_bytes", report.compressedBytes);
  jsonField(json, "decompressed_bytes", report.decompressedBytes);
  jsonField(json, "empty", report.emptyChunks);
  jsonField(json, "skipped", report.skippedChunks);
  jsonField(json, "largest_compressed", report.largestCompressed);
  jsonField(json, "largest_decompressed", report.largestDecompressed);
  jsonEndObject(json);

  jsonBeginObject(json, "records");
  jsonField(json, "frame_marks", report.frameMarks);
  jsonField(json, "triangles", report.triangles);
  jsonField(json, "points_type3", report.pointRecords[0]);
  jsonField(json, "points_type4", report.pointRecords[1]);
  jsonField(json, "invalid", report.invalidRecords);
  jsonField(json, "past_chunk_end", report.recordsPastChunk);
  jsonField(json, "bytes_not_walked", report.bytesNotWalked);
  jsonEndObject(json);

  jsonField(json, "frames", report.frameMarks);
  jsonBeginObject(json, "triangles_per_frame");
  jsonField(json, "min", report.trianglesMin);
  jsonField(json, "mean", meanTrianglesPerFrame(report));
  jsonField(json, "max", report.trianglesMax);
  jsonField(json, "after_last_mark", report.trianglesAfterLastMark);
  jsonEndObject(json);

  jsonObjectList(json, "texture_slots_used", nonZeroIndices(report.slotTriangles), [&](int slot) {
    jsonField(json, "slot", slot);
    jsonField(json, "triangles", report.slotTriangles[slot]);
    jsonField(json, "has_key", slot > 0 && report.slots[slot].key != 0);
  });
  jsonObjectList(json, "blend_modes_used", nonZeroIndices(report.blendTriangles), [&](int mode) {
    jsonField(json, "mode", mode);
    jsonField(json, "name", blendModeName(mode));
    jsonField(json, "triangles", report.blendTriangles[mode]);
  });

  jsonBeginObject(json, "time");
  jsonField(json, "finite_stamps", report.finiteTimes);
  jsonField(json, "first", nullUnless(timed, report.firstTime));
  jsonField(json, "last", nullUnless(timed, report.lastTime));
  jsonField(json, "duration", recordedDuration(report));
  jsonField(json, "mean_fps", meanFramesPerSecond(report));
  jsonEndObject(json);

  // The pauses as writeCountedList writes a list, with their length besides.
  jsonBeginObject(json, "pauses");
  jsonField(json, "count", report.pauseCount);
  jsonField(json, "seconds", report.pauseSeconds);
  jsonField(json, "cut_seconds", report.pauseCutSeconds);
  jsonObjectList(json, "list", report.pauses, [&](const PauseEntry& pause) {
    jsonField(json, "frame", pause.frame);
    jsonField(json, "from", pause.from);
    jsonField(json, "to", pause.to);
  });
  jsonEndObject(json);

  writeCountedList(json, "backwards", report.backwardCount, report.backward,
                   [&](const BackwardEntry& step) {
    jsonField(json, "frame", step.frame);
    jsonField(json, "previous", step.previous);
    jsonField(json, "time", step.time);
  });
  writeCountedList(json, "not_finite", report.notFiniteCount, report.notFinite,
                   [&](const NotFiniteEntry& entry) {
    jsonField(json, "frame", entry.frame);
    jsonField(json, "value", std::isnan(entry.time) ? "nan" : entry.time > 0 ? "inf" : "-inf");
  });
  if (!horizon.known || horizon.framesBack.empty()) {
    jsonField(json, "horizon", std::optional<bool>{});
  } else {
    jsonBeginObject(json, "horizon");
    jsonField(json, "exact_coverage", horizon.exactCoverage);
    jsonBeginObject(json, "frames_back");
    jsonField(json, "median", percentile(horizon.framesBack, 50));
    jsonField(json, "p99", percentile(horizon.framesBack, 99));
    jsonField(json, "max", horizon.framesBack.back());
    jsonEndObject(json);
    jsonBeginObject(json, "seconds_back");
    jsonField(json, "median", percentile(horizon.secondsBack, 50));
    jsonField(json, "p99", percentile(horizon.secondsBack, 99));
    jsonField(json, "max", horizon.secondsBack.back());
    jsonEndObject(json);
    jsonField(json, "deepest_frame", horizon.deepestFrame);
    jsonField(json, "standalone_frames", horizon.standalone);
    jsonField(json, "frames_back_to_first", horizon.backToFirst);
    jsonEndObject(json);
  }
  jsonField(json, "damaged", report.problemCount > 0);
  writeCountedList(json, "problems", report.problemCount, report.problems,
                   [&](const Problem& problem) { writeProblemFields(json, recording, problem); });
  jsonEndObject(json);
  printOut(out);
}

}  // namespace

int infoCommand(const ParsedCommand& parsed) {
  OpenedRecording recording;
  if (!openRecordingOf(kInfoSpec, parsed, recording)) return kExitUsage;
  ScanReport report{};
  scanRecording(recording, report, ScanCallbacks{nullptr, nullptr});
  const HorizonSpread horizon =
      hasOption(kInfoSpec, parsed, "--no-horizon") ? HorizonSpread{} : findHorizons(recording);
  if (hasOption(kInfoSpec, parsed, "--json")) {
    printInfoJson(recording, report, horizon);
  } else {
    printInfoText(recording, report, horizon);
  }
  printSegmentSetHint(recording);
  return report.problemCount == 0 ? kExitSuccess : kExitDamaged;
}

}  // namespace drec
