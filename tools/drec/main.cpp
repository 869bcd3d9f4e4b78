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
  const CommandSpec* spec;
  int (*run)(const ParsedCommand& parsed);
};

#define DREC_ENTRY(name, spec, summary) {#name, summary, &spec, name##Command},
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
    if (std::strcmp(first, subcommand.name) == 0) {
      ParsedCommand parsed;
      const ParseResult result = parseCommand(*subcommand.spec, argc - 1, argv + 1, parsed);
      return result == ParseResult::Run ? subcommand.run(parsed) : parseExitStatus(result);
    }
  printError(std::string("unknown subcommand '") + first + "'; try 'drec --help'");
  return kExitUsage;
}
