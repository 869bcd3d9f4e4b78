// drec check REC: reads and decompresses the whole recording without a
// window and lists each problem on its own line, as it is found.
#include <string>

#include "tools/drec/command_line.hpp"
#include "tools/drec/output.hpp"
#include "tools/drec/recording_files.hpp"
#include "tools/drec/scan.hpp"
#include "tools/drec/subcommands.hpp"

namespace drec {
namespace {

const OptionSpec kCheckOptions[] = {kTexturesOption, kQuietOption};

}  // namespace

const CommandSpec kCheckSpec{
    "check", "REC",
    "Reads and decompresses all of REC without a window, as the player would,\n"
    "and checks its texture files. A clean recording gives one summary line.\n"
    "Otherwise each problem is one line, FILE: byte OFFSET, frame N: WHAT\n"
    "(a segment file, the byte offset of the chunk's length word or header\n"
    "field, the frame in progress or \"-\"), then a count.\n"
    "Exit status: 0 clean, 1 damaged, 2 usage error or unreadable input.\n",
    kCheckOptions, sizeof kCheckOptions / sizeof kCheckOptions[0], 1, 1};

namespace {

void printProblem(void*, const OpenedRecording& recording, const Problem& problem) {
  printOut(problemLine(recording, problem));
}

}  // namespace

int checkCommand(const ParsedCommand& parsed) {
  OpenedRecording recording;
  if (!openRecordingOf(kCheckSpec, parsed, recording)) return kExitUsage;
  ScanReport report{};
  scanRecording(recording, report, ScanCallbacks{nullptr, printProblem});

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
  printSegmentSetHint(recording);
  return report.problemCount == 0 ? kExitSuccess : kExitDamaged;
}

}  // namespace drec
