#include "tools/drec/tool_common.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/clock.hpp"

namespace drec {

const OptionSpec kTexturesOption{
    "--textures", "DIR",
    "texture folder (default: ROOT/Video/TexDump/ when REC lies at ROOT/Video/Stream/NAME,\n"
    "otherwise Video/TexDump/ under the current folder)"};
const OptionSpec kJsonOption{"--json", nullptr, "print the result as one JSON object"};

void writeOut(const char* text, size_t length) { std::fwrite(text, 1, length, stdout); }
void printOut(const char* text) { writeOut(text, std::strlen(text)); }
void printOut(const std::string& text) { writeOut(text.data(), text.size()); }

void printError(const std::string& text) {
  std::string line = "drec: " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

void appendFormat(std::string& out, const char* format, ...) {
  char buffer[512];
  va_list arguments;
  va_start(arguments, format);
  int length = std::vsnprintf(buffer, sizeof buffer, format, arguments);
  va_end(arguments);
  if (length < 0) return;
  if (static_cast<size_t>(length) < sizeof buffer) {
    out.append(buffer, static_cast<size_t>(length));
    return;
  }
  // Longer than the stack buffer (long file names): format again in place.
  size_t start = out.size();
  out.resize(start + static_cast<size_t>(length) + 1);
  va_start(arguments, format);
  std::vsnprintf(&out[start], static_cast<size_t>(length) + 1, format, arguments);
  va_end(arguments);
  out.resize(start + static_cast<size_t>(length));
}

std::string counted(int64_t count, const char* noun) {
  char digits[24];
  formatDecimal(count, digits);
  return std::string(digits) + " " + noun + (count == 1 ? "" : "s");
}

std::string decimalOrDash(int64_t value) {
  if (value < 0) return "-";
  char digits[24];
  formatDecimal(value, digits);
  return digits;
}


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
  }
  if (parsed.operands.size() < command.minOperands) {
    usageError(command, std::string("missing ") + command.operands);
    return ParseResult::UsageError;
  }
  if (parsed.operands.size() > command.maxOperands) {
    usageError(command, "unexpected operand '" + std::string(parsed.operands[command.maxOperands]) + "'");
    return ParseResult::UsageError;
  }
  return ParseResult::Run;
}

