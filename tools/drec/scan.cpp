#include "tools/drec/scan.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "recording/reader.hpp"

namespace drec {
namespace {

struct ScanState {
  Progress progress;
  OpenedRecording* recording;
  ScanReport* report;
  const ScanCallbacks* callbacks;
  int64_t trianglesInFrame;
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
  uint8_t prefix[kBmpHeaderPrefixSize];
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

void onTriangle(ScanState& state, const uint8_t* record) {
  ScanReport& out = *state.report;
  const uint8_t triangleStateByte = record[1];
  ++out.triangles;
  ++out.slotTriangles[textureSlotOf(triangleStateByte)];
  ++out.blendTriangles[blendModeOf(triangleStateByte)];
  ++state.trianglesInFrame;
}

void onFrameMark(ScanState& state, float time) {
  ScanReport& out = *state.report;
  const int64_t frame = out.frameMarks;
  ++out.frameMarks;

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
    return;
  }
  // The player's clock starts at recording time 0: a first time stamp far
  // from 0 is a pause too.
  const float previous = state.havePrevious ? state.previousTime : 0.0f;
  const double interval = static_cast<double>(time) - static_cast<double>(previous);
  if (interval >= kPauseThreshold) {
    ++out.pauseCount;
    out.pauseSeconds += interval;
    out.pauseCutSeconds += interval - kPauseThreshold;
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
}

// A walk that ended before the end of its chunk: at a point record, an
// invalid type or a record that runs past the chunk.
void classifyWalkEnd(ScanState& state, const WalkEnd& end) {
  OpenedRecording& recording = *state.recording;
  const SegmentedStream& stream = recording.stream;
  ScanReport& out = *state.report;
  if (end.reason == WalkStop::EndOfChunk || end.reason == WalkStop::Stopped) return;
  const int64_t length = stream.recordLength;
  out.bytesNotWalked += length - end.offset;
  if (end.reason == WalkStop::PointRecord) {
    ++out.pointRecords[end.type - kRecordPointA];
    return;
  }
  Problem problem = makeProblem(ProblemKind::InvalidRecordType, stream.chunkStart.segmentNumber,
                                stream.chunkStart.filePosition, out.frameMarks);
  problem.recordOffset = end.offset;
  problem.limit = length;
  if (end.reason == WalkStop::PastEnd) {
    problem.kind = ProblemKind::RecordPastChunk;
    problem.value = end.type;
    ++out.recordsPastChunk;
  } else {
    problem.value = end.typeValue;
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
  Problem problem = makeProblem(ProblemKind::ChunkCutShort, stream.chunkStart.segmentNumber,
                                stream.chunkStart.filePosition, out.frameMarks);
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
                                  stream.chunkStart.segmentNumber, stream.chunkStart.filePosition,
                                  out.frameMarks);
    problem.value = stream.chunkLength;
    problem.limit = kMaxRecordLength;
    problem.detail = stream.inflater.msg;  // zlib's messages are static texts
    quotePlayer(problem, state.recording->messages);
    addProblem(state, problem);
  }
}

// The frames are not known before this reading: how far it is comes from
// the bytes read.
void showProgress(ScanState& state, const SegmentedStream& stream, int64_t totalBytes) {
  const double done = static_cast<double>(stream.bytesConsumed + kHeaderSize);
  updateProgress(state.progress, state.report->frameMarks, 0,
                 totalBytes > 0 ? done / static_cast<double>(totalBytes) : 0.0);
}

// The chunk loop's handler: every record counted, every chunk noted.
struct ScanWalk : ReadHooks {
  ScanState* state;
  int64_t totalBytes;

  bool beforeChunk() {
    clearPlayerMessages(state->recording->messages);
    return true;
  }
  void chunkRead(const SegmentedStream& stream) {
    showProgress(*state, stream, totalBytes);
    noteChunk(*state);
  }
  void triangle(const uint8_t* record) { onTriangle(*state, record); }
  RecordAction frameMark(float time) {
    onFrameMark(*state, time);
    return RecordAction::Continue;
  }
  void walkEnded(const WalkEnd& end) {
    reportWalkEnd(end, state->recording->playerConsole);
    classifyWalkEnd(*state, end);
  }
};

void readChunks(ScanState& state) {
  OpenedRecording& recording = *state.recording;
  SegmentedStream& stream = recording.stream;
  ScanReport& out = *state.report;
  ScanWalk walk{};
  walk.state = &state;
  for (const SegmentFile& file : out.segmentFiles) walk.totalBytes += file.size;
  startProgress(state.progress, "reading", recording.quiet);

  RecordReader reader = startReader(stream);
  out.end = StreamEnd::Complete;
  if (readRecords(reader, walk) != ReadEnd::Complete) {
    showProgress(state, stream, walk.totalBytes);
    reportStreamEnd(state);
    out.end = StreamEnd::Stopped;
  }
  endProgress(state.progress);
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

}  // namespace

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

const char* blendModeName(int mode) {
  switch (mode) {
    case 0: return "opaque";
    case 1: return "alpha blended";
    case 2: return "colour unchanged";
    default: return "as the previous triangle";
  }
}

}  // namespace drec
