// The files of a recording as the tool finds them: its segment files, its
// texture folder, and the recording opened through the player's own reader.
//
// Paths are taken relative to the current directory (the player, unlike the
// tool, resolves them in its own directory).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/console.hpp"
#include "platform/files.hpp"
#include "recording/format.hpp"
#include "recording/stream.hpp"
#include "tools/drec/command_line.hpp"
#include "tools/drec/output.hpp"

namespace drec {

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
// The same for a subcommand's first operand and its --textures option.
bool openRecordingOf(const CommandSpec& command, const ParsedCommand& parsed,
                     OpenedRecording& recording);
void closeRecording(OpenedRecording& recording);

}  // namespace drec
