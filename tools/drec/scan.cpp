#include "tools/drec/scan.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "player/walk.hpp"

namespace drec {
namespace {

// A BMP's headers, masks and palette lie in its first 1,174 bytes at most.
constexpr size_t kBmpPrefix = 2048;

struct ScanState {
  Progress progress;
  OpenedRecording* recording;
  ScanReport* report;
  const ScanCallbacks* callbacks;
  int64_t trianglesInFrame;
  int64_t chunkTriangles;
  int64_t chunkMarks;
  bool havePrevious;
  float previousTime;  // the last finite time stamp
};

Problem makeProblem(ProblemKind kind, int64_t segment, int64_t offset, int64_t frame) {
  Problem problem{};
  problem.kind = kind;
  problem.segment = segment;
  problem.offset = offset;
  problem.frame = frame;
  problem.recordOffset = -1;
  problem.otherSegment = -1;
  return problem;
}

void quotePlayer(Problem& problem, const PlayerMessages& messages) {
  std::string text = playerMessagesText(messages);
  std::snprintf(problem.playerMessage, sizeof problem.playerMessage, "%s", text.c_str());
}

void addProblem(ScanState& state, const Problem& problem) {
  ScanReport& out = *state.report;
  ++out.problemCount;
  if (out.problems.size() < kListedLimit) out.problems.push_back(problem);
  endProgress(state.progress);  // a problem line goes where the progress line was
  if (state.callbacks->problem) state.callbacks->problem(state.callbacks->context, *state.recording, problem);
}

void checkHeader(ScanState& state) {
  OpenedRecording& recording = *state.recording;
  ScanReport& out = *state.report;
  out.width = recording.header.width;
  out.height = recording.header.height;
  out.headerBytesPresent = recording.headerBytesPresent;
  if (out.headerBytesPresent < kHeaderSize) {
    Problem problem = makeProblem(ProblemKind::HeaderCutShort, 0, out.headerBytesPresent, -1);
    problem.value = out.headerBytesPresent;
    problem.limit = kHeaderSize;
    addProblem(state, problem);
  }
  if (out.width <= 0 || out.height <= 0) {
    Problem problem = makeProblem(ProblemKind::ScreenSize, 0, 4, -1);
    problem.value = out.width;
    problem.limit = out.height;
    addProblem(state, problem);
  }
}

// Each texture as the player's loading would meet it, in slot order.
void checkTextures(ScanState& state) {
  OpenedRecording& recording = *state.recording;
  const FileAccess& files = recording.files;
  uint8_t prefix[kBmpPrefix];
  for (int slot = 1; slot <= kTextureSlotCount; ++slot) {
    TextureSlotReport& entry = state.report->slots[slot];
    entry.key = recording.header.keys[slot];
    if (entry.key == 0) continue;
    Problem problem = makeProblem(ProblemKind::TextureMissing, 0, 8 * slot, -1);
    problem.slot = slot;
    const std::string path = texturePath(recording.texturesDirectory, entry.key);
    FileHandle file = files.open(files.context, path.c_str());
    if (file < 0) {
      addProblem(state, problem);
      continue;
    }
    entry.present = true;
    entry.fileSize = files.length(files.context, file);
    int64_t got = readBytes(files, file, prefix, static_cast<int64_t>(sizeof prefix));
    files.close(files.context, file);
    entry.description = describeBmp(prefix, static_cast<size_t>(got));
    const BmpHeader& header = entry.description.header;
    entry.description.rowsPresent = bmpRowsPresent(header, static_cast<uint64_t>(entry.fileSize));
    const BmpProblem why = header.problem;
    entry.fieldsKnown = why != BmpProblem::BadSignature && why != BmpProblem::CoreHeader &&
                        why != BmpProblem::BadHeaderSize &&
                        (why != BmpProblem::TruncatedHeader || header.depth != 0);
    if (!entry.description.decodable) {
      problem.kind = ProblemKind::TextureUndecodable;
      problem.detail = entry.description.problem;
    } else if (!entry.description.texture.fits) {
      problem.kind = ProblemKind::TextureUnusable;
      problem.detail = entry.description.texture.reason;
    } else if (entry.description.rowsPresent < header.height) {
      problem.kind = ProblemKind::TextureCutShort;
      problem.value = entry.description.rowsPresent;
      problem.limit = header.height;
    } else {
      continue;
    }
    addProblem(state, problem);
  }
}

void onTriangle(void* context, const uint8_t* record) {
  ScanState& state = *static_cast<ScanState*>(context);
  ScanReport& out = *state.report;
  const uint8_t triangleStateByte = record[1];
  ++out.triangles;
  ++out.slotTriangles[textureSlotOf(triangleStateByte)];
  ++out.blendTriangles[blendModeOf(triangleStateByte)];
  ++state.trianglesInFrame;
  ++state.chunkTriangles;
}

PaceResult onFrameMark(void* context, float time) {
  ScanState& state = *static_cast<ScanState*>(context);
  ScanReport& out = *state.report;
  const int64_t frame = out.frameMarks;
  ++out.frameMarks;
  ++state.chunkMarks;

  if (frame == 0) {
    out.trianglesMin = out.trianglesMax = state.trianglesInFrame;
  } else {
    out.trianglesMin = std::min(out.trianglesMin, state.trianglesInFrame);
    out.trianglesMax = std::max(out.trianglesMax, state.trianglesInFrame);
  }
  state.trianglesInFrame = 0;

  if (!std::isfinite(time)) {
    ++out.notFiniteCount;
    if (out.notFinite.size() < kListedLimit) out.notFinite.push_back({frame, time});
    return PaceResult::Continue;
  }
  // The player's clock starts at recording time 0: a first time stamp far
  // from 0 is a pause too.
  const float previous = state.havePrevious ? state.previousTime : 0.0f;
  const double interval = static_cast<double>(time) - static_cast<double>(previous);
  if (interval >= kPauseSeconds) {
    ++out.pauseCount;
    out.pauseSeconds += interval;
    out.pauseCutSeconds += interval - kPauseSeconds;
    if (out.pauses.size() < kListedLimit) out.pauses.push_back({frame, previous, time});
  } else if (state.havePrevious && interval < 0) {
    ++out.backwardCount;
    if (out.backward.size() < kListedLimit) out.backward.push_back({frame, previous, time});
  }
  if (out.finiteTimes == 0) out.firstTime = time;
  out.lastTime = time;
  ++out.finiteTimes;
  state.havePrevious = true;
  state.previousTime = time;
  return PaceResult::Continue;
}

// The walk ends early at a point record, an invalid type or a record that
// runs past the chunk: it walked records back to back from byte 0, so the
// record that ended it lies right after those it handed over.
void classifyWalkEnd(ScanState& state) {
  OpenedRecording& recording = *state.recording;
  const SegmentedStream& stream = recording.stream;
  ScanReport& out = *state.report;
  const int64_t walked = state.chunkTriangles * kTriangleSize + state.chunkMarks * kFrameMarkSize;
  const int64_t length = stream.recordLength;
  if (walked >= length) return;
  out.bytesNotWalked += length - walked;
  const uint8_t* record = stream.recordBuffer + walked;
  const uint8_t type = record[0];
  if (type == kRecordPointA || type == kRecordPointB) {
    ++out.pointRecords[type - kRecordPointA];
    return;
  }
  Problem problem = makeProblem(ProblemKind::InvalidRecordType, stream.chunkSegment,
                                stream.chunkOffset, out.frameMarks);
  problem.recordOffset = walked;
  problem.limit = length;
  if (type == kRecordTriangle || type == kRecordFrameMark) {
    problem.kind = ProblemKind::RecordPastChunk;
    problem.value = type;
    ++out.recordsPastChunk;
  } else {
    problem.value = length - walked >= 2 ? loadU16(record) : type;
    ++out.invalidRecords;
  }
  quotePlayer(problem, recording.messages);
  addProblem(state, problem);
}

bool segmentExists(const ScanReport& out, int64_t number) {
  for (const SegmentFile& file : out.segmentFiles)
    if (file.number == number) return true;
  return false;
}

bool filesBeyond(const ScanReport& out, int64_t number) {
  return !out.segmentFiles.empty() && out.segmentFiles.back().number > number;
}

int64_t firstBeyond(const ScanReport& out, int64_t number) {
  for (const SegmentFile& file : out.segmentFiles)
    if (file.number > number) return file.number;
  return -1;
}

// A chunk that ended the recording; true when reading stops.
bool reportStreamEnd(ScanState& state) {
  OpenedRecording& recording = *state.recording;
  const SegmentedStream& stream = recording.stream;
  ScanReport& out = *state.report;
  Problem problem = makeProblem(ProblemKind::ChunkCutShort, stream.chunkSegment, stream.chunkOffset,
                                out.frameMarks);
  problem.value = stream.chunkLength;
  switch (stream.chunkProblem) {
    case ChunkProblem::NegativeLength:
      problem.kind = ProblemKind::LengthNegative;
      break;
    case ChunkProblem::LengthOverLimit:
      problem.kind = ProblemKind::LengthOverLimit;
      break;
    case ChunkProblem::NextSegmentMissing:
      // Missing while later segment files exist: a gap in the numbering.
      // Missing with nothing after it: the recording is cut short there.
      problem.otherSegment = stream.segmentNumber;
      if (filesBeyond(out, stream.segmentNumber)) {
        problem.kind = ProblemKind::SegmentGap;
        problem.value = firstBeyond(out, stream.segmentNumber);
      } else {
        problem.value = stream.chunkBytesPresent;
        problem.limit = stream.chunkLength;
      }
      break;
    case ChunkProblem::CutShort:
      problem.value = stream.chunkBytesPresent;
      problem.limit = stream.chunkLength;
      break;
    default:
      return false;
  }
  quotePlayer(problem, recording.messages);
  addProblem(state, problem);
  return true;
}

void noteChunk(ScanState& state) {
  const SegmentedStream& stream = state.recording->stream;
  ScanReport& out = *state.report;
  ++out.chunks;
  out.compressedBytes += stream.chunkLength;
  out.decompressedBytes += stream.recordLength;
  out.largestCompressed = std::max<int64_t>(out.largestCompressed, stream.chunkLength);
  out.largestDecompressed = std::max<int64_t>(out.largestDecompressed, stream.recordLength);
  if (stream.chunkLength == 0) ++out.emptyChunks;
  if (stream.chunkProblem == ChunkProblem::InflateFailed ||
      stream.chunkProblem == ChunkProblem::RecordsOverLimit) {
    ++out.skippedChunks;
    Problem problem = makeProblem(stream.chunkProblem == ChunkProblem::InflateFailed
                                      ? ProblemKind::InflateFailed
                                      : ProblemKind::RecordsOverLimit,
                                  stream.chunkSegment, stream.chunkOffset, out.frameMarks);
    problem.value = stream.chunkLength;
    problem.limit = kMaxRecordLength;
    problem.detail = stream.inflater.msg;  // zlib's messages are static texts
    quotePlayer(problem, state.recording->messages);
    addProblem(state, problem);
  }
}

void readChunks(ScanState& state) {
  OpenedRecording& recording = *state.recording;
  SegmentedStream& stream = recording.stream;
  ScanReport& out = *state.report;
  int64_t totalBytes = 0;
  for (const SegmentFile& file : out.segmentFiles) totalBytes += file.size;
  Progress& progress = state.progress;
  startProgress(progress, "reading");

  const RecordHandlers handlers{&state, onTriangle, onFrameMark};
  out.end = StreamEnd::Complete;
  while (hasMoreData(stream)) {
    clearPlayerMessages(recording.messages);
    const ChunkOutcome outcome = nextChunk(stream);
    updateProgress(progress, stream.bytesConsumed + kHeaderSize, totalBytes);
    if (outcome != ChunkOutcome::Chunk) {
      reportStreamEnd(state);
      out.end = StreamEnd::Stopped;
      break;
    }
    noteChunk(state);
    state.chunkTriangles = 0;
    state.chunkMarks = 0;
    bool walkDamaged = false;
    walkRecords(stream.recordBuffer, stream.recordLength, handlers, recording.playerConsole,
                walkDamaged);
    classifyWalkEnd(state);
  }
  endProgress(progress);
  out.trianglesAfterLastMark = state.trianglesInFrame;
  out.lastSegmentRead = stream.chunkProblem == ChunkProblem::NextSegmentMissing
                            ? stream.segmentNumber - 1
                            : stream.segmentNumber;
  out.shorterSegmentEnded = out.end == StreamEnd::Complete && out.lastSegmentRead > 0 &&
                            !stream.multiSegment;
}

// Segment files after the last one read: the player never opens them.
void checkBeyond(ScanState& state) {
  const SegmentedStream& stream = state.recording->stream;
  ScanReport& out = *state.report;
  const int64_t last = out.lastSegmentRead;
  if (!filesBeyond(out, last)) return;
  const bool stoppedAtGap = stream.chunkProblem == ChunkProblem::NextSegmentMissing;
  if (!stoppedAtGap && !segmentExists(out, last + 1)) {
    int64_t lastSize = 0;
    for (const SegmentFile& file : out.segmentFiles)
      if (file.number == last) lastSize = file.size;
    Problem problem = makeProblem(ProblemKind::SegmentGap, last, lastSize, -1);
    problem.otherSegment = last + 1;
    problem.value = firstBeyond(out, last);
    addProblem(state, problem);
  }
  for (const SegmentFile& file : out.segmentFiles) {
    if (file.number <= last) continue;
    Problem problem = makeProblem(ProblemKind::UnreadSegment, file.number, 0, -1);
    problem.otherSegment = last;
    problem.value = file.size;
    if (!segmentExists(out, last + 1)) {
      problem.unreadReason = UnreadReason::Gap;
    } else if (out.end == StreamEnd::Stopped) {
      problem.unreadReason = UnreadReason::Stopped;
    } else if (out.shorterSegmentEnded) {
      problem.unreadReason = UnreadReason::ShorterSegment;
    } else {
      problem.unreadReason = UnreadReason::ExactEnd;
    }
    addProblem(state, problem);
  }
}

long long ll(int64_t value) { return static_cast<long long>(value); }

}  // namespace

const char* problemKindName(ProblemKind kind) {
  switch (kind) {
    case ProblemKind::HeaderCutShort: return "header_cut_short";
    case ProblemKind::ScreenSize: return "screen_size";
    case ProblemKind::TextureMissing: return "texture_missing";
    case ProblemKind::TextureUndecodable: return "texture_undecodable";
    case ProblemKind::TextureUnusable: return "texture_unusable";
    case ProblemKind::TextureCutShort: return "texture_cut_short";
    case ProblemKind::SegmentGap: return "segment_gap";
    case ProblemKind::ChunkCutShort: return "chunk_cut_short";
    case ProblemKind::LengthNegative: return "length_negative";
    case ProblemKind::LengthOverLimit: return "length_over_limit";
    case ProblemKind::InflateFailed: return "inflate_failed";
    case ProblemKind::RecordsOverLimit: return "records_over_limit";
    case ProblemKind::InvalidRecordType: return "invalid_record_type";
    case ProblemKind::RecordPastChunk: return "record_past_chunk";
    case ProblemKind::UnreadSegment: return "unread_segment";
  }
  return "unknown";
}

std::string problemFile(const OpenedRecording& recording, const Problem& problem) {
  return segmentName(recording.segmentTemplate, problem.segment);
}

std::string problemMessage(const OpenedRecording& recording, const Problem& problem) {
  std::string text;
  const std::string& name = recording.segmentTemplate;
  const std::string texture =
      problem.slot > 0 ? texturePath(recording.texturesDirectory, recording.header.keys[problem.slot]) : "";
  switch (problem.kind) {
    case ProblemKind::HeaderCutShort:
      appendFormat(text, "header cut short: %lld of its %lld bytes present", ll(problem.value),
                   ll(problem.limit));
      break;
    case ProblemKind::ScreenSize:
      appendFormat(text, "unusable screen size %lld x %lld: the player refuses the recording",
                   ll(problem.value), ll(problem.limit));
      break;
    case ProblemKind::TextureMissing:
      appendFormat(text, "texture slot %d: file missing: %s", problem.slot, texture.c_str());
      break;
    case ProblemKind::TextureUndecodable:
      appendFormat(text, "texture slot %d: %s cannot be decoded: %s", problem.slot, texture.c_str(),
                   problem.detail);
      break;
    case ProblemKind::TextureUnusable:
      appendFormat(text, "texture slot %d: %s gives no texture: %s", problem.slot, texture.c_str(),
                   problem.detail);
      break;
    case ProblemKind::TextureCutShort:
      appendFormat(text, "texture slot %d: %s cut short: %lld of %lld pixel rows present", problem.slot,
                   texture.c_str(), ll(problem.value), ll(problem.limit));
      break;
    case ProblemKind::SegmentGap:
      appendFormat(text, "gap in the segment numbering: %s is missing, %s exists",
                   segmentName(name, problem.otherSegment).c_str(),
                   segmentName(name, problem.value).c_str());
      if (problem.frame >= 0) text += "; the chunk here continues in the missing segment and the recording ends";
      break;
    case ProblemKind::ChunkCutShort:
      appendFormat(text, "chunk cut short: %lld of its %lld compressed bytes present; not walked",
                   ll(problem.value), ll(problem.limit));
      if (problem.otherSegment >= 0)
        appendFormat(text, "; it continues in %s, which does not exist",
                     segmentName(name, problem.otherSegment).c_str());
      break;
    case ProblemKind::LengthNegative:
      appendFormat(text, "length word %lld out of range (0 to %d): the recording ends here",
                   ll(problem.value), kMaxCompressedLength);
      break;
    case ProblemKind::LengthOverLimit:
      appendFormat(text, "length word %lld out of range (0 to %d): the player stops the program here",
                   ll(problem.value), kMaxCompressedLength);
      break;
    case ProblemKind::InflateFailed:
      appendFormat(text, "chunk of %lld compressed bytes does not decompress (%s); skipped",
                   ll(problem.value), problem.detail ? problem.detail : "its data ends early");
      break;
    case ProblemKind::RecordsOverLimit:
      appendFormat(text, "chunk decompresses to more than %lld bytes; skipped", ll(problem.limit));
      break;
    case ProblemKind::InvalidRecordType:
      appendFormat(text,
                   "invalid record type %lld at byte %lld of the chunk's %lld decompressed bytes; "
                   "the rest of the chunk is skipped",
                   ll(problem.value & 0xFF), ll(problem.recordOffset),
                   ll(problem.limit));
      break;
    case ProblemKind::RecordPastChunk:
      appendFormat(text,
                   "%s record at byte %lld runs past the end of the chunk's %lld decompressed bytes",
                   problem.value == kRecordTriangle ? "triangle" : "frame mark",
                   ll(problem.recordOffset), ll(problem.limit));
      break;
    case ProblemKind::UnreadSegment: {
      const std::string last = segmentName(name, problem.otherSegment);
      text = "segment file never read: ";
      switch (problem.unreadReason) {
        case UnreadReason::Gap:
          text += segmentName(name, problem.otherSegment + 1) + " is missing";
          break;
        case UnreadReason::Stopped:
          text += "the recording ends at the damage in " + last;
          break;
        case UnreadReason::ShorterSegment:
          text += last + " is shorter than " + segmentName(name, 0) + ", so the recording ends there";
          break;
        case UnreadReason::ExactEnd:
          text += "the recording ends exactly at the end of " + last;
          break;
      }
      break;
    }
  }
  if (problem.playerMessage[0]) appendFormat(text, " [player: \"%s\"]", problem.playerMessage);
  return text;
}

std::string problemLine(const OpenedRecording& recording, const Problem& problem) {
  std::string line = problemFile(recording, problem);
  appendFormat(line, ": byte %lld, frame %s: ", ll(problem.offset),
               decimalOrDash(problem.frame).c_str());
  line += problemMessage(recording, problem);
  line += '\n';
  return line;
}

double recordedDuration(const ScanReport& report) {
  if (report.finiteTimes < 2) return 0;
  return static_cast<double>(report.lastTime) - static_cast<double>(report.firstTime);
}

double meanFramesPerSecond(const ScanReport& report) {
  const double duration = recordedDuration(report);
  return duration > 0 ? static_cast<double>(report.finiteTimes - 1) / duration : 0;
}

double meanTrianglesPerFrame(const ScanReport& report) {
  if (report.frameMarks == 0) return 0;
  return static_cast<double>(report.triangles - report.trianglesAfterLastMark) /
         static_cast<double>(report.frameMarks);
}

void scanRecording(OpenedRecording& recording, ScanReport& report, const ScanCallbacks& callbacks) {
  ScanState state{};
  state.recording = &recording;
  state.report = &report;
  state.callbacks = &callbacks;
  report.segmentFiles = findSegmentFiles(recording.files, recording.segmentTemplate);
  checkHeader(state);
  checkTextures(state);
  readChunks(state);
  checkBeyond(state);
  for (int slot = 1; slot < 32; ++slot) report.slots[slot].triangles = report.slotTriangles[slot];
}

}  // namespace drec
