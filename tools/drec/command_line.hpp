// The command line of a drec subcommand: its options and operands, parsed
// from a table that also prints its --help. Options may come before or after
// operands; "--" ends them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/drec/output.hpp"

namespace drec {

// One option of a subcommand: "--name" alone, or "--name VALUE" /
// "--name=VALUE" when `valueName` is set.
struct OptionSpec {
  const char* name;       // with the leading "--"
  const char* valueName;  // null: a flag
  const char* help;
};

// What a subcommand accepts; its --help is printed from this.
struct CommandSpec {
  const char* name;         // "info"
  const char* operands;     // "REC"
  const char* description;  // lines of text for --help, each ending in "\n"
  const OptionSpec* options;
  size_t optionCount;
  size_t minOperands;
  size_t maxOperands;
};

// The options every subcommand that opens a recording takes.
extern const OptionSpec kTexturesOption;  // --textures DIR
extern const OptionSpec kJsonOption;      // --json
extern const OptionSpec kQuietOption;     // --quiet
// --allow-missing-textures, for the subcommands that draw.
extern const OptionSpec kAllowMissingTexturesOption;

struct ParsedCommand {
  std::vector<const char*> operands;
  std::vector<const char*> values;  // by option index: the value, "" for a flag, null when absent
  // Every value of an option given more than once, in order: by option index.
  std::vector<std::vector<const char*>> allValues;
};

enum class ParseResult {
  Run,         // options and operands are in the ParsedCommand
  Help,        // --help was given; the help has been printed
  UsageError,  // the problem and a hint have been printed on standard error
};

// Parses argv[1..argc) of a subcommand (argv[0] is its name). Options may
// come before or after operands; "--" ends the options.
ParseResult parseCommand(const CommandSpec& command, int argc, char** argv, ParsedCommand& parsed);
// The exit status for a parse that does not run the subcommand: 0 after
// --help, kExitUsage after a usage error.
inline int parseExitStatus(ParseResult result) {
  return result == ParseResult::Help ? kExitSuccess : kExitUsage;
}
void printCommandHelp(const CommandSpec& command);
// Usage error for a subcommand: the text, then the hint to --help. Returns kExitUsage.
int usageError(const CommandSpec& command, const std::string& text);

bool hasOption(const CommandSpec& command, const ParsedCommand& parsed, const char* name);
// The option's value, or null when it was not given. Given more than once,
// the last value counts.
const char* optionValue(const CommandSpec& command, const ParsedCommand& parsed, const char* name);
// Every value given for the option, in order (a repeatable option).
std::vector<const char*> optionValues(const CommandSpec& command, const ParsedCommand& parsed,
                                      const char* name);

// Whole decimal numbers and plain decimals, the whole text or nothing.
bool parseInteger(const char* text, int64_t& value);
bool parseNumber(const char* text, double& value);

}  // namespace drec
