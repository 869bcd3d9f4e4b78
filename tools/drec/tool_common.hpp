// Conventions every drec subcommand shares: options, output streams, exit
// statuses, the paths of a recording and its textures, opening a recording
// through the player's own reader, and progress on a terminal.
//
// Paths are taken relative to the current directory (the player, unlike the
// tool, resolves them in its own directory). Results go to standard output,
// errors and usage problems to standard error.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/console.hpp"
#include "platform/files.hpp"
#include "recording/format.hpp"
#include "recording/stream.hpp"

namespace drec {

// Exit statuses of every subcommand.
constexpr int kExitSuccess = 0;
constexpr int kExitDamaged = 1;  // the recording is damaged, or a verification failed
constexpr int kExitUsage = 2;    // a usage error, or input that cannot be read at all


// Standard output (results) and standard error (errors, usage, progress).
void writeOut(const char* text, size_t length);
void printOut(const char* text);
void printOut(const std::string& text);
// "drec: " + text + "\n" on standard error.
void printError(const std::string& text);
// Text appended printf-style; the common way to build output lines.
void appendFormat(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
// A number in plain decimal, or "-" for a missing value (< 0).
std::string decimalOrDash(int64_t value);
// "1 frame", "2 frames": the count and the noun, plural unless the count is 1.
std::string counted(int64_t count, const char* noun);


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

struct ParsedCommand {
  std::vector<const char*> operands;
  std::vector<const char*> values;  // by option index: the value, "" for a flag, null when absent
};

enum class ParseResult {
  Run,         // options and operands are in the ParsedCommand
  Help,        // --help was given; the help has been printed
  UsageError,  // the problem and a hint have been printed on standard error
};

// Parses argv[1..argc) of a subcommand (argv[0] is its name). Options may
// come before or after operands; "--" ends the options.
ParseResult parseCommand(const CommandSpec& command, int argc, char** argv, ParsedCommand& parsed);
void printCommandHelp(const CommandSpec& command);
// Usage error for a subcommand: the text, then the hint to --help. Returns kExitUsage.
int usageError(const CommandSpec& command, const std::string& text);

bool hasOption(const CommandSpec& command, const ParsedCommand& parsed, const char* name);
// The option's value, or null when it was not given.
const char* optionValue(const CommandSpec& command, const ParsedCommand& parsed, const char* name);

// Whole decimal numbers and plain decimals, the whole text or nothing.
bool parseInteger(const char* text, int64_t& value);
bool parseNumber(const char* text, double& value);


// Where the textures of a recording are: `--textures DIR` when given;
// otherwise, when segment 0 lies at ROOT/Video/Stream/NAME, ROOT/Video/TexDump/
// (where the player would look); otherwise Video/TexDump/ under the current
// directory. The result ends in "/".
std::string texturesDirectoryFor(const std::string& segmentTemplate, const char* texturesOption);
// The texture file of a key: the directory, 16 upper-case hex digits, ".bmp".
std::string texturePath(const std::string& texturesDirectory, TextureKey key);
std::string segmentName(const std::string& segmentTemplate, int64_t number);

// Segment files of a template that exist, with their sizes, in increasing
// number: every name the template gives for a plain decimal number that is
// in the template's folder (a template without "%i" has segment 0 alone).
struct SegmentFile {
  int64_t number;
  int64_t size;
};
std::vector<SegmentFile> findSegmentFiles(const FileAccess& files, const std::string& segmentTemplate);


// The player's messages, kept instead of printed: the tool reports the
// reader's and the walker's findings as values, in its own words, and
// quotes these lines. Cleared by the caller before each chunk.
struct PlayerMessages {
  char text[512];
  size_t length;
};
Console playerMessagesConsole(PlayerMessages& messages);
void clearPlayerMessages(PlayerMessages& messages);
// The kept lines joined by " / ", without the line ends.
std::string playerMessagesText(const PlayerMessages& messages);

// A recording opened with the player's reader: segment 0 is open at byte
// 264, the header has been read and its magic checked, and the stream's
// buffers exist. `close` releases everything.
struct OpenedRecording {
  std::string segmentTemplate;
  std::string texturesDirectory;
  FileAccess files;
  PlayerMessages messages;
  Console playerConsole;
  SegmentedStream stream;
  uint8_t headerBytes[kHeaderSize];
  RecordingHeader header;
  int64_t headerBytesPresent;  // bytes of the header segment 0 really holds (up to 264)
};

// Opens REC (and names its texture folder). On failure prints why on
// standard error and returns false: the subcommand then exits kExitUsage.
bool openRecording(OpenedRecording& recording, const char* recordingName, const char* texturesOption);
void closeRecording(OpenedRecording& recording);


// A progress line on standard error, shown only when standard error is a
// terminal and the work has taken more than a second, redrawn at most ten
// times a second, and erased at the end.
struct Progress {
  bool terminal;
  bool shown;
  double startSeconds;
  double lastDrawSeconds;
  const char* label;
};
void startProgress(Progress& progress, const char* label);
void updateProgress(Progress& progress, int64_t done, int64_t total);
void endProgress(Progress& progress);

}  // namespace drec
