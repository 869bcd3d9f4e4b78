#include "tools/drec/command_line.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/drec/recording_files.hpp"

namespace drec {

const OptionSpec kTexturesOption{
    "--textures", "DIR",
    "texture folder (default: ROOT/Video/TexDump/ when REC\n"
    "lies at ROOT/Video/Stream/NAME, otherwise Video/TexDump/\n"
    "under the current folder)"};
const OptionSpec kJsonOption{"--json", nullptr, "print the result as one JSON object"};
const OptionSpec kQuietOption{"--quiet", nullptr, "no progress line and no warnings"};
const OptionSpec kAllowMissingTexturesOption{
    "--allow-missing-textures", nullptr,
    "exit 0 even when texture files are missing (their triangles\n"
    "are drawn in their vertex colours alone)"};

namespace {

const OptionSpec* findOption(const CommandSpec& command, const char* name, size_t nameLength,
                             size_t& index) {
  for (size_t i = 0; i < command.optionCount; ++i) {
    const char* candidate = command.options[i].name;
    if (std::strlen(candidate) == nameLength && std::strncmp(candidate, name, nameLength) == 0) {
      index = i;
      return &command.options[i];
    }
  }
  return nullptr;
}

}  // namespace

int usageError(const CommandSpec& command, const std::string& text) {
  printError(std::string(command.name) + ": " + text);
  printError(std::string("try 'drec ") + command.name + " --help'");
  return kExitUsage;
}

ParseResult parseCommand(const CommandSpec& command, int argc, char** argv, ParsedCommand& parsed) {
  parsed.operands.clear();
  parsed.values.assign(command.optionCount, nullptr);
  parsed.allValues.assign(command.optionCount, {});
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (optionsEnded || argument[0] != '-' || argument[1] == '\0') {
      parsed.operands.push_back(argument);
      continue;
    }
    if (std::strcmp(argument, "--") == 0) {
      optionsEnded = true;
      continue;
    }
    if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
      printCommandHelp(command);
      return ParseResult::Help;
    }
    const char* equals = std::strchr(argument, '=');
    size_t nameLength = equals ? static_cast<size_t>(equals - argument) : std::strlen(argument);
    size_t index = 0;
    const OptionSpec* option = findOption(command, argument, nameLength, index);
    if (!option) {
      usageError(command, "unknown option '" + std::string(argument, nameLength) + "'");
      return ParseResult::UsageError;
    }
    if (!option->valueName) {
      if (equals) {
        usageError(command, std::string(option->name) + " takes no value");
        return ParseResult::UsageError;
      }
      parsed.values[index] = "";
    } else if (equals) {
      parsed.values[index] = equals + 1;
    } else if (i + 1 < argc) {
      parsed.values[index] = argv[++i];
    } else {
      usageError(command, std::string(option->name) + " needs a value " + option->valueName);
      return ParseResult::UsageError;
    }
    parsed.allValues[index].push_back(parsed.values[index]);
  }
  if (parsed.operands.size() < command.minOperands) {
    usageError(command, std::string("missing ") + command.operands);
    return ParseResult::UsageError;
  }
  if (parsed.operands.size() > command.maxOperands) {
    usageError(command, "unexpected operand '" + std::string(parsed.operands[command.maxOperands]) + "'");
    // What a shell makes of run.13.*.rec: the files of one recording.
    SegmentSet set;
    if (namesFormOneSet(parsed.operands, set))
      printError("these look like " + std::to_string(set.segments) +
                 " segment files of one recording: name them as '" + set.segmentTemplate + "'");
    return ParseResult::UsageError;
  }
  return ParseResult::Run;
}

void printCommandHelp(const CommandSpec& command) {
  std::string text;
  appendFormat(text, "Usage: drec %s [options] %s\n\n%s\nOptions:\n", command.name, command.operands,
               command.description);
  // An option longer than this has its help on the lines below it, so that
  // one long name does not push every help text to the right.
  constexpr size_t kOptionColumn = 16;
  size_t width = std::strlen("--help");
  const auto optionLength = [](const OptionSpec& option) {
    return std::strlen(option.name) + (option.valueName ? 1 + std::strlen(option.valueName) : 0);
  };
  for (size_t i = 0; i < command.optionCount; ++i) {
    const size_t length = optionLength(command.options[i]);
    if (length <= kOptionColumn) width = std::max(width, length);
  }
  auto addOption = [&](const char* name, const char* valueName, const char* help) {
    std::string left = name;
    if (valueName) left += std::string(" ") + valueName;
    if (left.size() > width) {
      appendFormat(text, "  %s\n", left.c_str());
      text.append(width + 4, ' ');
    } else {
      appendFormat(text, "  %-*s  ", static_cast<int>(width), left.c_str());
    }
    // Continuation lines of the help text line up under its first line.
    for (const char* c = help; *c; ++c) {
      text += *c;
      if (*c == '\n') text.append(width + 4, ' ');
    }
    text += '\n';
  };
  for (size_t i = 0; i < command.optionCount; ++i)
    addOption(command.options[i].name, command.options[i].valueName, command.options[i].help);
  addOption("--help", nullptr, "show this help");
  printOut(text);
}

bool hasOption(const CommandSpec& command, const ParsedCommand& parsed, const char* name) {
  return optionValue(command, parsed, name) != nullptr;
}

const char* optionValue(const CommandSpec& command, const ParsedCommand& parsed, const char* name) {
  size_t index = 0;
  if (!findOption(command, name, std::strlen(name), index) || index >= parsed.values.size())
    return nullptr;
  return parsed.values[index];
}

std::vector<const char*> optionValues(const CommandSpec& command, const ParsedCommand& parsed,
                                      const char* name) {
  size_t index = 0;
  if (!findOption(command, name, std::strlen(name), index) || index >= parsed.allValues.size())
    return {};
  return parsed.allValues[index];
}

bool parseInteger(const char* text, int64_t& value) {
  if (!text || !*text || std::isspace(static_cast<unsigned char>(*text))) return false;
  char* end = nullptr;
  errno = 0;
  long long parsed = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0') return false;
  value = parsed;
  return true;
}

bool parseNumber(const char* text, double& value) {
  if (!text || !*text || std::isspace(static_cast<unsigned char>(*text))) return false;
  char* end = nullptr;
  errno = 0;
  double parsed = std::strtod(text, &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

}  // namespace drec
