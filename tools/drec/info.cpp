// drec info REC: what a recording holds, read the way the player reads it:
// header and texture files, segment files, chunks, records, frames,
// triangles per frame, texture slots and blend modes used, time stamps,
// pauses, and every problem found. --json prints the same as one object
// (field names in docs/drec-json.md).
#include <algorithm>
#include <cmath>
#include <string>

#include "tools/drec/json_writer.hpp"
#include "tools/drec/scan.hpp"
#include "tools/drec/command_line.hpp"
#include "tools/drec/output.hpp"
#include "tools/drec/recording_files.hpp"

namespace drec {
namespace {

const OptionSpec kInfoOptions[] = {kTexturesOption, kJsonOption};

const CommandSpec kInfoSpec{
    "info", "REC",
    "Describes REC: the header with each texture slot and its file, the segment\n"
    "files, chunks, records by type, frames, triangles per frame, texture slots\n"
    "and blend modes used, the recorded time stamps with the mean frame rate,\n"
    "pauses of 0.25 s or more (which the player cuts short), time stamps going\n"
    "backwards or not finite, and every problem found (as drec check lists them).\n"
    "Lists of pauses, time stamps and problems show the first 100; counts are exact.\n"
    "Exit status: 0 clean, 1 damaged, 2 usage error or unreadable input.\n",
    kInfoOptions, sizeof kInfoOptions / sizeof kInfoOptions[0], 1, 1};

const char* blendModeName(int mode) {
  switch (mode) {
    case 0: return "opaque";
    case 1: return "alpha blended";
    case 2: return "colour unchanged";
    default: return "as the previous triangle";
  }
}

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

long long ll(int64_t value) { return static_cast<long long>(value); }
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

void printInfoText(const OpenedRecording& recording, const ScanReport& report) {
  std::string out;
  const char* label = "%-22s";
  auto field = [&](const char* name) { appendFormat(out, label, name); };

  field("recording");
  out += recording.segmentTemplate + "\n";
  field("screen");
  appendFormat(out, "%d x %d\n", report.width, report.height);
  field("texture folder");
  out += recording.texturesDirectory + "\n";
  int nonEmpty = 0;
  for (int slot = 1; slot <= kTextureSlotCount; ++slot) nonEmpty += report.slots[slot].key != 0;
  field("texture slots");
  appendFormat(out, "%d with a key\n", nonEmpty);
  for (int slot = 1; slot <= kTextureSlotCount; ++slot) {
    const TextureSlotReport& entry = report.slots[slot];
    if (entry.key == 0) continue;
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
  bool any = false;
  for (int slot = 0; slot < 32; ++slot) {
    if (report.slotTriangles[slot] == 0) continue;
    appendFormat(out, "%s%d: %lld", any ? ", " : "", slot, ll(report.slotTriangles[slot]));
    if (slot > 0 && report.slots[slot].key == 0) out += " (no key: untextured)";
    any = true;
  }
  out += any ? " triangles\n" : "none\n";
  field("blend modes used");
  any = false;
  for (int mode = 0; mode < 8; ++mode) {
    if (report.blendTriangles[mode] == 0) continue;
    appendFormat(out, "%s%d %s: %lld", any ? ", " : "", mode, blendModeName(mode),
                 ll(report.blendTriangles[mode]));
    any = true;
  }
  out += any ? " triangles\n" : "none\n";

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

  field("damage");
  if (report.problemCount == 0) {
    out += "none\n";
  } else {
    out += counted(report.problemCount, "problem") + "\n";
    for (const Problem& problem : report.problems) out += "  " + problemLine(recording, problem);
  }
  printOut(out);
}

void printInfoJson(const OpenedRecording& recording, const ScanReport& report) {
  std::string out;
  JsonWriter json = makeJsonWriter(out);
  jsonBeginObject(json);
  jsonKey(json, "recording");
  jsonString(json, recording.segmentTemplate);
  jsonKey(json, "texture_folder");
  jsonString(json, recording.texturesDirectory);

  jsonKey(json, "header");
  jsonBeginObject(json);
  jsonKey(json, "bytes_present");
  jsonInteger(json, report.headerBytesPresent);
  jsonKey(json, "width");
  jsonInteger(json, report.width);
  jsonKey(json, "height");
  jsonInteger(json, report.height);
  jsonKey(json, "texture_slots");
  jsonBeginArray(json);
  for (int slot = 1; slot <= kTextureSlotCount; ++slot) {
    const TextureSlotReport& entry = report.slots[slot];
    if (entry.key == 0) continue;
    const BmpDescription& bmp = entry.description;
    char hex[17];
    textureKeyHex(entry.key, hex);
    jsonBeginObject(json);
    jsonKey(json, "slot");
    jsonInteger(json, slot);
    jsonKey(json, "key");
    jsonString(json, hex);
    jsonKey(json, "file");
    jsonString(json, texturePath(recording.texturesDirectory, entry.key));
    jsonKey(json, "present");
    jsonBool(json, entry.present);
    if (entry.present) {
      jsonKey(json, "file_bytes");
      jsonInteger(json, entry.fileSize);
      if (entry.fieldsKnown) {
        jsonKey(json, "width");
        jsonInteger(json, bmp.header.width);
        jsonKey(json, "height");
        jsonInteger(json, bmp.header.height);
        jsonKey(json, "depth");
        jsonInteger(json, bmp.header.depth);
        jsonKey(json, "compression");
        jsonInteger(json, bmp.header.compression);
        jsonKey(json, "compression_name");
        jsonString(json, compressionName(bmp.header.compression));
        jsonKey(json, "top_down");
        jsonBool(json, bmp.header.topDown);
      }
      jsonKey(json, "decodable");
      jsonBool(json, bmp.decodable);
      jsonKey(json, "problem");
      if (bmp.decodable) jsonNull(json); else jsonString(json, bmp.problem);
      jsonKey(json, "rows_present");
      jsonInteger(json, bmp.rowsPresent);
      jsonKey(json, "texture_problem");
      if (bmp.texture.fits) jsonNull(json); else jsonString(json, bmp.texture.reason);
    }
    jsonKey(json, "triangles");
    jsonInteger(json, entry.triangles);
    jsonEndObject(json);
  }
  jsonEndArray(json);
  jsonEndObject(json);

  jsonKey(json, "segments");
  jsonBeginArray(json);
  for (const SegmentFile& file : report.segmentFiles) {
    jsonBeginObject(json);
    jsonKey(json, "number");
    jsonInteger(json, file.number);
    jsonKey(json, "file");
    jsonString(json, segmentName(recording.segmentTemplate, file.number));
    jsonKey(json, "bytes");
    jsonInteger(json, file.size);
    jsonKey(json, "read");
    jsonBool(json, file.number <= report.lastSegmentRead);
    jsonEndObject(json);
  }
  jsonEndArray(json);
  jsonKey(json, "segments_read");
  jsonInteger(json, report.lastSegmentRead + 1);

  jsonKey(json, "chunks");
  jsonBeginObject(json);
  jsonKey(json, "count");
  jsonInteger(json, report.chunks);
  jsonKey(json, "compressed_bytes");
  jsonInteger(json, report.compressedBytes);
  jsonKey(json, "decompressed_bytes");
  jsonInteger(json, report.decompressedBytes);
  jsonKey(json, "empty");
  jsonInteger(json, report.emptyChunks);
  jsonKey(json, "skipped");
  jsonInteger(json, report.skippedChunks);
  jsonKey(json, "largest_compressed");
  jsonInteger(json, report.largestCompressed);
  jsonKey(json, "largest_decompressed");
  jsonInteger(json, report.largestDecompressed);
  jsonEndObject(json);

  jsonKey(json, "records");
  jsonBeginObject(json);
  jsonKey(json, "frame_marks");
  jsonInteger(json, report.frameMarks);
  jsonKey(json, "triangles");
  jsonInteger(json, report.triangles);
  jsonKey(json, "points_type3");
  jsonInteger(json, report.pointRecords[0]);
  jsonKey(json, "points_type4");
  jsonInteger(json, report.pointRecords[1]);
  jsonKey(json, "invalid");
  jsonInteger(json, report.invalidRecords);
  jsonKey(json, "past_chunk_end");
  jsonInteger(json, report.recordsPastChunk);
  jsonKey(json, "bytes_not_walked");
  jsonInteger(json, report.bytesNotWalked);
  jsonEndObject(json);

  jsonKey(json, "frames");
  jsonInteger(json, report.frameMarks);
  jsonKey(json, "triangles_per_frame");
  jsonBeginObject(json);
  jsonKey(json, "min");
  jsonInteger(json, report.trianglesMin);
  jsonKey(json, "mean");
  jsonNumber(json, meanTrianglesPerFrame(report));
  jsonKey(json, "max");
  jsonInteger(json, report.trianglesMax);
  jsonKey(json, "after_last_mark");
  jsonInteger(json, report.trianglesAfterLastMark);
  jsonEndObject(json);

  jsonKey(json, "texture_slots_used");
  jsonBeginArray(json);
  for (int slot = 0; slot < 32; ++slot) {
    if (report.slotTriangles[slot] == 0) continue;
    jsonBeginObject(json);
    jsonKey(json, "slot");
    jsonInteger(json, slot);
    jsonKey(json, "triangles");
    jsonInteger(json, report.slotTriangles[slot]);
    jsonKey(json, "has_key");
    jsonBool(json, slot > 0 && report.slots[slot].key != 0);
    jsonEndObject(json);
  }
  jsonEndArray(json);
  jsonKey(json, "blend_modes_used");
  jsonBeginArray(json);
  for (int mode = 0; mode < 8; ++mode) {
    if (report.blendTriangles[mode] == 0) continue;
    jsonBeginObject(json);
    jsonKey(json, "mode");
    jsonInteger(json, mode);
    jsonKey(json, "name");
    jsonString(json, blendModeName(mode));
    jsonKey(json, "triangles");
    jsonInteger(json, report.blendTriangles[mode]);
    jsonEndObject(json);
  }
  jsonEndArray(json);

  jsonKey(json, "time");
  jsonBeginObject(json);
  jsonKey(json, "finite_stamps");
  jsonInteger(json, report.finiteTimes);
  jsonKey(json, "first");
  if (report.finiteTimes > 0) jsonFloat(json, report.firstTime); else jsonNull(json);
  jsonKey(json, "last");
  if (report.finiteTimes > 0) jsonFloat(json, report.lastTime); else jsonNull(json);
  jsonKey(json, "duration");
  jsonNumber(json, recordedDuration(report));
  jsonKey(json, "mean_fps");
  jsonNumber(json, meanFramesPerSecond(report));
  jsonEndObject(json);

  jsonKey(json, "pauses");
  jsonBeginObject(json);
  jsonKey(json, "count");
  jsonInteger(json, report.pauseCount);
  jsonKey(json, "seconds");
  jsonNumber(json, report.pauseSeconds);
  jsonKey(json, "cut_seconds");
  jsonNumber(json, report.pauseCutSeconds);
  jsonKey(json, "list");
  jsonBeginArray(json);
  for (const PauseEntry& pause : report.pauses) {
    jsonBeginObject(json);
    jsonKey(json, "frame");
    jsonInteger(json, pause.frame);
    jsonKey(json, "from");
    jsonFloat(json, pause.from);
    jsonKey(json, "to");
    jsonFloat(json, pause.to);
    jsonEndObject(json);
  }
  jsonEndArray(json);
  jsonEndObject(json);

  jsonKey(json, "backwards");
  jsonBeginObject(json);
  jsonKey(json, "count");
  jsonInteger(json, report.backwardCount);
  jsonKey(json, "list");
  jsonBeginArray(json);
  for (const BackwardEntry& step : report.backward) {
    jsonBeginObject(json);
    jsonKey(json, "frame");
    jsonInteger(json, step.frame);
    jsonKey(json, "previous");
    jsonFloat(json, step.previous);
    jsonKey(json, "time");
    jsonFloat(json, step.time);
    jsonEndObject(json);
  }
  jsonEndArray(json);
  jsonEndObject(json);

  jsonKey(json, "not_finite");
  jsonBeginObject(json);
  jsonKey(json, "count");
  jsonInteger(json, report.notFiniteCount);
  jsonKey(json, "list");
  jsonBeginArray(json);
  for (const NotFiniteEntry& entry : report.notFinite) {
    jsonBeginObject(json);
    jsonKey(json, "frame");
    jsonInteger(json, entry.frame);
    jsonKey(json, "value");
    jsonString(json, std::isnan(entry.time) ? "nan" : entry.time > 0 ? "inf" : "-inf");
    jsonEndObject(json);
  }
  jsonEndArray(json);
  jsonEndObject(json);

  jsonKey(json, "damaged");
  jsonBool(json, report.problemCount > 0);
  jsonKey(json, "problems");
  jsonBeginObject(json);
  jsonKey(json, "count");
  jsonInteger(json, report.problemCount);
  jsonKey(json, "list");
  jsonBeginArray(json);
  for (const Problem& problem : report.problems) {
    jsonBeginObject(json);
    jsonKey(json, "kind");
    jsonString(json, problemKindName(problem.kind));
    jsonKey(json, "file");
    jsonString(json, problemFile(recording, problem));
    jsonKey(json, "offset");
    jsonInteger(json, problem.offset);
    jsonKey(json, "frame");
    if (problem.frame >= 0) jsonInteger(json, problem.frame); else jsonNull(json);
    jsonKey(json, "message");
    jsonString(json, problemMessage(recording, problem));
    jsonEndObject(json);
  }
  jsonEndArray(json);
  jsonEndObject(json);
  jsonEndObject(json);
  printOut(out);
}

}  // namespace

int infoCommand(int argc, char** argv) {
  ParsedCommand parsed;
  switch (parseCommand(kInfoSpec, argc, argv, parsed)) {
    case ParseResult::Help: return kExitSuccess;
    case ParseResult::UsageError: return kExitUsage;
    case ParseResult::Run: break;
  }
  OpenedRecording recording;
  if (!openRecording(recording, parsed.operands[0], optionValue(kInfoSpec, parsed, "--textures")))
    return kExitUsage;
  ScanReport report{};
  scanRecording(recording, report, ScanCallbacks{nullptr, nullptr});
  if (hasOption(kInfoSpec, parsed, "--json")) {
    printInfoJson(recording, report);
  } else {
    printInfoText(recording, report);
  }
  return report.problemCount == 0 ? kExitSuccess : kExitDamaged;
}

}  // namespace drec
