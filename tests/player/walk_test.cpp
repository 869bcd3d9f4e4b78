#include "player/walk.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/captured_console.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

// Logs what the walk handed on: "T<state>" per triangle, "M<time>" per mark.
struct WalkLog {
  std::vector<std::string> events;
  int quitAtMark = -1;  // the mark (0-based) that answers Quit
  int marks = 0;
};

std::string event(char kind, int value) {
  std::string text(1, kind);
  text += std::to_string(value);
  return text;
}

RecordHandlers loggingHandlers(WalkLog& log) {
  return RecordHandlers{
      &log,
      [](void* context, const uint8_t* record) {
        static_cast<WalkLog*>(context)->events.push_back(event('T', record[1]));
      },
      [](void* context, float time) {
        WalkLog& self = *static_cast<WalkLog*>(context);
        self.events.push_back(event('M', static_cast<int>(time)));
        return self.marks++ == self.quitAtMark ? PaceResult::Quit : PaceResult::Continue;
      }};
}

const TriangleVertex kVertices[3] = {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}, {13, 14, 15, 16, 17, 18}};

struct WalkCase {
  const char* name;
  Bytes records;
  uint32_t length;  // bytes handed to the walk (may be less than the buffer)
  std::vector<std::string> events;
  std::string printed;
  bool damaged;
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

  const WalkCase cases[] = {
      {"all records", twoFrames, whole, {"T7", "M1", "T9", "M2"}, "", false},
      {"nothing", twoFrames, 0, {}, "", false},
      {"mark one byte short", twoFrames, whole - 1, {"T7", "M1", "T9"},
       "Record runs past the end of its chunk\n", true},
      {"triangle one byte short", twoFrames, 34 + 25, {"T7", "M1"},
       "Record runs past the end of its chunk\n", true},
      {"triangle exactly at the end", twoFrames, 34 + 26, {"T7", "M1", "T9"}, "", false},
      {"point stops the chunk", withPoint, static_cast<uint32_t>(withPoint.size()), {"T7"},
       "Points Not implemented!\n", false},
      {"invalid type names the 16-bit value", withInvalid, static_cast<uint32_t>(withInvalid.size()),
       {"T7"}, "Unknown record type 256\n", true},
      {"invalid type as the last byte", withInvalid, 27, {"T7"}, "Unknown record type 0\n", true},
  };
  for (const WalkCase& row : cases) {
    WalkLog log;
    test::CapturedConsole printed;
    Console console = test::capturingConsole(printed);
    bool damaged = false;
    // Bytes past `length` are poisoned: the walk must never look at them.
    Bytes buffer = row.records;
    for (size_t i = row.length; i < buffer.size(); ++i) buffer[i] = 0x02;
    WalkResult result = walkRecords(buffer.data(), row.length, loggingHandlers(log), console, damaged);
    EXPECT_EQ(WalkResult::EndOfChunk, result) << row.name;
    EXPECT_EQ(row.events, log.events) << row.name;
    EXPECT_EQ(row.printed, printed.text) << row.name;
    EXPECT_EQ(row.damaged, damaged) << row.name;
  }
}

TEST(RecordWalk, QuitFromThePacerStopsAtOnce) {
  Bytes records;
  appendFrameMark(records, 1.0f);
  appendTriangle(records, 3, kVertices);
  appendFrameMark(records, 2.0f);
  WalkLog log;
  log.quitAtMark = 0;
  test::CapturedConsole printed;
  Console console = test::capturingConsole(printed);
  bool damaged = false;
  EXPECT_EQ(WalkResult::Quit, walkRecords(records.data(), static_cast<uint32_t>(records.size()),
                                          loggingHandlers(log), console, damaged));
  EXPECT_EQ(std::vector<std::string>{"M1"}, log.events);
}

TEST(RecordWalk, HandsTheTimeStampAsRecorded) {
  Bytes records;
  appendFrameMark(records, -0.5f);
  float seen = 0;
  RecordHandlers handlers{&seen, [](void*, const uint8_t*) {},
                          [](void* context, float time) {
                            *static_cast<float*>(context) = time;
                            return PaceResult::Continue;
                          }};
  test::CapturedConsole printed;
  Console console = test::capturingConsole(printed);
  bool damaged = false;
  walkRecords(records.data(), 8, handlers, console, damaged);
  EXPECT_EQ(-0.5f, seen);
}

}  // namespace
}  // namespace drec
