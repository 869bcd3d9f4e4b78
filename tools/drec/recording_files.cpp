#include "tools/drec/recording_files.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "recording/reader.hpp"
#include "render/textures.hpp"

namespace drec {

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
  // Where the player would look: its texture folder beside the Video/Stream/
  // folder that holds the recording, else under the current folder.
  const std::string first = segmentName(segmentTemplate, 0);
  const std::string streamFolder = "Video/Stream/";
  const size_t slash = first.rfind('/');
  if (slash != std::string::npos && slash + 1 >= streamFolder.size()) {
    const size_t root = slash + 1 - streamFolder.size();
    if (first.compare(root, streamFolder.size(), streamFolder) == 0 &&
        (root == 0 || first[root - 1] == '/'))
      return first.substr(0, root) + kPlayerTexturesFolder;
  }
  return kPlayerTexturesFolder;
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

namespace {

// The system's reason why `folder` cannot be a texture folder, or null.
const char* textureFolderProblem(const char* folder) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(folder, error);
  if (error) return std::strerror(error.value());
  if (!std::filesystem::is_directory(status)) return std::strerror(ENOTDIR);
  return nullptr;
}

// Segment 0 opened, its header read and checked, the stream's buffers made.
bool startRecordingStream(OpenedRecording& recording) {
  clearPlayerMessages(recording.messages);
  const std::string firstSegment = segmentName(recording.segmentTemplate, 0);
  if (const char* problem = fileOpenProblem(firstSegment.c_str())) {
    printError("cannot open '" + firstSegment + "': " + problem);
    return false;
  }
  if (startStream(recording.stream, recording.files, recording.playerConsole,
                  recording.segmentTemplate.c_str(), recording.headerBytes) ==
      StartOutcome::OpenFailed) {
    printError("cannot open '" + firstSegment + "'");
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

// Counts frame marks, keeping their times when asked; the reading's own
// findings are dropped with the player's messages.
struct FrameCount : ReadHooks {
  int64_t frames;
  std::vector<float>* times;  // null: counted alone
  void triangle(const uint8_t*) {}
  RecordAction frameMark(float timeStamp) {
    ++frames;
    if (times) times->push_back(timeStamp);
    return RecordAction::Continue;
  }
};

bool readFrameMarks(OpenedRecording& recording, int64_t& frames, std::vector<float>* times) {
  FrameCount count{};
  count.times = times;
  RecordReader reader = startReader(recording.stream);
  readRecords(reader, count);
  frames = count.frames;
  return restartRecording(recording);
}

}  // namespace

bool openRecording(OpenedRecording& recording, const char* recordingName,
                   const char* texturesOption) {
  if (texturesOption) {
    if (const char* problem = textureFolderProblem(texturesOption)) {
      printError(std::string("cannot use the texture folder '") + texturesOption + "': " + problem);
      return false;
    }
  }
  recording.segmentTemplate = recordingName;
  recording.texturesDirectory = texturesDirectoryFor(recording.segmentTemplate, texturesOption);
  recording.files = realFileAccess();
  recording.playerConsole = playerMessagesConsole(recording.messages);
  return startRecordingStream(recording);
}

bool openRecordingOf(const CommandSpec& command, const ParsedCommand& parsed,
                     OpenedRecording& recording) {
  recording.quiet = hasOption(command, parsed, "--quiet");
  return openRecording(recording, parsed.operands[0], optionValue(command, parsed, "--textures"));
}

void closeRecording(OpenedRecording& recording) { closeStream(recording.stream); }

bool countRecordingFrames(OpenedRecording& recording, int64_t& frames) {
  return readFrameMarks(recording, frames, nullptr);
}

bool readFrameTimes(OpenedRecording& recording, std::vector<float>& times) {
  times.clear();
  int64_t frames = 0;
  return readFrameMarks(recording, frames, &times);
}

bool restartRecording(OpenedRecording& recording) {
  closeStream(recording.stream);
  return startRecordingStream(recording);
}


namespace {

// Where the segment number lies in a file name: its last run of decimal
// digits, after the folder. False when there is none, or when the name
// holds a "%" (it would not read back as a template).
bool numberInName(const std::string& name, size_t& start, size_t& end) {
  if (name.find('%') != std::string::npos) return false;
  const size_t slash = name.rfind('/');
  const size_t fileStart = slash == std::string::npos ? 0 : slash + 1;
  end = name.size();
  while (end > fileStart && !std::isdigit(static_cast<unsigned char>(name[end - 1]))) --end;
  if (end == fileStart) return false;
  start = end;
  while (start > fileStart && std::isdigit(static_cast<unsigned char>(name[start - 1]))) --start;
  return true;
}

bool fileOpens(const FileAccess& files, const std::string& name) {
  FileHandle file = files.open(files.context, name.c_str());
  if (file < 0) return false;
  files.close(files.context, file);
  return true;
}

}  // namespace

bool segmentSetOf(const FileAccess& files, const std::string& name, SegmentSet& set) {
  size_t start = 0, end = 0;
  if (!numberInName(name, start, end) || name.compare(start, end - start, "0") != 0) return false;
  set.segmentTemplate = name.substr(0, start);
  set.segmentTemplate += "%i";
  set.segmentTemplate += name.substr(end);
  set.segments = 1;
  while (set.segments < 100000 && fileOpens(files, segmentName(set.segmentTemplate, set.segments)))
    ++set.segments;
  return set.segments > 1;
}

bool namesFormOneSet(const std::vector<const char*>& names, SegmentSet& set) {
  if (names.size() < 2) return false;
  bool segmentZero = false;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string name = names[i];
    size_t start = 0, end = 0;
    if (!numberInName(name, start, end)) return false;
    std::string nameTemplate = name.substr(0, start);
    nameTemplate += "%i";
    nameTemplate += name.substr(end);
    if (i == 0) set.segmentTemplate = nameTemplate;
    else if (nameTemplate != set.segmentTemplate) return false;
    if (name.compare(start, end - start, "0") == 0) segmentZero = true;
  }
  set.segments = static_cast<int64_t>(names.size());
  return segmentZero;
}

void printSegmentSetHint(const OpenedRecording& recording) {
  SegmentSet set;
  if (recording.segmentTemplate.find("%i") != std::string::npos ||
      !segmentSetOf(recording.files, recording.segmentTemplate, set))
    return;
  printError("this looks like segment 0 of " + std::to_string(set.segments) + ": name them as '" +
             set.segmentTemplate + "'");
}

}  // namespace drec
