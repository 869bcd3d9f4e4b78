// drec hash REC and drec verify REC HASHES: a hash of every frame's rendered
// pixels, and a comparison against such a list, which turns a recording into
// a regression test of the drawing.
//
// The hash is 64-bit FNV-1a over the frame's pixels as red, green and blue
// bytes, top row first, left to right: what the player's window shows at
// that frame (every frame is drawn in order, none dropped).
//
// The list: a first line "# drec hash fnv1a-64 rgb WIDTHxHEIGHT", then one
// line per frame: frame number, recorded time in seconds (six decimals) and
// the hash as 16 lower-case hexadecimal digits, separated by single spaces.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/drec/command_line.hpp"
#include "tools/drec/frame_plan.hpp"
#include "tools/drec/frame_renderer.hpp"
#include "tools/drec/output.hpp"
#include "tools/drec/recording_files.hpp"
#include "tools/drec/subcommands.hpp"

namespace drec {
namespace {

constexpr char kHashName[] = "fnv1a-64";
constexpr char kListHeader[] = "# drec hash ";

const OptionSpec kHashOptions[] = {kTexturesOption, kAllowMissingTexturesOption, kQuietOption};

}  // namespace

const CommandSpec kHashSpec{
    "hash", "REC",
    "Draws every frame of REC in order with the player's own drawing code,\n"
    "without a visible window, and prints one line per frame: the frame number,\n"
    "its recorded time in seconds and a hash of its pixels (64-bit FNV-1a over\n"
    "red, green and blue bytes, top row first), after a first line\n"
    "\"# drec hash fnv1a-64 rgb WIDTHxHEIGHT\". drec verify compares against it.\n"
    "Exit status: 0 done, 1 the recording is damaged (the player's messages are\n"
    "shown) or texture files are missing, 2 usage error or unreadable input.\n",
    kHashOptions, sizeof kHashOptions / sizeof kHashOptions[0], 1, 1};

const CommandSpec kVerifySpec{
    "verify", "REC HASHES",
    "Draws every frame of REC as drec hash does and compares its hash with the\n"
    "line for that frame in HASHES (the output of drec hash). Stops at the first\n"
    "difference and names the frame; a frame that only one of them has counts\n"
    "as a difference. Recorded times are not compared.\n"
    "Exit status: 0 every frame matches, 1 a difference or texture files are\n"
    "missing, 2 usage error or unreadable input.\n",
    kHashOptions, sizeof kHashOptions / sizeof kHashOptions[0], 2, 2};

namespace {

std::string hashText(uint64_t hash) {
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIx64, hash);
  return text;
}

struct HashRun {
  FrameRenderer* renderer;
  int64_t frames;  // in the recording
  std::vector<uint8_t> picture;
  std::string line;
  // verify
  const std::vector<uint64_t>* expected;
  int64_t differentFrame;  // -1: none yet
  uint64_t differentHash;
  float differentTime;
};

uint64_t frameHash(HashRun& run) {
  readFramePixels(*run.renderer, run.picture.data());
  return fnv1a64(run.picture.data(), run.picture.size());
}

RecordAction hashFrame(void* context, int64_t frame, float timeStamp) {
  HashRun& run = *static_cast<HashRun*>(context);
  const uint64_t hash = frameHash(run);
  run.line.clear();
  appendFormat(run.line, "%" PRId64 " %.6f %016" PRIx64 "\n", frame,
               static_cast<double>(timeStamp), hash);
  printOut(run.line);
  return standardOutputFailed() ? RecordAction::Stop : RecordAction::Continue;
}

RecordAction verifyFrame(void* context, int64_t frame, float timeStamp) {
  HashRun& run = *static_cast<HashRun*>(context);
  const std::vector<uint64_t>& expected = *run.expected;
  const uint64_t hash = frameHash(run);
  if (frame < static_cast<int64_t>(expected.size()) && expected[static_cast<size_t>(frame)] == hash)
    return RecordAction::Continue;
  run.differentFrame = frame;
  run.differentHash = hash;
  run.differentTime = timeStamp;
  return RecordAction::Stop;
}

bool readTextFile(const char* path, std::string& text) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) return false;
  char buffer[65536];
  size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, count);
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
}

// One line of the list: "FRAME TIME HASH". The time is any word.
bool parseHashLine(const std::string& line, int64_t& frame, uint64_t& hash) {
  const char* text = line.c_str();
  char* end = nullptr;
  errno = 0;
  const long long number = std::strtoll(text, &end, 10);
  if (end == text || *end != ' ' || errno != 0 || number < 0) return false;
  const char* time = end + 1;
  const char* space = std::strchr(time, ' ');
  if (!space || space == time) return false;
  const char* digits = space + 1;
  if (std::strlen(digits) != 16) return false;
  hash = 0;
  for (const char* c = digits; *c; ++c) {
    int value = 0;
    if (*c >= '0' && *c <= '9') value = *c - '0';
    else if (*c >= 'a' && *c <= 'f') value = *c - 'a' + 10;
    else if (*c >= 'A' && *c <= 'F') value = *c - 'A' + 10;
    else return false;
    hash = hash << 4 | static_cast<uint64_t>(value);
  }
  frame = number;
  return true;
}

