// drec hash REC and drec verify REC HASHES: a hash of every frame's rendered
// pixels, and a comparison against such a list, which turns a recording into
// a regression test of the drawing.
//
// The hash is 64-bit FNV-1a over the frame's pixels as red, green and blue
// bytes, top row first, left to right: what the player's window shows at
// that frame (every frame is drawn in order, none dropped). The list's lines
// are written and read by hash_list.hpp.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/drec/command_line.hpp"
#include "tools/drec/frame_plan.hpp"
#include "tools/drec/frame_renderer.hpp"
#include "tools/drec/hash_list.hpp"
#include "tools/drec/output.hpp"
#include "tools/drec/recording_files.hpp"
#include "tools/drec/subcommands.hpp"

namespace drec {
namespace {

const OptionSpec kHashOptions[] = {kTexturesOption};

}  // namespace

const CommandSpec kHashSpec{
    "hash", "REC",
    "Draws every frame of REC in order with the player's own drawing code,\n"
    "without a visible window, and prints one line per frame: the frame number,\n"
    "its recorded time in seconds and a hash of its pixels (64-bit FNV-1a over\n"
    "red, green and blue bytes, top row first), after a first line\n"
    "\"# drec hash fnv1a-64 rgb WIDTHxHEIGHT\". drec verify compares against it.\n"
    "Exit status: 0 done, 1 the recording is damaged (the player's messages are\n"
    "shown), 2 usage error or unreadable input.\n",
    kHashOptions, sizeof kHashOptions / sizeof kHashOptions[0], 1, 1};

const CommandSpec kVerifySpec{
    "verify", "REC HASHES",
    "Draws every frame of REC as drec hash does and compares its hash with the\n"
    "line for that frame in HASHES (the output of drec hash). Stops at the first\n"
    "difference and names the frame; a frame that only one of them has counts\n"
    "as a difference. Recorded times are not compared.\n"
    "Exit status: 0 every frame matches, 1 a difference, 2 usage error or\n"
    "unreadable input.\n",
    kHashOptions, sizeof kHashOptions / sizeof kHashOptions[0], 2, 2};

namespace {

std::string hashText(uint64_t hash) {
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIx64, hash);
  return text;
}

struct HashRun {
  FrameRenderer* renderer;
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
  appendHashLine(run.line, frame, timeStamp, hash);
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

// The list in HASHES, read through a fixed buffer a piece of whole lines at
// a time; false with the reason printed.
bool readHashList(const char* path, HashList& list) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) {
    printError(std::string("cannot read '") + path + "': " + std::strerror(errno));
    return false;
  }
  uint8_t buffer[65536];
  size_t held = 0;
  HashListError error{};
  bool parsed = true;
  bool ended = false;
  int readReason = 0;
  while (parsed && !ended) {
    const size_t wanted = sizeof buffer - held;
    const size_t count = std::fread(buffer + held, 1, wanted, file);
    held += count;
    ended = count < wanted;
    if (ended && std::ferror(file)) readReason = errno != 0 ? errno : EIO;
    // Whole lines now, the rest with the next bytes; a line that fills the
    // buffer goes as it is, and is refused as too long.
    size_t whole = held;
    if (!ended) {
      while (whole > 0 && buffer[whole - 1] != '\n') --whole;
      if (whole == 0) whole = held;
    }
    parsed = parseHashList(list, buffer, whole, error);
    std::memmove(buffer, buffer + whole, held - whole);
    held -= whole;
  }
  std::fclose(file);
  if (readReason != 0) {
    printError(std::string("cannot read '") + path + "': " + std::strerror(readReason));
    return false;
  }
  if (!parsed) {
    printError(std::string(path) + " line " + std::to_string(error.line) + ": " + error.text);
    return false;
  }
  return true;
}

bool startRun(const CommandSpec& command, const ParsedCommand& parsed, OpenedRecording& recording,
              FrameRenderer& renderer, HashRun& run) {
  if (!openRecordingOf(command, parsed, recording)) return false;
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
  std::string header;
  appendHashListHeader(header, renderer.width, renderer.height);
  printOut(header);
  const FrameWalkResult walk = drawEveryFrame(recording, renderer, &run, hashFrame, "hash");
  return walk.damaged ? kExitDamaged : kExitSuccess;
}

int verifyCommand(const ParsedCommand& parsed) {
  HashList list{};
  if (!readHashList(parsed.operands[1], list)) return kExitUsage;
  const std::vector<uint64_t>& expected = list.hashes;
  OpenedRecording recording;
  FrameRenderer renderer;
  HashRun run{};
  run.expected = &expected;
  if (!startRun(kVerifySpec, parsed, recording, renderer, run)) return kExitUsage;
  const FrameWalkResult walk = drawEveryFrame(recording, renderer, &run, verifyFrame, "verify");

  const std::string name = recording.segmentTemplate;
  const std::string listName = parsed.operands[1];
  std::string result;
  int status = kExitDamaged;
  const int64_t listed = static_cast<int64_t>(expected.size());
  if (run.differentFrame >= 0 && run.differentFrame < listed) {
    appendFormat(result, "frame %" PRId64 " (recorded time %.6f s) differs: hash %s, %s has %s\n",
                 run.differentFrame, static_cast<double>(run.differentTime),
                 hashText(run.differentHash).c_str(), listName.c_str(),
                 hashText(expected[static_cast<size_t>(run.differentFrame)]).c_str());
  } else if (run.differentFrame >= 0) {
    appendFormat(result, "frame %" PRId64 " (recorded time %.6f s) is not in %s, which lists %s\n",
                 run.differentFrame, static_cast<double>(run.differentTime), listName.c_str(),
                 counted(listed, "frame").c_str());
  } else if (walk.frames < listed) {
    appendFormat(result, "frame %" PRId64 " of %s is not in %s, which has %s\n", walk.frames,
                 listName.c_str(), name.c_str(), counted(walk.frames, "frame").c_str());
  } else {
    result = name + ": " + counted(walk.frames, "frame") + " match " + listName + "\n";
    status = kExitSuccess;
  }
  printOut(result);
  return status;
}

}  // namespace drec
