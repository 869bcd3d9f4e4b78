// drec: a companion tool for recordings. Usage: drec SUBCOMMAND [options] ...
//
// The subcommands are listed in subcommands.hpp; this file parses the
// command line of the one named and runs it.
#include <cstring>
#include <string>

#include "tools/drec/output.hpp"
#include "tools/drec/subcommands.hpp"

namespace drec {

namespace {

struct Subcommand {
  const char* name;
  const char* summary;
  const CommandSpec* command;
  int (*run)(const ParsedCommand& parsed);
};

#define DREC_ENTRY(name, command, summary) {#name, summary, &command, name##Command},
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
      "drec SUBCOMMAND --help (or drec help SUBCOMMAND) describes one.\n"
      "drec --version (-V, version) prints the version.\n"
      "Exit status: 0 success, 1 the recording is damaged, 2 usage error or\n"
      "unreadable input.\n";
  printOut(text);
}

}  // namespace
}  // namespace drec

namespace drec {
namespace {

const Subcommand* findSubcommand(const char* name) {
  for (const Subcommand& subcommand : kSubcommands)
    if (std::strcmp(name, subcommand.name) == 0) return &subcommand;
  return nullptr;
}

bool isOneOf(const char* argument, const char* a, const char* b, const char* c = "") {
  return std::strcmp(argument, a) == 0 || std::strcmp(argument, b) == 0 ||
         (*c && std::strcmp(argument, c) == 0);
}

int runTool(int argc, char** argv) {
  if (argc < 2) {
    printError("missing subcommand; try 'drec --help'");
    return kExitUsage;
  }
  const char* first = argv[1];
  if (isOneOf(first, "--help", "-h", "help")) {
    // "drec help SUB" is "drec SUB --help".
    if (argc < 3) {
      printHelp();
      return kExitSuccess;
    }
    if (const Subcommand* subcommand = findSubcommand(argv[2])) {
      printCommandHelp(*subcommand->command);
      return kExitSuccess;
    }
    printError(std::string("unknown subcommand '") + argv[2] + "'; try 'drec --help'");
    return kExitUsage;
  }
  if (isOneOf(first, "--version", "-V", "version")) {
    printOut("drec " DREC_VERSION "\n");
    return kExitSuccess;
  }
  if (const Subcommand* subcommand = findSubcommand(first)) {
    ParsedCommand parsed;
    const ParseResult result = parseCommand(*subcommand->command, argc - 1, argv + 1, parsed);
    return result == ParseResult::Run ? subcommand->run(parsed) : parseExitStatus(result);
  }
  printError(std::string("unknown subcommand '") + first + "'; try 'drec --help'");
  return kExitUsage;
}

}  // namespace
}  // namespace drec

// Whatever the subcommand did, output that did not reach standard output
// (a full disk, a closed descriptor) makes the run a failure.
int main(int argc, char** argv) { return drec::finishStandardOutput(drec::runTool(argc, argv)); }
