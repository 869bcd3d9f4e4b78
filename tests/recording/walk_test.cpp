// The record walk over one chunk, and the chunk loop over a whole recording:
// stopping after a frame mark and going on, and starting again from a saved
// position.
#include "recording/walk.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recording/reader.hpp"
#include "tests/support/captured_console.hpp"
#include "tools/writer/memory_files.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

// One log entry: a letter, then the text. (Appended, not "T" + text: GCC 12
// at -O3 takes a one-character literal before a temporary string for an
// overlapping copy.)
std::string entry(char kind, const std::string& text) {
  std::string line(1, kind);
  line += text;
  return line;
}

// Logs what the walk handed on: "T<state>:<x of vertex 0>" per triangle,
// "M<time>" per mark; stops at the marks asked for.
struct WalkLog : ReadHooks {
  std::vector<std::string>* events;
  int stopAtMark = -1;  // the mark (0-based) that asks to stop; -2: every mark
  int marks = 0;

  void triangle(const uint8_t* record) {
    events->push_back(entry('T', std::to_string(record[1]) + ":" + std::to_string(record[4])));
  }
  RecordAction frameMark(float time) {
    events->push_back(entry('M', std::to_string(time)));
    const bool stop = stopAtMark == -2 || marks == stopAtMark;
    ++marks;
    return stop ? RecordAction::Stop : RecordAction::Continue;
  }
};

const TriangleVertex kVertices[3] = {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}, {13, 14, 15, 16, 17, 18}};

struct WalkCase {
  const char* name;
  Bytes records;
  uint32_t length;  // bytes handed to the walk (may be less than the buffer)
  uint32_t start;   // offset the walk starts at
  std::vector<std::string> events;
  WalkStop reason;
  uint32_t offset;
  std::string printed;  // the player's line for the end
};

TEST(RecordWalk, Table) {
  Bytes twoFrames;
  appendTriangle(twoFrames, 7, kVertices);
  appendFrameMark(twoFrames, 1.0f, 0xEE);
  appendTriangle(twoFrames, 9, kVertices);
  appendFrameMark(twoFrames, 2.0f);
  const uint32_t whole = static_cast<uint32_t>(twoFrames.size());

  // The first triangle, then the inserted bytes, then the rest.
  const auto afterFirst = twoFrames.begin() + kTriangleSize;
  Bytes withPoint(twoFrames.begin(), afterFirst);
  withPoint.push_back(kRecordPointB);
  withPoint.insert(withPoint.end(), afterFirst, twoFrames.end());

  Bytes withInvalid(twoFrames.begin(), afterFirst);
  withInvalid.push_back(0x00);
  withInvalid.push_back(0x01);
  withInvalid.insert(withInvalid.end(), afterFirst, twoFrames.end());

  const std::string pastEnd = "Record runs past the end of its chunk\n";
  const WalkCase cases[] = {
      {"all records", twoFrames, whole, 0, {"T7:3", "M1.000000", "T9:3", "M2.000000"},
       WalkStop::EndOfChunk, whole, ""},
      {"nothing", twoFrames, 0, 0, {}, WalkStop::EndOfChunk, 0, ""},
      {"from the second frame", twoFrames, whole, 34, {"T9:3", "M2.000000"}, WalkStop::EndOfChunk,
       whole, ""},
      {"start at the end", twoFrames, whole, whole, {}, WalkStop::EndOfChunk, whole, ""},
      {"mark one byte short", twoFrames, whole - 1, 0, {"T7:3", "M1.000000", "T9:3"},
       WalkStop::PastEnd, 60, pastEnd},
      {"triangle one byte short", twoFrames, 34 + 25, 0, {"T7:3", "M1.000000"}, WalkStop::PastEnd,
       34, pastEnd},
      {"triangle exactly at the end", twoFrames, 34 + 26, 0, {"T7:3", "M1.000000", "T9:3"},
       WalkStop::EndOfChunk, 60, ""},
      {"point stops the chunk", withPoint, static_cast<uint32_t>(withPoint.size()), 0, {"T7:3"},
       WalkStop::PointRecord, 26, "Points Not implemented!\n"},
      {"invalid type names the 16-bit value", withInvalid,
       static_cast<uint32_t>(withInvalid.size()), 0, {"T7:3"}, WalkStop::InvalidType, 26,
       "Unknown record type 256\n"},
      {"invalid type as the last byte", withInvalid, 27, 0, {"T7:3"}, WalkStop::InvalidType, 26,
       "Unknown record type 0\n"},
  };
  for (const WalkCase& row : cases) {
    std::vector<std::string> events;
    WalkLog log;
    log.events = &events;
    test::CapturedConsole printed;
    // Bytes past `length` are poisoned: the walk must never look at them.
    Bytes buffer = row.records;
    for (size_t i = row.length; i < buffer.size(); ++i) buffer[i] = 0x02;
    const WalkEnd end = walkRecords(buffer.data(), row.length, row.start, log);
    reportWalkEnd(end, test::capturingConsole(printed));
    EXPECT_EQ(row.events, events) << row.name;
    EXPECT_EQ(row.reason, end.reason) << row.name;
    EXPECT_EQ(row.offset, end.offset) << row.name;
    EXPECT_EQ(row.printed, printed.text) << row.name;
    EXPECT_EQ(row.reason == WalkStop::InvalidType || row.reason == WalkStop::PastEnd,
              walkMetDamage(end))
        << row.name;
  }
}