// The hashes of HASHES by frame; false with the reason printed.
bool readHashList(const char* path, std::vector<uint64_t>& hashes) {
  std::string text;
  if (!readTextFile(path, text)) {
    printError(std::string("cannot read '") + path + "'");
    return false;
  }
  size_t start = 0;
  int64_t lineNumber = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::string where = std::string(path) + " line " + std::to_string(lineNumber) + ": ";
    if (line[0] == '#') {
      if (line.compare(0, sizeof kListHeader - 1, kListHeader) == 0 &&
          line.compare(sizeof kListHeader - 1, sizeof kHashName - 1, kHashName) != 0) {
        printError(where + "not a list of " + kHashName + " hashes");
        return false;
      }
      continue;
    }
    int64_t frame = 0;
    uint64_t hash = 0;
    if (!parseHashLine(line, frame, hash)) {
      printError(where + "not \"FRAME TIME HASH\" (HASH 16 hexadecimal digits)");
      return false;
    }
    if (frame != static_cast<int64_t>(hashes.size())) {
      printError(where + "frame " + std::to_string(frame) + " where frame " +
                 std::to_string(hashes.size()) + " comes next");
      return false;
    }
    hashes.push_back(hash);
  }
  return true;
}

bool startRun(const CommandSpec& command, const ParsedCommand& parsed, OpenedRecording& recording,
              FrameRenderer& renderer, HashRun& run) {
  if (!openRecordingOf(command, parsed, recording)) return false;
  if (!countRecordingFrames(recording, run.frames)) return false;
  if (!openRendererFor(renderer, recording)) {
    return false;
  }
  run.renderer = &renderer;
  run.picture.assign(rgbFrameBytes(renderer), 0);
  run.differentFrame = -1;
  return true;
}

}  // namespace

int hashCommand(const ParsedCommand& parsed) {
  OpenedRecording recording;
  FrameRenderer renderer;
  HashRun run{};
  if (!startRun(kHashSpec, parsed, recording, renderer, run)) return kExitUsage;
  std::string header = kListHeader;
  appendFormat(header, "%s rgb %dx%d\n", kHashName, renderer.width, renderer.height);
  printOut(header);
  const FrameWalkResult walk =
      drawEveryFrame(recording, renderer, &run, hashFrame, "hash", run.frames);
  return drawingStatus(walk.damaged ? kExitDamaged : kExitSuccess, renderer,
                       hasOption(kHashSpec, parsed, "--allow-missing-textures"));
}

int verifyCommand(const ParsedCommand& parsed) {
  std::vector<uint64_t> expected;
  if (!readHashList(parsed.operands[1], expected)) return kExitUsage;
  OpenedRecording recording;
  FrameRenderer renderer;
  HashRun run{};
  run.expected = &expected;
  if (!startRun(kVerifySpec, parsed, recording, renderer, run)) return kExitUsage;
  const FrameWalkResult walk =
      drawEveryFrame(recording, renderer, &run, verifyFrame, "verify", run.frames);

  const std::string name = recording.segmentTemplate;
  const std::string list = parsed.operands[1];
  std::string result;
  int status = kExitDamaged;
  const int64_t listed = static_cast<int64_t>(expected.size());
  if (run.differentFrame >= 0 && run.differentFrame < listed) {
    appendFormat(result, "frame %" PRId64 " (recorded time %.6f s) differs: hash %s, %s has %s\n",
                 run.differentFrame, static_cast<double>(run.differentTime),
                 hashText(run.differentHash).c_str(), list.c_str(),
                 hashText(expected[static_cast<size_t>(run.differentFrame)]).c_str());
  } else if (run.differentFrame >= 0) {
    appendFormat(result, "frame %" PRId64 " (recorded time %.6f s) is not in %s, which lists %s\n",
                 run.differentFrame, static_cast<double>(run.differentTime), list.c_str(),
                 counted(listed, "frame").c_str());
  } else if (walk.frames < listed) {
    appendFormat(result, "frame %" PRId64 " of %s is not in %s, which has %s\n", walk.frames,
                 list.c_str(), name.c_str(), counted(walk.frames, "frame").c_str());
  } else {
    result = name + ": " + counted(walk.frames, "frame") + " match " + list + "\n";
    status = kExitSuccess;
  }
  printOut(result);
  return drawingStatus(status, renderer, hasOption(kVerifySpec, parsed, "--allow-missing-textures"));
}

}  // namespace drec
