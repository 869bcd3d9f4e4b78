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
  bool quiet = false;  // --quiet: no progress line and no warnings
};

// Opens REC (and names its texture folder). On failure prints why on
// standard error and returns false: the subcommand then exits kExitUsage.
// A --textures folder that does not exist or is not a folder is such a
// failure.
bool openRecording(OpenedRecording& recording, const char* recordingName, const char* texturesOption);
// The same for a subcommand's first operand and its --textures and --quiet
// options.
bool openRecordingOf(const CommandSpec& command, const ParsedCommand& parsed,
                     OpenedRecording& recording);
void closeRecording(OpenedRecording& recording);
// Reads the whole recording once, saying nothing, and opens it again at its
// first chunk: the frames it holds (frame marks met), known before anything
// is drawn. False with the reason printed when it no longer opens.
bool countRecordingFrames(OpenedRecording& recording, int64_t& frames);
// The same, keeping each frame's recorded time (its frame mark's stamp).
bool readFrameTimes(OpenedRecording& recording, std::vector<float>& times);
// Opens the recording again at its first chunk (a new run). False with the
// reason printed when it no longer opens.
bool restartRecording(OpenedRecording& recording);

// A numbered set of segment files that one file name belongs to: given
// "run.13.0.rec" while "run.13.1.rec" exists, the template "run.13.%i.rec"
// and the number of segments from 0 on without a gap. The number is the
// last run of decimal digits in the file name (not in its folder).
struct SegmentSet {
  std::string segmentTemplate;
  int64_t segments;
};
// The set whose segment 0 `name` is, when segment 1 exists beside it.
bool segmentSetOf(const FileAccess& files, const std::string& name, SegmentSet& set);
// Names given one by one that are segment files of one recording (a shell
// glob such as run.13.*.rec): the set's template, segment 0 among them.
bool namesFormOneSet(const std::vector<const char*>& names, SegmentSet& set);
// "this looks like segment 0 of 4: name them as 'run.13.%i.rec'", printed
// on standard error for segment 0 of a set; nothing otherwise.
void printSegmentSetHint(const OpenedRecording& recording);

}  // namespace drec
