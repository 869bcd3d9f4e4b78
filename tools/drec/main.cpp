// drec: a companion tool for recordings. Usage: drec SUBCOMMAND [options] ...
//
// Each subcommand is one function in its own file, named NAMECommand and
// called with its own arguments (argv[0] is the subcommand's name); adding
// one is one line in the table below.
#include <cstring>
#include <string>

#include "tools/drec/output.hpp"

#define DREC_SUBCOMMANDS(X)                                                                 \
  X(info, "what a recording holds: header, textures, segments, chunks, frames, timing, damage") \
  X(check, "read and decompress everything; list each problem; exit 1 when damaged") \
  X(bench, "play every frame as fast as possible; frames per second and frame times") \
  X(export, "draw frames into PNG files: a list, every N-th, or a fixed-rate sequence") \
  X(hash, "one line per frame: frame number, recorded time, hash of its pixels") \
  X(verify, "compare the frames' pixel hashes with a list from hash; exit 1 at a difference")

namespace drec {

#define DREC_DECLARE(name, summary) int name##Command(int argc, char** argv);
DREC_SUBCOMMANDS(DREC_DECLARE)
#undef DREC_DECLARE

namespace {

struct Subcommand {
  const char* name;
  const char* summary;
  int (*run)(int argc, char** argv);
};

#define DREC_ENTRY(name, summary) {#name, summary, name##Command},
constexpr Subcommand kSubcommands[] = {DREC_SUBCOMMANDS(DREC_ENTRY)};
#undef DREC_ENTRY

void printHelp() {
  std::string text =
      "Usage: drec SUBCOMMAND [options] REC ...\n"
      "\n"
      "REC is a recording: one file, or a name holding \"%i\" for its numbered\n"
      "segment files. Paths are relative to the current folder.\n"
      "\n"
      "Subcommands:\n";
  for (const Subcommand& subcommand : kSubcommands)
    appendFormat(text, "  %-8s %s\n", subcommand.name, subcommand.summary);
  text +=
      "\n"
      "drec SUBCOMMAND --help describes one. drec --version prints the version.\n"
      "Exit status: 0 success, 1 the recording is damaged, 2 usage error or\n"
      "unreadable input.\n";
  printOut(text);
}

}  // namespace
}  // namespace drec

int main(int argc, char** argv) {
  using namespace drec;
  if (argc < 2) {
    printError("missing subcommand; try 'drec --help'");
    return kExitUsage;
  }
  const char* first = argv[1];
  if (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0 ||
      std::strcmp(first, "help") == 0) {
    printHelp();
    return kExitSuccess;
  }
  if (std::strcmp(first, "--version") == 0) {
    printOut("drec " DREC_VERSION "\n");
    return kExitSuccess;
  }
  for (const Subcommand& subcommand : kSubcommands)
    if (std::strcmp(first, subcommand.name) == 0) return subcommand.run(argc - 1, argv + 1);
  printError(std::string("unknown subcommand '") + first + "'; try 'drec --help'");
  return kExitUsage;
}
