#include "tools/drec/recording_files.hpp"

#include <algorithm>
#include <cstring>
#include <filesystem>

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

bool openRecording(OpenedRecording& recording, const char* recordingName,
                   const char* texturesOption) {
  recording.segmentTemplate = recordingName;
  recording.texturesDirectory = texturesDirectoryFor(recording.segmentTemplate, texturesOption);
  recording.files = realFileAccess();
  clearPlayerMessages(recording.messages);
  recording.playerConsole = playerMessagesConsole(recording.messages);
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

bool openRecordingOf(const CommandSpec& command, const ParsedCommand& parsed,
                     OpenedRecording& recording) {
  return openRecording(recording, parsed.operands[0], optionValue(command, parsed, "--textures"));
}

void closeRecording(OpenedRecording& recording) { closeStream(recording.stream); }

}  // namespace drec
