// drec check REC: reads and decompresses the whole recording without a
// window and lists each problem on its own line, as it is found. --json
// prints one object instead (field names in docs/drec-json.md), its problem
// list written as the problems are found, so that memory does not grow with
// their number.
#include <string>

#include "tools/drec/command_line.hpp"
#include "tools/drec/json_writer.hpp"
#include "tools/drec/output.hpp"
#include "tools/drec/recording_files.hpp"
#include "tools/drec/scan.hpp"
#include "tools/drec/subcommands.hpp"

namespace drec {
namespace {

const OptionSpec kCheckOptions[] = {kTexturesOption, kJsonOption, kQuietOption};

}  // namespace

const CommandSpec kCheckSpec{
    "check", "REC",
    "Reads and decompresses all of REC without a window, as the player would,\n"
    "and checks its texture files. A clean recording gives one summary line.\n"
    "Otherwise each problem is one line, FILE: byte OFFSET, frame N: WHAT\n"
    "(a segment file, the byte offset of the chunk's length word or header\n"
    "field, the frame in progress or \"-\"), then a count. With --json: one\n"
    "object with the summary's counts and every problem.\n"
    "Exit status: 0 clean, 1 damaged, 2 usage error or unreadable input.\n",
    kCheckOptions, sizeof kCheckOptions / sizeof kCheckOptions[0], 1, 1};

namespace {

void printProblem(void*, const OpenedRecording& recording, const Problem& problem) {
  printOut(problemLine(recording, problem));
}

void printSummary(const OpenedRecording& recording, const ScanReport& report) {
  std::string summary = recording.segmentTemplate;
  if (report.problemCount == 0) {
    summary += ": clean: " + counted(report.lastSegmentRead + 1, "segment") + ", " +
               counted(report.chunks, "chunk") + ", " + counted(report.frameMarks, "frame") + ", " +
               counted(report.triangles, "triangle");
    appendFormat(summary, ", %.3f s recorded\n", recordedDuration(report));
  } else {
    summary += ": damaged: " + counted(report.problemCount, "problem") + "\n";
  }
  printOut(summary);
}

// The JSON object, printed a piece at a time: what is known before the scan,
// each problem as it is found, and the counts after.
struct JsonCheck {
  std::string out;
  JsonWriter json;
};

void printPending(JsonCheck& check) {
  printOut(check.out);
  check.out.clear();
}

void printProblemJson(void* context, const OpenedRecording& recording, const Problem& problem) {
  JsonCheck& check = *static_cast<JsonCheck*>(context);
  jsonBeginObject(check.json);
  writeProblemFields(check.json, recording, problem);
  jsonEndObject(check.json);
  printPending(check);
}

int runJsonCheck(OpenedRecording& recording) {
  JsonCheck check;
  check.json = makeJsonWriter(check.out);
  JsonWriter& json = check.json;
  jsonBeginObject(json);
  jsonField(json, "recording", recording.segmentTemplate);
  jsonField(json, "texture_folder", recording.texturesDirectory);
  jsonBeginObject(json, "problems");
  jsonBeginArray(json, "list");
  printPending(check);

  ScanReport report{};
  scanRecording(recording, report, ScanCallbacks{&check, printProblemJson});
  jsonEndArray(json);
  jsonField(json, "count", report.problemCount);
  jsonEndObject(json);
  jsonField(json, "damaged", report.problemCount > 0);
  jsonField(json, "segments_read", report.lastSegmentRead + 1);
  jsonField(json, "chunks", report.chunks);
  jsonField(json, "frames", report.frameMarks);
  jsonField(json, "triangles", report.triangles);
  jsonField(json, "recorded_seconds", recordedDuration(report));
  jsonEndObject(json);
  printPending(check);
  printSegmentSetHint(recording);
  return report.problemCount == 0 ? kExitSuccess : kExitDamaged;
}

}  // namespace

int checkCommand(const ParsedCommand& parsed) {
  OpenedRecording recording;
  if (!openRecordingOf(kCheckSpec, parsed, recording)) return kExitUsage;
  if (hasOption(kCheckSpec, parsed, "--json")) return runJsonCheck(recording);
  ScanReport report{};
  scanRecording(recording, report, ScanCallbacks{nullptr, printProblem});
  printSummary(recording, report);
  printSegmentSetHint(recording);
  return report.problemCount == 0 ? kExitSuccess : kExitDamaged;
}

}  // namespace drec