TEST(RecordWalk, StopsRightAfterTheMarkAndGoesOnFromThere) {
  Bytes records;
  appendFrameMark(records, 1.0f);
  appendTriangle(records, 3, kVertices);
  appendFrameMark(records, -0.5f);
  std::vector<std::string> events;
  WalkLog log;
  log.events = &events;
  log.stopAtMark = 0;
  const uint32_t length = static_cast<uint32_t>(records.size());
  const WalkEnd stopped = walkRecords(records.data(), length, 0, log);
  EXPECT_EQ(WalkStop::Stopped, stopped.reason);
  EXPECT_EQ(static_cast<uint32_t>(kFrameMarkSize), stopped.offset);
  EXPECT_EQ(std::vector<std::string>{"M1.000000"}, events);
  const WalkEnd rest = walkRecords(records.data(), length, stopped.offset, log);
  EXPECT_EQ(WalkStop::EndOfChunk, rest.reason);
  EXPECT_EQ((std::vector<std::string>{"M1.000000", "T3:3", "M-0.500000"}), events);
}

// Console lines go into the same log as the records, so that a comparison
// of logs also proves the messages and their place.
Console loggingConsole(std::vector<std::string>& events) {
  return Console{&events, [](void* context, const char* text, size_t length) {
                   static_cast<std::vector<std::string>*>(context)->push_back(
                       entry('P', std::string(text, length)));
                 }};
}

struct ReadingLog : WalkLog {
  const Console* console;
  std::vector<size_t> marksAt;             // event index of each mark
  std::vector<ReaderPosition> positions;  // the reader right after each mark
  void walkEnded(const WalkEnd& end) { reportWalkEnd(end, *console); }
};

struct Recording {
  const char* name;
  std::vector<Bytes> segments;
  const char* segmentTemplate;
};

// 40 frames of 1 to 9 triangles, chunks of about 200 record bytes (so that
// frames span chunks and chunks hold several marks), over 4 segments with
// chunks crossing from one to the next.
std::vector<Bytes> segmentedRecording(Bytes* whole = nullptr) {
  RecordingWriter writer;
  beginRecording(writer, 64, 48, TextureTable{}, 200);
  for (int frame = 0; frame < 40; ++frame) {
    for (int i = 0; i <= frame % 9; ++i) {
      TriangleVertex vertices[3] = {kVertices[0], kVertices[1], kVertices[2]};
      vertices[0].x = static_cast<uint8_t>(frame * 9 + i);
      writeTriangle(writer, triangleState(i, frame % 3), vertices);
    }
    writeFrameMark(writer, static_cast<float>(frame) / 30.0f);
    if (frame == 20) {
      writer.records.push_back(kRecordPointA);
      flushChunk(writer);
    }
  }
  const Bytes& stream = finishRecording(writer);
  if (whole) *whole = stream;
  return splitAt(stream, planSegmentCuts(stream, 4));
}

