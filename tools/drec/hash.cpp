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
#include "tools/drec/json_writer.hpp"
#include "tools/drec/output.hpp"
#include "tools/drec/recording_files.hpp"
#include "tools/drec/subcommands.hpp"

namespace drec {
namespace {

const OptionSpec kHashOptions[] = {kTexturesOption, kAllowMissingTexturesOption, kQuietOption};
const OptionSpec kVerifyOptions[] = {kTexturesOption, kJsonOption, kAllowMissingTexturesOption,
                                     kQuietOption};

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
    "as a difference. Recorded times are not compared. With --json: one object\n"
    "with the counts compared and the first difference.\n"
    "Exit status: 0 every frame matches, 1 a difference or texture files are\n"
    "missing, 2 usage error or unreadable input.\n",
    kVerifyOptions, sizeof kVerifyOptions / sizeof kVerifyOptions[0], 2, 2};

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
  if (!countRecordingFrames(recording, run.frames)) return false;
  if (!openRendererFor(renderer, recording)) {
    return false;
  }
  run.renderer = &renderer;
  run.picture.assign(rgbFrameBytes(renderer), 0);
  run.differentFrame = -1;
  return true;
}

enum class Difference {
  None,         // every frame matches
  Hash,         // a frame that both have, hashed differently
  NotListed,    // a frame of the recording that the list does not have
  NotRecorded,  // a frame of the list that the recording does not have
};

// What verify found: the frames compared and the first difference.
struct VerifyOutcome {
  Difference difference;
  int64_t compared;  // frames drawn and looked up, the first difference included
  int64_t listed;
  int64_t frame;     // the first different one
  float time;        // its recorded time (not for NotRecorded)
  uint64_t hash;     // the recording's (not for NotRecorded)
  uint64_t expected;  // the list's (not for NotListed)
};

VerifyOutcome verifyOutcome(const HashRun& run, const FrameWalkResult& walk,
                            const std::vector<uint64_t>& expected) {
  VerifyOutcome outcome{};
  outcome.compared = walk.frames;
  outcome.listed = static_cast<int64_t>(expected.size());
  outcome.frame = run.differentFrame;
  outcome.time = run.differentTime;
  outcome.hash = run.differentHash;
  if (run.differentFrame >= 0) {
    outcome.difference = run.differentFrame < outcome.listed ? Difference::Hash : Difference::NotListed;
  } else if (walk.frames < outcome.listed) {
    outcome.difference = Difference::NotRecorded;
    outcome.frame = walk.frames;
  }
  if (outcome.frame >= 0 && outcome.frame < outcome.listed)
    outcome.expected = expected[static_cast<size_t>(outcome.frame)];
  return outcome;
}

struct VerifyNames {
  std::string recording;
  std::string list;
};

std::string verifyText(const VerifyNames& names, const VerifyOutcome& outcome) {
  const char* list = names.list.c_str();
  const double time = static_cast<double>(outcome.time);
  std::string text;
  switch (outcome.difference) {
    case Difference::Hash:
      appendFormat(text, "frame %" PRId64 " (recorded time %.6f s) differs: hash %s, %s has %s\n",
                   outcome.frame, time, hashText(outcome.hash).c_str(), list,
                   hashText(outcome.expected).c_str());
      break;
    case Difference::NotListed:
      appendFormat(text, "frame %" PRId64 " (recorded time %.6f s) is not in %s, which lists %s\n",
                   outcome.frame, time, list, counted(outcome.listed, "frame").c_str());
      break;
    case Difference::NotRecorded:
      appendFormat(text, "frame %" PRId64 " of %s is not in %s, which has %s\n", outcome.frame, list,
                   names.recording.c_str(), counted(outcome.compared, "frame").c_str());
      break;
    case Difference::None:
      text = names.recording + ": " + counted(outcome.compared, "frame") + " match " + names.list + "\n";
      break;
  }
  return text;
}

const char* differenceReason(Difference difference) {
  switch (difference) {
    case Difference::Hash: return "different hash";
    case Difference::NotListed: return "not in the list";
    case Difference::NotRecorded: return "not in the recording";
    case Difference::None: break;
  }
  return "";
}

std::string verifyJson(const VerifyNames& names, const VerifyOutcome& outcome) {
  std::string out;
  JsonWriter json = makeJsonWriter(out);
  const bool recorded = outcome.difference != Difference::NotRecorded;
  jsonBeginObject(json);
  jsonField(json, "recording", names.recording);
  jsonField(json, "hashes", names.list);
  jsonField(json, "frames_compared", outcome.compared);
  jsonField(json, "frames_listed", outcome.listed);
  jsonField(json, "match", outcome.difference == Difference::None);
  if (outcome.difference == Difference::None) {
    jsonKey(json, "first_difference");
    jsonNull(json);
  } else {
    jsonBeginObject(json, "first_difference");
    jsonField(json, "frame", outcome.frame);
    jsonField(json, "time", nullUnless(recorded, outcome.time));
    jsonField(json, "hash", nullUnless(recorded, hashText(outcome.hash)));
    jsonField(json, "expected_hash",
              nullUnless(outcome.difference != Difference::NotListed, hashText(outcome.expected)));
    jsonField(json, "reason", differenceReason(outcome.difference));
    jsonEndObject(json);
  }
  jsonEndObject(json);
  return out;
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
  const FrameWalkResult walk =
      drawEveryFrame(recording, renderer, &run, hashFrame, "hash", run.frames);
  return drawingStatus(walk.damaged ? kExitDamaged : kExitSuccess, renderer,
                       hasOption(kHashSpec, parsed, "--allow-missing-textures"));
}

int verifyCommand(const ParsedCommand& parsed) {
  const char* listPath = parsed.operands[1];
  HashList list{};
  if (!readHashList(listPath, list)) return kExitUsage;
  OpenedRecording recording;
  FrameRenderer renderer;
  HashRun run{};
  run.expected = &list.hashes;
  if (!startRun(kVerifySpec, parsed, recording, renderer, run)) return kExitUsage;
  const FrameWalkResult walk =
      drawEveryFrame(recording, renderer, &run, verifyFrame, "verify", run.frames);
  const VerifyOutcome outcome = verifyOutcome(run, walk, list.hashes);
  const VerifyNames names{recording.segmentTemplate, listPath};
  printOut(hasOption(kVerifySpec, parsed, "--json") ? verifyJson(names, outcome)
                                                    : verifyText(names, outcome));
  return drawingStatus(outcome.difference == Difference::None ? kExitSuccess : kExitDamaged,
                       renderer, hasOption(kVerifySpec, parsed, "--allow-missing-textures"));
}

}  // namespace drec