void printCommandHelp(const CommandSpec& command) {
  std::string text;
  appendFormat(text, "Usage: drec %s [options] %s\n\n%s\nOptions:\n", command.name, command.operands,
               command.description);
  size_t width = std::strlen("--help");
  for (size_t i = 0; i < command.optionCount; ++i) {
    const OptionSpec& option = command.options[i];
    size_t length = std::strlen(option.name) + (option.valueName ? 1 + std::strlen(option.valueName) : 0);
    width = std::max(width, length);
  }
  auto addOption = [&](const char* name, const char* valueName, const char* help) {
    std::string left = name;
    if (valueName) left += std::string(" ") + valueName;
    appendFormat(text, "  %-*s  ", static_cast<int>(width), left.c_str());
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


std::string segmentName(const std::string& segmentTemplate, int64_t number) {
  std::vector<char> name(segmentNameCapacity(segmentTemplate.c_str()));
  segmentFileName(segmentTemplate.c_str(), number, name.data(), name.size());
  return name.data();
}

std::string texturesDirectoryFor(const std::string& segmentTemplate, const char* texturesOption) {
  if (texturesOption) {
    std::string directory = texturesOption;
    if (!directory.empty() && directory.back() != '/') directory += '/';
    return directory;
  }
  const std::string first = segmentName(segmentTemplate, 0);
  const size_t slash = first.rfind('/');
  if (slash != std::string::npos) {
    const std::string folder = first.substr(0, slash);
    const std::string stream = "Video/Stream";
    if (folder == stream) return "Video/TexDump/";
    if (folder.size() > stream.size() &&
        folder.compare(folder.size() - stream.size(), stream.size(), stream) == 0 &&
        folder[folder.size() - stream.size() - 1] == '/')
      return folder.substr(0, folder.size() - stream.size()) + "Video/TexDump/";
  }
  return "Video/TexDump/";
}

std::string texturePath(const std::string& texturesDirectory, TextureKey key) {
  char hex[17];
  textureKeyHex(key, hex);
  return texturesDirectory + hex + ".bmp";
}

namespace {

// Plain decimal as the reader writes numbers: "0", or digits without a
// leading zero; at most 18 of them.
bool canonicalNumber(const std::string& text, int64_t& number) {
  if (text.empty() || text.size() > 18) return false;
  if (text.size() > 1 && text[0] == '0') return false;
  number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + (c - '0');
  }
  return true;
}

bool fileSize(const FileAccess& files, const std::string& name, int64_t& size) {
  FileHandle file = files.open(files.context, name.c_str());
  if (file < 0) return false;
  size = files.length(files.context, file);
  files.close(files.context, file);
  return true;
}

}  // namespace

std::vector<SegmentFile> findSegmentFiles(const FileAccess& files,
                                          const std::string& segmentTemplate) {
  std::vector<SegmentFile> found;
  int64_t size = 0;
  const size_t marker = segmentTemplate.find("%i");
  if (marker == std::string::npos) {
    if (fileSize(files, segmentTemplate, size)) found.push_back({0, size});
    return found;
  }
  const std::string prefix = segmentTemplate.substr(0, marker);
  const std::string suffix = segmentTemplate.substr(marker + 2);
  std::vector<int64_t> numbers;
  if (suffix.find('/') == std::string::npos) {
    // The number is in the file name: every matching name in the folder.
    const size_t slash = prefix.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : prefix.substr(0, slash + 1);
    const std::string namePrefix = slash == std::string::npos ? prefix : prefix.substr(slash + 1);
    // Built without exceptions: the iterator is advanced with an error code.
    std::error_code error;
    std::filesystem::directory_iterator entry(folder, error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
      const std::string name = entry->path().filename().string();
      if (name.size() <= namePrefix.size() + suffix.size()) continue;
      if (name.compare(0, namePrefix.size(), namePrefix) != 0) continue;
      if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
      int64_t number = 0;
      if (canonicalNumber(name.substr(namePrefix.size(), name.size() - namePrefix.size() - suffix.size()),
                          number))
        numbers.push_back(number);
    }
    std::sort(numbers.begin(), numbers.end());
  } else {
    // The number names a folder: look at numbers in turn, up to 16 missing in a row.
    for (int64_t number = 0, missing = 0; missing < 16; ++number) {
      if (fileSize(files, segmentName(segmentTemplate, number), size)) {
        numbers.push_back(number);
        missing = 0;
      } else {
        ++missing;
      }
    }
  }
  for (int64_t number : numbers)
    if (fileSize(files, segmentName(segmentTemplate, number), size)) found.push_back({number, size});
  return found;
}


Console playerMessagesConsole(PlayerMessages& messages) {
  return Console{&messages, [](void* context, const char* text, size_t length) {
                   PlayerMessages& kept = *static_cast<PlayerMessages*>(context);
                   size_t room = sizeof kept.text - 1 - kept.length;
                   size_t taken = std::min(room, length);
                   std::memcpy(kept.text + kept.length, text, taken);
                   kept.length += taken;
                   kept.text[kept.length] = '\0';
                 }};
}

void clearPlayerMessages(PlayerMessages& messages) {
  messages.length = 0;
  messages.text[0] = '\0';
}

std::string playerMessagesText(const PlayerMessages& messages) {
  std::string text;
  for (size_t i = 0; i < messages.length; ++i) {
    char c = messages.text[i];
    if (c == '\r') continue;
    if (c == '\n') {
      if (i + 1 < messages.length) text += " / ";
    } else {
      text += c;
    }
  }
  return text;
}

bool openRecording(OpenedRecording& recording, const char* recordingName,
                   const char* texturesOption) {
  recording.segmentTemplate = recordingName;
  recording.texturesDirectory = texturesDirectoryFor(recording.segmentTemplate, texturesOption);
  recording.files = realFileAccess();
  clearPlayerMessages(recording.messages);
  recording.playerConsole = playerMessagesConsole(recording.messages);
  const std::string firstSegment = segmentName(recording.segmentTemplate, 0);
  if (startStream(recording.stream, recording.files, recording.playerConsole,
                  recording.segmentTemplate.c_str(), recording.headerBytes) ==
      StartOutcome::OpenFailed) {
    printError("cannot open '" + firstSegment + "'");
    closeStream(recording.stream);
    return false;
  }
  recording.header = parseHeader(recording.headerBytes);
  recording.headerBytesPresent = std::min<int64_t>(recording.stream.firstSegmentLength, kHeaderSize);
  if (!hasRecordingMagic(recording.header)) {
    printError("'" + firstSegment + "' is not a recording: it does not start with \"DREC\"");
    closeStream(recording.stream);
    return false;
  }
  createStreamBuffers(recording.stream);
  return true;
}

void closeRecording(OpenedRecording& recording) { closeStream(recording.stream); }


void startProgress(Progress& progress, const char* label) {
  progress = Progress{};
  progress.terminal = standardErrorIsTerminal();
  progress.startSeconds = clockSeconds();
  progress.label = label;
}

void updateProgress(Progress& progress, int64_t done, int64_t total) {
  if (!progress.terminal) return;
  const double now = clockSeconds();
  if (now - progress.startSeconds < 1.0) return;
  if (progress.shown && now - progress.lastDrawSeconds < 0.1) return;
  progress.shown = true;
  progress.lastDrawSeconds = now;
  char line[160];
  double percent = total > 0 ? 100.0 * static_cast<double>(std::min(done, total)) / static_cast<double>(total) : 0.0;
  int length = std::snprintf(line, sizeof line, "\r%s: %.0f%% (%.1f of %.1f MB)\033[K", progress.label,
                             percent, static_cast<double>(done) / 1e6, static_cast<double>(total) / 1e6);
  if (length > 0) std::fwrite(line, 1, std::min(static_cast<size_t>(length), sizeof line - 1), stderr);
  std::fflush(stderr);
}

void endProgress(Progress& progress) {
  if (!progress.shown) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  progress.shown = false;
}

}  // namespace drec