// Reads the whole recording, stopping after every mark when `stopEach`, or
// from `from` when given; returns how the reading ended.
ReadEnd readAll(const Recording& recording, bool stopEach, const ReaderPosition* from,
                ReadingLog& log, std::vector<std::string>& events) {
  MemoryFiles memory{};
  addSegmentsToMemory(memory, recording.segmentTemplate, recording.segments);
  const FileAccess files = memoryFileAccess(memory);
  const Console console = loggingConsole(events);
  SegmentedStream stream;
  uint8_t header[kHeaderSize];
  EXPECT_EQ(StartOutcome::Opened,
            startStream(stream, files, console, recording.segmentTemplate, header));
  createStreamBuffers(stream);
  RecordReader reader = startReader(stream);
  if (from) {
    EXPECT_TRUE(restoreReader(reader, *from));
  }
  log.events = &events;
  log.console = &console;
  log.stopAtMark = stopEach ? -2 : -1;
  for (;;) {
    const ReadEnd end = readRecords(reader, log);
    if (end != ReadEnd::Stopped) return end;
    log.marksAt.push_back(events.size());
    log.positions.push_back(readerPosition(reader));
  }
}

TEST(RecordReader, StopsAndGoesOnAndStartsAgainFromASavedPosition) {
  Bytes whole;
  std::vector<Bytes> segments = segmentedRecording(&whole);
  ASSERT_EQ(4u, segments.size());
  // The last segment cut inside its last chunk: it is not walked.
  std::vector<Bytes> cutShort = segments;
  cutShort[3].resize(cutShort[3].size() - 5);
  // Segment 2 missing: the chunk crossing into it ends with "Broken Stream".
  std::vector<Bytes> broken(segments.begin(), segments.begin() + 2);
  // A chunk that does not decompress (skipped with a message) in a single file.
  std::vector<ChunkSpan> spans = chunkSpans(whole);
  ASSERT_GT(spans.size(), 10u);
  Bytes damaged = whole;
  damaged[spans[5].dataOffset + 3] ^= 0x55;
  const Recording recordings[] = {
      {"segmented", segments, "s.%i.rec"},
      {"last chunk cut short", cutShort, "c.%i.rec"},
      {"missing segment", broken, "b.%i.rec"},
      {"damaged chunk", {damaged}, "d.rec"},
  };
  for (const Recording& recording : recordings) {
    std::vector<std::string> straight;
    ReadingLog straightLog;
    const ReadEnd straightEnd = readAll(recording, false, nullptr, straightLog, straight);
    std::vector<std::string> stopping;
    ReadingLog stoppingLog;
    const ReadEnd stoppingEnd = readAll(recording, true, nullptr, stoppingLog, stopping);
    EXPECT_EQ(straight, stopping) << recording.name;
    EXPECT_EQ(straightEnd, stoppingEnd) << recording.name;
    ASSERT_GT(stoppingLog.positions.size(), 10u) << recording.name;

    // From every saved position: exactly the rest of the straight reading.
    for (size_t mark = 0; mark < stoppingLog.positions.size(); ++mark) {
      std::vector<std::string> resumed;
      ReadingLog resumedLog;
      const ReadEnd end =
          readAll(recording, false, &stoppingLog.positions[mark], resumedLog, resumed);
      const auto from = straight.begin() + static_cast<long>(stoppingLog.marksAt[mark]);
      const std::vector<std::string> rest(from, straight.end());
      EXPECT_EQ(rest, resumed) << recording.name << ", from mark " << mark;
      EXPECT_EQ(straightEnd, end) << recording.name << ", from mark " << mark;
    }
  }
}

}  // namespace
}  // namespace drec
