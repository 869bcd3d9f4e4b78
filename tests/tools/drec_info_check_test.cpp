// drec info and drec check, run as the built program on recordings the tests
// write with the one recording writer: every count and statistic against
// what was written (one file, several segments, frames across chunks,
// pauses, time stamps out of order or not finite), each kind of damage with
// its segment file, byte offset, frame and exit status, --json parsed back,
// the texture folder rule, and usage errors. The conventions the subcommands
// share (options, numbers, paths, segment files, JSON) are tested in process.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "recording/format.hpp"
#include "recording/stream.hpp"
#include "tests/support/drec_tool.hpp"
#include "tests/support/json_reader.hpp"
#include "tests/support/test_paths.hpp"
#include "tools/demo/demo_scene.hpp"
#include "tools/drec/json_writer.hpp"
#include "tools/drec/command_line.hpp"
#include "tools/drec/output.hpp"
#include "tools/drec/recording_files.hpp"
#include "tools/drec/subcommands.hpp"
#include "tools/writer/bmp_writer.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

using test::argumentText;
using test::DrecResult;
using test::Json;
using test::lines;
using test::parseJson;
using test::runDrec;

// The JSON reader the --json checks rely on.

TEST(JsonReader, ReadsWhatTheTestsNeedAndRefusesBrokenText) {
  Json value;
  ASSERT_TRUE(parseJson("{\"a\": [1, -2.5, \"x\\\"y\"], \"b\": {\"c\": null, \"d\": true}}\n", value));
  EXPECT_EQ(1, value["a"][0].integer());
  EXPECT_EQ(-2.5, value["a"][1].number);
  EXPECT_EQ("x\"y", value["a"][2].text);
  EXPECT_EQ(Json::Null, value["b"]["c"].kind);
  EXPECT_TRUE(value["b"]["d"].boolean);
  for (const char* broken :
       {"{\"a\": 1,}", "[1 2]", "[1,]", "{\"a\" 1}", "{\"a\": 1", "{\"a\": 1} x", "\"open", ""}) {
    Json ignored;
    EXPECT_FALSE(parseJson(broken, ignored)) << broken;
  }
}

// The shared conventions, in process.

TEST(ToolConventions, TextureFolderRule) {
  const struct { const char* recording; const char* option; const char* folder; } rows[] = {
      {"Video/Stream/a.rec", nullptr, "Video/TexDump/"},
      {"x/Video/Stream/a.%i.rec", nullptr, "x/Video/TexDump/"},
      {"/abs/x/Video/Stream/a.rec", nullptr, "/abs/x/Video/TexDump/"},
      {"./Video/Stream/a.rec", nullptr, "./Video/TexDump/"},
      {"MyVideo/Stream/a.rec", nullptr, "Video/TexDump/"},
      {"Video/Stream/sub/a.rec", nullptr, "Video/TexDump/"},
      {"Video/Streams/a.rec", nullptr, "Video/TexDump/"},
      {"a.rec", nullptr, "Video/TexDump/"},
      {"/a.rec", nullptr, "Video/TexDump/"},
      {"x/Video/Stream/a.rec", "tex", "tex/"},
      {"x/Video/Stream/a.rec", "tex/", "tex/"},
      {"a.rec", "/t", "/t/"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(row.folder, texturesDirectoryFor(row.recording, row.option)) << row.recording;
  EXPECT_EQ("d/0000000000000001.bmp", texturePath("d/", 1));
  EXPECT_EQ("FEDCBA9876543210.bmp", texturePath("", 0xFEDCBA9876543210ull));
}

TEST(ToolConventions, WholeAndDecimalNumbers) {
  const struct { const char* text; bool ok; int64_t value; } integers[] = {
      {"0", true, 0}, {"-12", true, -12}, {"+5", true, 5}, {"123456789012", true, 123456789012},
      {"", false, 0}, {" 1", false, 0}, {"1x", false, 0}, {"1.0", false, 0},
      {"99999999999999999999", false, 0},
  };
  for (const auto& row : integers) {
    int64_t value = -777;
    EXPECT_EQ(row.ok, parseInteger(row.text, value)) << "\"" << row.text << "\"";
    EXPECT_EQ(row.ok ? row.value : -777, value) << "\"" << row.text << "\"";
  }
  const struct { const char* text; bool ok; double value; } numbers[] = {
      {"2.5", true, 2.5}, {"-0.25", true, -0.25}, {"1e3", true, 1000}, {"30", true, 30},
      {"", false, 0}, {"nan", false, 0}, {"inf", false, 0}, {"1.5s", false, 0}, {"1e999", false, 0},
  };
  for (const auto& row : numbers) {
    double value = -777;
    EXPECT_EQ(row.ok, parseNumber(row.text, value)) << "\"" << row.text << "\"";
    EXPECT_EQ(row.ok ? row.value : -777, value) << "\"" << row.text << "\"";
  }
  EXPECT_EQ("0 frames", counted(0, "frame"));
  EXPECT_EQ("1 frame", counted(1, "frame"));
  EXPECT_EQ("2 frames", counted(2, "frame"));
  EXPECT_EQ("-", decimalOrDash(-1));
  EXPECT_EQ("0", decimalOrDash(0));
}

TEST(ToolConventions, OptionsAndOperandsInAnyOrder) {
  const OptionSpec options[] = {kTexturesOption, kJsonOption, {"--frames", "A-B", "frames"}};
  const CommandSpec command{"demo", "REC", "", options, 3, 1, 1};
  struct Row {
    std::vector<std::string> arguments;  // after the subcommand's name
    ParseResult result;
    const char* operand;   // when Run
    const char* textures;  // value, or null when absent
    bool json;
    const char* frames;
  };
  const Row rows[] = {
      {{"--json", "a"}, ParseResult::Run, "a", nullptr, true, nullptr},
      {{"a", "--textures", "d", "--frames=3-9"}, ParseResult::Run, "a", "d", false, "3-9"},
      {{"--textures=d=e", "a"}, ParseResult::Run, "a", "d=e", false, nullptr},
      {{"--textures=", "a"}, ParseResult::Run, "a", "", false, nullptr},
      {{"--textures", "--json", "a"}, ParseResult::Run, "a", "--json", false, nullptr},
      {{"--json", "--json", "a"}, ParseResult::Run, "a", nullptr, true, nullptr},
      {{"--", "--json"}, ParseResult::Run, "--json", nullptr, false, nullptr},
      {{"-"}, ParseResult::Run, "-", nullptr, false, nullptr},
      {{}, ParseResult::UsageError, nullptr, nullptr, false, nullptr},
      {{"a", "b"}, ParseResult::UsageError, nullptr, nullptr, false, nullptr},
      {{"--bogus", "a"}, ParseResult::UsageError, nullptr, nullptr, false, nullptr},
      {{"--js", "a"}, ParseResult::UsageError, nullptr, nullptr, false, nullptr},
      {{"a", "--frames"}, ParseResult::UsageError, nullptr, nullptr, false, nullptr},
      {{"--json=1", "a"}, ParseResult::UsageError, nullptr, nullptr, false, nullptr},
  };
  for (const Row& row : rows) {
    std::vector<std::string> words = {"demo"};
    words.insert(words.end(), row.arguments.begin(), row.arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    const std::string name = argumentText(row.arguments);
    ParsedCommand parsed;
    EXPECT_EQ(row.result, parseCommand(command, static_cast<int>(argv.size()), argv.data(), parsed)) << name;
    if (row.result != ParseResult::Run) continue;
    ASSERT_EQ(1u, parsed.operands.size()) << name;
    EXPECT_STREQ(row.operand, parsed.operands[0]) << name;
    const char* textures = optionValue(command, parsed, "--textures");
    EXPECT_EQ(row.textures == nullptr, textures == nullptr) << name;
    if (row.textures && textures) {
      EXPECT_STREQ(row.textures, textures) << name;
    }
    EXPECT_EQ(row.json, hasOption(command, parsed, "--json")) << name;
    const char* frames = optionValue(command, parsed, "--frames");
    EXPECT_EQ(row.frames == nullptr, frames == nullptr) << name;
    if (row.frames && frames) {
      EXPECT_STREQ(row.frames, frames) << name;
    }
  }
}

TEST(ToolConventions, SegmentFilesByNumberNotByName) {
  test::TempDirectory folder;
  const FileAccess files = realFileAccess();
  const std::string sub = folder.path + "/sub/";
  const struct { const char* name; size_t size; } written[] = {
      {"q.0.rec", 10}, {"q.1.rec", 11}, {"q.10.rec", 12}, {"q.3.rec", 13},
      {"q.01.rec", 1}, {"q.x.rec", 1}, {"q.2.rec.bak", 1}, {"q.-1.rec", 1}, {"q..rec", 1}, {"xq.4.rec", 1},
  };
  for (const auto& file : written) ASSERT_TRUE(writeBytesToFile(sub + file.name, Bytes(file.size, 7)));
  ASSERT_TRUE(test::makeDirectories(sub + "q.5.rec"));  // a folder is no segment file
  std::vector<SegmentFile> found = findSegmentFiles(files, sub + "q.%i.rec");
  const SegmentFile expected[] = {{0, 10}, {1, 11}, {3, 13}, {10, 12}};
  ASSERT_EQ(4u, found.size());
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(expected[i].number, found[i].number) << i;
    EXPECT_EQ(expected[i].size, found[i].size) << i;
  }
  // Without "%i": the one file, if it exists.
  ASSERT_EQ(1u, findSegmentFiles(files, sub + "q.3.rec").size());
  EXPECT_EQ(0, findSegmentFiles(files, sub + "q.3.rec")[0].number);
  EXPECT_TRUE(findSegmentFiles(files, sub + "none.rec").empty());
  // "%i" naming a folder: numbers are looked at in turn.
  for (const char* name : {"d0/x.rec", "d1/x.rec", "d4/x.rec"})
    ASSERT_TRUE(writeBytesToFile(folder.path + "/" + name, Bytes(3, 1)));
  found = findSegmentFiles(files, folder.path + "/d%i/x.rec");
  ASSERT_EQ(3u, found.size());
  EXPECT_EQ(4, found[2].number);
}

TEST(ToolConventions, JsonWriterOutputReadsBack) {
  std::string out;
  JsonWriter json = makeJsonWriter(out);
  jsonBeginObject(json);
  jsonKey(json, "text");
  jsonString(json, std::string("q\"b\\n\nt\tc\x01\x7f%i\0z", 15));
  jsonKey(json, "empty_list");
  jsonBeginArray(json);
  jsonEndArray(json);
  jsonKey(json, "empty_object");
  jsonBeginObject(json);
  jsonEndObject(json);
  jsonKey(json, "numbers");
  jsonBeginArray(json);
  jsonInteger(json, -9007199254740991);
  jsonNumber(json, 2.5);
  jsonNumber(json, std::nan(""));
  jsonFloat(json, 0.1f);
  jsonFloat(json, 16777215.0f);
  jsonFloat(json, -std::numeric_limits<float>::infinity());
  jsonBool(json, false);
  jsonNull(json);
  jsonEndArray(json);
  jsonEndObject(json);
  Json value;
  ASSERT_TRUE(parseJson(out, value)) << out;
  EXPECT_EQ(std::string("q\"b\\n\nt\tc\x01\x7f%i\0z", 15), value["text"].text);
  EXPECT_EQ(Json::Array, value["empty_list"].kind);
  EXPECT_EQ(0u, value["empty_list"].size());
  EXPECT_EQ(Json::Object, value["empty_object"].kind);
  const Json& numbers = value["numbers"];
  ASSERT_EQ(8u, numbers.size());
  EXPECT_EQ(-9007199254740991.0, numbers[0].number);
  EXPECT_EQ(2.5, numbers[1].number);
  EXPECT_EQ(Json::Null, numbers[2].kind);
  EXPECT_EQ(0.1f, static_cast<float>(numbers[3].number));
  EXPECT_EQ(16777215.0f, static_cast<float>(numbers[4].number));
  EXPECT_EQ(Json::Null, numbers[5].kind);
  EXPECT_EQ(Json::Bool, numbers[6].kind);
  EXPECT_EQ(Json::Null, numbers[7].kind);
  EXPECT_EQ('\n', out.back());
}

TEST(ToolConventions, JsonFieldsWriteEachValueAsItsTypeAsks) {
  using Write = void (*)(JsonWriter&);
  struct Row {
    const char* name;
    Write write;
    const char* expected;  // between "{\n  " and "\n}\n"
  };
  const Row rows[] = {
      {"int", [](JsonWriter& j) { jsonField(j, "k", -7); }, "\"k\": -7"},
      {"uint32", [](JsonWriter& j) { jsonField(j, "k", uint32_t{4294967295u}); }, "\"k\": 4294967295"},
      {"size_t", [](JsonWriter& j) { jsonField(j, "k", size_t{1} << 40); }, "\"k\": 1099511627776"},
      {"int64", [](JsonWriter& j) { jsonField(j, "k", INT64_MIN); }, "\"k\": -9223372036854775808"},
      {"double", [](JsonWriter& j) { jsonField(j, "k", 1.0 / 3); }, "\"k\": 0.333333333333"},
      {"float", [](JsonWriter& j) { jsonField(j, "k", 0.1f); }, "\"k\": 0.100000001"},
      {"double nan", [](JsonWriter& j) { jsonField(j, "k", std::nan("")); }, "\"k\": null"},
      {"bools", [](JsonWriter& j) { jsonField(j, "a", true); jsonField(j, "b", 1 > 2); },
       "\"a\": true,\n  \"b\": false"},
      {"char pointer", [](JsonWriter& j) { jsonField(j, "k", "q\"b"); }, "\"k\": \"q\\\"b\""},
      {"std::string", [](JsonWriter& j) { jsonField(j, "k", std::string("s\n")); }, "\"k\": \"s\\n\""},
      {"null unless false", [](JsonWriter& j) { jsonField(j, "k", nullUnless(false, "x")); }, "\"k\": null"},
      {"null unless true", [](JsonWriter& j) { jsonField(j, "k", nullUnless(true, "x")); }, "\"k\": \"x\""},
      {"float unless", [](JsonWriter& j) { jsonField(j, "k", nullUnless(true, 0.1f)); }, "\"k\": 0.100000001"},
      {"object", [](JsonWriter& j) { jsonBeginObject(j, "o"); jsonField(j, "a", 1); jsonEndObject(j); },
       "\"o\": {\n    \"a\": 1\n  }"},
      {"list", [](JsonWriter& j) {
         jsonObjectList(j, "l", std::vector<int>{4, 5}, [&j](int v) { jsonField(j, "v", v); });
       }, "\"l\": [\n    {\n      \"v\": 4\n    },\n    {\n      \"v\": 5\n    }\n  ]"},
      {"empty list", [](JsonWriter& j) {
         jsonObjectList(j, "l", std::vector<int>{}, [&j](int v) { jsonField(j, "v", v); });
         jsonBeginArray(j, "a");
         jsonEndArray(j);
       }, "\"l\": [],\n  \"a\": []"},
  };
  for (const Row& row : rows) {
    std::string out;
    JsonWriter json = makeJsonWriter(out);
    jsonBeginObject(json);
    row.write(json);
    jsonEndObject(json);
    EXPECT_EQ(std::string("{\n  ") + row.expected + "\n}\n", out) << row.name;
  }
}

TEST(ToolConventions, JsonStringsPassUtf8AndEscapeEveryOtherByteAsLatin1) {
  const struct { const char* name; std::string bytes; const char* written; } rows[] = {
      {"two bytes", "\xc3\xa9", "\xc3\xa9"},
      {"three bytes", "\xe2\x82\xac", "\xe2\x82\xac"},
      {"four bytes", "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
      {"last before the surrogates", "\xed\x9f\xbf", "\xed\x9f\xbf"},
      {"first after them", "\xee\x80\x80", "\xee\x80\x80"},
      {"U+10FFFF", "\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf"},
      {"bytes that start nothing", "\xff\xfe", "\\u00ff\\u00fe"},
      {"a lone continuation byte", "a\x80" "b", "a\\u0080b"},
      {"overlong slash", "\xc0\xaf", "\\u00c0\\u00af"},
      {"overlong in three bytes", "\xe0\x80\xaf", "\\u00e0\\u0080\\u00af"},
      {"overlong in four bytes", "\xf0\x8f\xbf\xbf", "\\u00f0\\u008f\\u00bf\\u00bf"},
      {"a surrogate", "\xed\xa0\x80", "\\u00ed\\u00a0\\u0080"},
      {"above U+10FFFF", "\xf4\x90\x80\x80", "\\u00f4\\u0090\\u0080\\u0080"},
      {"F5", "\xf5\x80\x80\x80", "\\u00f5\\u0080\\u0080\\u0080"},
      {"cut short by the end", "x\xe2\x82", "x\\u00e2\\u0082"},
      {"cut short by ASCII, then whole", "\xe2(\xc3\xa9", "\\u00e2(\xc3\xa9"},
      {"cut short by a quote", "\xc3\"", "\\u00c3\\\""},
  };
  for (const auto& row : rows) {
    std::string out;
    JsonWriter json = makeJsonWriter(out);
    jsonString(json, row.bytes);
    std::string quoted = "\"";
    quoted += row.written;
    quoted += '"';
    EXPECT_EQ(quoted, out) << row.name;
  }
}

// Running the built tool.

// info --json, parsed; the exit status is checked against `status`. The
// horizon, which needs an OpenGL context, is left out here (seek_test reads it).
Json infoJson(const std::string& recording, const std::string& folder, int status,
              const std::vector<std::string>& extra = {}) {
  std::vector<std::string> arguments = {"info", "--json", "--no-horizon", recording};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  DrecResult result = runDrec(arguments, folder);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(status, result.status) << result.out << result.err;
  EXPECT_EQ("", result.err);
  Json json;
  EXPECT_TRUE(parseJson(result.out, json)) << result.out;
  return json;
}

// A row's name as a test name: letters and digits, the rest "_".
std::string testName(std::string name) {
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

// Writing recordings.

constexpr TriangleVertex kCorners[3] = {{0, 0, 10, 10, 65535, 0xFF00},
                                        {255, 0, 200, 10, 32768, 0xF0F0},
                                        {0, 255, 10, 200, 1000, 0xF00F}};

Bytes triangleRecord(uint8_t state) {
  Bytes records;
  appendTriangle(records, state, kCorners);
  return records;
}

Bytes frameRecords(int triangles, float time, uint8_t state = triangleState(0, 0)) {
  Bytes records;
  for (int i = 0; i < triangles; ++i) appendTriangle(records, state, kCorners);
  appendFrameMark(records, time);
  return records;
}

TextureTable noKeys() { return TextureTable{}; }

// A stream built chunk by chunk, remembering where each chunk starts.
struct StreamBuilder {
  Bytes stream;
  std::vector<size_t> chunkOffsets;  // stream offset of each chunk's length word

  explicit StreamBuilder(const TextureTable& keys = noKeys(), int16_t width = 320, int16_t height = 200)
      : stream(headerBytes(width, height, keys)) {}
  void chunk(const Bytes& records) {
    chunkOffsets.push_back(stream.size());
    appendChunk(stream, records);
  }
  void raw(int32_t lengthWord, const Bytes& payload) {
    chunkOffsets.push_back(stream.size());
    appendRawChunk(stream, lengthWord, payload);
  }
  // `count` chunks of one frame each, frame n at n / 64 s, with 3 triangles.
  void frames(int count, int firstFrame = 0) {
    for (int i = 0; i < count; ++i) chunk(frameRecords(3, static_cast<float>(firstFrame + i) / 64.0f));
  }
};

// The chunk whose compressed bytes hold stream offset `offset`.
size_t chunkHolding(const Bytes& stream, size_t offset) {
  std::vector<ChunkSpan> spans = chunkSpans(stream);
  for (size_t i = 0; i < spans.size(); ++i)
    if (offset > spans[i].lengthWordOffset && offset < spans[i].dataOffset + static_cast<size_t>(spans[i].length))
      return i;
  ADD_FAILURE() << "no chunk holds offset " << offset;
  return 0;
}

Bytes smallBmp(int32_t width, int32_t height, uint16_t depth = 24) {
  BmpWriteSpec command;
  command.width = width;
  command.height = height;
  command.depth = depth;
  if (depth <= 8) command.palette = {{0, 0, 0}, {255, 255, 255}};
  std::vector<uint32_t> pixels(static_cast<size_t>(width * height), 1);
  return writeBmp(command, pixels);
}

// Statistics of clean recordings, one file or many segments.

// What a test recording holds, tallied as it is written.
struct Written {
  RecordingWriter writer;
  std::vector<float> times;
  std::vector<int64_t> trianglesPerFrame;
  std::array<int64_t, 32> slots{};
  std::array<int64_t, 8> modes{};
};

// 130 frames: frame i has (7 i mod 11) triangles (some none) of slots 0-3
// and every blend mode; time stamps in 1/64 s steps (exact as floats) with
// three pauses: 0.5 s before frame 0, 2 s more before frame 40, and exactly
// 0.25 s before frame 90, while the 15/64 s before frame 91 is no pause.
constexpr int kStatFrames = 130;

float statFrameTime(int frame) {
  float time = 0.5f + static_cast<float>(frame) / 64.0f;
  if (frame >= 40) time += 2.0f;
  if (frame >= 90) time += 15.0f / 64.0f;  // the step into 90 is 16/64
  if (frame >= 91) time += 14.0f / 64.0f;  // the step into 91 is 15/64
  return time;
}

void writeStatRecording(Written& written, const TextureTable& keys, size_t chunkLimit) {
  beginRecording(written.writer, 320, 200, keys, chunkLimit);
  for (int frame = 0; frame < kStatFrames; ++frame) {
    const int count = (7 * frame) % 11;
    for (int j = 0; j < count; ++j) {
      const int slot = (frame + j) % 4;
      const int mode = (3 * frame + j) % 8;
      writeTriangle(written.writer, triangleState(slot, mode), kCorners);
      ++written.slots[slot];
      ++written.modes[mode];
    }
    written.trianglesPerFrame.push_back(count);
    written.times.push_back(statFrameTime(frame));
    writeFrameMark(written.writer, written.times.back());
  }
  finishRecording(written.writer);
}

struct SegmentRow {
  const char* name;
  const char* recording;  // relative to the test folder
  int segments;
  size_t chunkLimit;  // decompressed bytes per chunk before it is cut
};

void PrintTo(const SegmentRow& row, std::ostream* out) { *out << row.name; }

class StatisticsTest : public ::testing::TestWithParam<SegmentRow> {};

TEST_P(StatisticsTest, EveryCountAndStatisticMatchesWhatWasWritten) {
  const SegmentRow& row = GetParam();
  test::TempDirectory folder;
  TextureTable keys{};
  keys[1] = 0x1111;
  keys[2] = 0xABCDEF0123456789ull;
  keys[3] = 3;
  ASSERT_TRUE(writeBytesToFile(folder.path + "/Video/TexDump/0000000000001111.bmp", smallBmp(8, 4, 24)));
  ASSERT_TRUE(writeBytesToFile(folder.path + "/Video/TexDump/ABCDEF0123456789.bmp", smallBmp(16, 2, 8)));
  ASSERT_TRUE(writeBytesToFile(folder.path + "/Video/TexDump/0000000000000003.bmp", smallBmp(4, 4, 32)));

  Written written;
  writeStatRecording(written, keys, row.chunkLimit);
  const Bytes& stream = written.writer.stream;
  std::vector<size_t> cuts = planSegmentCuts(stream, row.segments);
  ASSERT_EQ(static_cast<size_t>(row.segments - 1), cuts.size()) << row.name;
  std::vector<Bytes> segments = splitAt(stream, cuts);
  ASSERT_TRUE(writeSegmentFiles(folder.path, row.recording, segments));

  Json info = infoJson(row.recording, folder.path, 0);
  SCOPED_TRACE(row.name);
  EXPECT_EQ(row.recording, info["recording"].text);
  EXPECT_EQ(264, info["header"]["bytes_present"].integer());
  EXPECT_EQ(320, info["header"]["width"].integer());
  EXPECT_EQ(200, info["header"]["height"].integer());

  const Json& slots = info["header"]["texture_slots"];
  ASSERT_EQ(3u, slots.size());
  struct SlotRow { int slot; const char* key; int width; int height; int depth; int64_t triangles; };
  const SlotRow slotRows[] = {{1, "0000000000001111", 8, 4, 24, written.slots[1]},
                              {2, "ABCDEF0123456789", 16, 2, 8, written.slots[2]},
                              {3, "0000000000000003", 4, 4, 32, written.slots[3]}};
  for (size_t i = 0; i < 3; ++i) {
    const SlotRow& expected = slotRows[i];
    const Json& slot = slots[i];
    EXPECT_EQ(expected.slot, slot["slot"].integer()) << i;
    EXPECT_EQ(expected.key, slot["key"].text) << i;
    EXPECT_EQ(std::string("Video/TexDump/") + expected.key + ".bmp", slot["file"].text) << i;
    EXPECT_TRUE(slot["present"].boolean) << i;
    EXPECT_TRUE(slot["decodable"].boolean) << i;
    EXPECT_EQ(expected.width, slot["width"].integer()) << i;
    EXPECT_EQ(expected.height, slot["height"].integer()) << i;
    EXPECT_EQ(expected.depth, slot["depth"].integer()) << i;
    EXPECT_EQ(0, slot["compression"].integer()) << i;
    EXPECT_EQ(expected.height, slot["rows_present"].integer()) << i;
    EXPECT_EQ(expected.triangles, slot["triangles"].integer()) << i;
  }

  const Json& segmentList = info["segments"];
  ASSERT_EQ(segments.size(), segmentList.size());
  for (size_t i = 0; i < segments.size(); ++i) {
    EXPECT_EQ(static_cast<int64_t>(i), segmentList[i]["number"].integer());
    char name[256];
    segmentFileName(row.recording, static_cast<int64_t>(i), name, sizeof name);
    EXPECT_EQ(name, segmentList[i]["file"].text);
    EXPECT_EQ(static_cast<int64_t>(segments[i].size()), segmentList[i]["bytes"].integer()) << i;
    EXPECT_TRUE(segmentList[i]["read"].boolean) << i;
  }
  EXPECT_EQ(row.segments, info["segments_read"].integer());

  int64_t compressed = 0;
  int64_t largest = 0;
  for (const ChunkSpan& span : chunkSpans(stream)) {
    compressed += span.length;
    largest = std::max<int64_t>(largest, span.length);
  }
  const int64_t triangles = written.writer.triangles;
  const Json& chunks = info["chunks"];
  EXPECT_EQ(written.writer.chunks, chunks["count"].integer());
  EXPECT_LT(1, written.writer.chunks);
  EXPECT_EQ(compressed, chunks["compressed_bytes"].integer());
  EXPECT_EQ(triangles * kTriangleSize + kStatFrames * kFrameMarkSize, chunks["decompressed_bytes"].integer());
  EXPECT_EQ(largest, chunks["largest_compressed"].integer());
  EXPECT_EQ(0, chunks["empty"].integer());
  EXPECT_EQ(0, chunks["skipped"].integer());

  const Json& records = info["records"];
  EXPECT_EQ(kStatFrames, records["frame_marks"].integer());
  EXPECT_EQ(triangles, records["triangles"].integer());
  EXPECT_EQ(0, records["points_type3"].integer());
  EXPECT_EQ(0, records["invalid"].integer());
  EXPECT_EQ(kStatFrames, info["frames"].integer());

  const Json& perFrame = info["triangles_per_frame"];
  EXPECT_EQ(0, perFrame["min"].integer());  // frames 0, 11, 22, ... have none
  EXPECT_EQ(10, perFrame["max"].integer());
  EXPECT_NEAR(static_cast<double>(triangles) / kStatFrames, perFrame["mean"].number, 1e-9);
  EXPECT_EQ(0, perFrame["after_last_mark"].integer());

  const Json& slotsUsed = info["texture_slots_used"];
  ASSERT_EQ(4u, slotsUsed.size());
  for (size_t slot = 0; slot < 4; ++slot) {
    EXPECT_EQ(static_cast<int64_t>(slot), slotsUsed[slot]["slot"].integer());
    EXPECT_EQ(written.slots[slot], slotsUsed[slot]["triangles"].integer()) << "slot " << slot;
    EXPECT_EQ(slot != 0, slotsUsed[slot]["has_key"].boolean) << "slot " << slot;
  }
  const Json& modesUsed = info["blend_modes_used"];
  ASSERT_EQ(8u, modesUsed.size());
  for (size_t mode = 0; mode < 8; ++mode) {
    EXPECT_EQ(static_cast<int64_t>(mode), modesUsed[mode]["mode"].integer());
    EXPECT_EQ(written.modes[mode], modesUsed[mode]["triangles"].integer()) << "mode " << mode;
  }

  const Json& time = info["time"];
  const float first = statFrameTime(0);
  const float last = statFrameTime(kStatFrames - 1);
  EXPECT_EQ(first, static_cast<float>(time["first"].number));
  EXPECT_EQ(last, static_cast<float>(time["last"].number));
  EXPECT_EQ(kStatFrames, time["finite_stamps"].integer());
  const double duration = static_cast<double>(last) - static_cast<double>(first);
  EXPECT_NEAR(duration, time["duration"].number, 1e-9);
  EXPECT_NEAR((kStatFrames - 1) / duration, time["mean_fps"].number, 1e-6);

  // The three pauses, and nothing else: the 15/64 s step is no pause.
  const Json& pauses = info["pauses"];
  EXPECT_EQ(3, pauses["count"].integer());
  ASSERT_EQ(3u, pauses["list"].size());
  const struct { int64_t frame; float from; float to; } pauseRows[] = {
      {0, 0.0f, statFrameTime(0)}, {40, statFrameTime(39), statFrameTime(40)}, {90, statFrameTime(89), statFrameTime(90)}};
  double pauseSeconds = 0;
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(pauseRows[i].frame, pauses["list"][i]["frame"].integer()) << i;
    EXPECT_EQ(pauseRows[i].from, static_cast<float>(pauses["list"][i]["from"].number)) << i;
    EXPECT_EQ(pauseRows[i].to, static_cast<float>(pauses["list"][i]["to"].number)) << i;
    pauseSeconds += static_cast<double>(pauseRows[i].to) - static_cast<double>(pauseRows[i].from);
  }
  EXPECT_EQ(0.25f, statFrameTime(90) - statFrameTime(89));
  EXPECT_NEAR(0.5 + (2.0 + 1.0 / 64) + 0.25, pauseSeconds, 1e-6);
  EXPECT_NEAR(pauseSeconds, pauses["seconds"].number, 1e-9);
  EXPECT_NEAR(pauseSeconds - 3 * 0.25, pauses["cut_seconds"].number, 1e-9);
  EXPECT_EQ(0, info["backwards"]["count"].integer());
  EXPECT_EQ(0, info["not_finite"]["count"].integer());
  EXPECT_FALSE(info["damaged"].boolean);
  EXPECT_EQ(0, info["problems"]["count"].integer());

  // check: one summary line, nothing on standard error.
  DrecResult check = runDrec({"check", row.recording}, folder.path);
  EXPECT_EQ(0, check.status) << check.out;
  char summary[256];
  std::snprintf(summary, sizeof summary, "%s: clean: %d segment%s, %d chunks, %d frames, %lld triangles, %.3f s recorded\n",
                row.recording, row.segments, row.segments == 1 ? "" : "s", written.writer.chunks, kStatFrames, static_cast<long long>(triangles), duration);
  EXPECT_EQ(summary, check.out);
  EXPECT_EQ("", check.err);

  // The text form says the same.
  DrecResult text = runDrec({"info", "--no-horizon", row.recording}, folder.path);
  EXPECT_EQ(0, text.status);
  EXPECT_EQ("", text.err);
  char line[200];
  std::snprintf(line, sizeof line, "frames                %d\n", kStatFrames);
  EXPECT_NE(std::string::npos, text.out.find(line)) << text.out;
  std::snprintf(line, sizeof line, "pauses                3 of 0.25 s or more, %.3f s in all (the player cuts %.3f s)\n",
                pauseSeconds, pauseSeconds - 0.75);
  EXPECT_NE(std::string::npos, text.out.find(line)) << text.out;
  std::snprintf(line, sizeof line, "  frame 40: %.3f s to %.3f s (%.3f s)\n", static_cast<double>(statFrameTime(39)),
                static_cast<double>(statFrameTime(40)), 2.0 + 1.0 / 64);
  EXPECT_NE(std::string::npos, text.out.find(line)) << text.out;
  EXPECT_NE(std::string::npos, text.out.find("damage                none\n")) << text.out;
}

INSTANTIATE_TEST_SUITE_P(
    Segments, StatisticsTest,
    ::testing::Values(SegmentRow{"one file, frames across chunks", "rec.dat", 1, 100},
                      SegmentRow{"one file, many frames per chunk", "rec.dat", 1, 2000},
                      SegmentRow{"four segments", "Video/Stream/r.%i.rec", 4, 300},
                      SegmentRow{"twelve segments, numbers of two digits", "s%i.rec", 12, 100}),
    [](const ::testing::TestParamInfo<SegmentRow>& row) { return testName(row.param.name); });

TEST(InfoTimeStamps, BackwardsAndNotFiniteOnesAreListedAndPausesSpanThem) {
  test::TempDirectory folder;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const float times[] = {0.0f, 1 / 64.0f, nan, 2 / 64.0f, 1 / 64.0f, inf, 3 / 64.0f, -inf, 35 / 64.0f, 0.25f};
  StreamBuilder builder;
  Bytes records;
  for (float time : times) appendFrameMark(records, time);
  builder.chunk(records);
  ASSERT_TRUE(writeBytesToFile(folder.path + "/t.rec", builder.stream));

  Json info = infoJson("t.rec", folder.path, 0);
  EXPECT_EQ(10, info["frames"].integer());
  const Json& notFinite = info["not_finite"];
  EXPECT_EQ(3, notFinite["count"].integer());
  ASSERT_EQ(3u, notFinite["list"].size());
  const struct { int64_t frame; const char* value; } notFiniteRows[] = {{2, "nan"}, {5, "inf"}, {7, "-inf"}};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(notFiniteRows[i].frame, notFinite["list"][i]["frame"].integer()) << i;
    EXPECT_EQ(notFiniteRows[i].value, notFinite["list"][i]["value"].text) << i;
  }
  // Each step is measured from the last finite time stamp before it.
  const Json& backwards = info["backwards"];
  EXPECT_EQ(2, backwards["count"].integer());
  ASSERT_EQ(2u, backwards["list"].size());
  EXPECT_EQ(4, backwards["list"][0]["frame"].integer());
  EXPECT_EQ(2 / 64.0f, static_cast<float>(backwards["list"][0]["previous"].number));
  EXPECT_EQ(1 / 64.0f, static_cast<float>(backwards["list"][0]["time"].number));
  EXPECT_EQ(9, backwards["list"][1]["frame"].integer());
  EXPECT_EQ(35 / 64.0f, static_cast<float>(backwards["list"][1]["previous"].number));
  const Json& pauses = info["pauses"];
  EXPECT_EQ(1, pauses["count"].integer());
  ASSERT_EQ(1u, pauses["list"].size());
  EXPECT_EQ(8, pauses["list"][0]["frame"].integer());
  EXPECT_EQ(3 / 64.0f, static_cast<float>(pauses["list"][0]["from"].number));
  EXPECT_EQ(7, info["time"]["finite_stamps"].integer());
  EXPECT_EQ(0.0f, static_cast<float>(info["time"]["first"].number));
  EXPECT_EQ(0.25f, static_cast<float>(info["time"]["last"].number));
  EXPECT_NEAR(6 / 0.25, info["time"]["mean_fps"].number, 1e-9);
  EXPECT_FALSE(info["damaged"].boolean);

  DrecResult text = runDrec({"info", "--no-horizon", "t.rec"}, folder.path);
  EXPECT_NE(std::string::npos, text.out.find("not finite            3 time stamps\n  frame 2: nan\n  frame 5: inf\n  frame 7: -inf\n"))
      << text.out;
  EXPECT_NE(std::string::npos, text.out.find("going backwards       2 time stamps\n  frame 4: 0.016 s after 0.031 s\n"))
      << text.out;
}

TEST(InfoRecords, PointRecordsEmptyChunksAndTrianglesAfterTheLastMarkAreCountedNotDamage) {
  test::TempDirectory folder;
  StreamBuilder builder;
  builder.frames(1);
  Bytes records = frameRecords(2, 1 / 64.0f);
  records.push_back(kRecordPointA);
  records.insert(records.end(), 30, 0xEE);  // never walked
  builder.chunk(records);
  builder.raw(0, {});  // an empty chunk
  records = frameRecords(1, 2 / 64.0f);
  records.push_back(kRecordPointB);
  builder.chunk(records);
  builder.chunk(triangleRecord(triangleState(5, 1)) /* a triangle with no mark after it */);
  ASSERT_TRUE(writeBytesToFile(folder.path + "/p.rec", builder.stream));

  Json info = infoJson("p.rec", folder.path, 0);
  EXPECT_EQ(3, info["frames"].integer());
  EXPECT_EQ(1, info["records"]["points_type3"].integer());
  EXPECT_EQ(1, info["records"]["points_type4"].integer());
  EXPECT_EQ(31 + 1, info["records"]["bytes_not_walked"].integer());
  EXPECT_EQ(3 + 2 + 1 + 1, info["records"]["triangles"].integer());
  EXPECT_EQ(5, info["chunks"]["count"].integer());
  EXPECT_EQ(1, info["chunks"]["empty"].integer());
  EXPECT_EQ(1, info["triangles_per_frame"]["min"].integer());
  EXPECT_EQ(3, info["triangles_per_frame"]["max"].integer());
  EXPECT_NEAR(2.0, info["triangles_per_frame"]["mean"].number, 1e-9);
  EXPECT_EQ(1, info["triangles_per_frame"]["after_last_mark"].integer());
  // Slot 5 has no key: drawn untextured, which is no damage.
  const Json& used = info["texture_slots_used"];
  ASSERT_EQ(2u, used.size());
  EXPECT_EQ(5, used[1]["slot"].integer());
  EXPECT_FALSE(used[1]["has_key"].boolean);
  EXPECT_FALSE(info["damaged"].boolean);
  DrecResult check = runDrec({"check", "p.rec"}, folder.path);
  EXPECT_EQ(0, check.status) << check.out;
}

TEST(InfoRecords, AHeaderAloneIsAnEmptyCleanRecording) {
  test::TempDirectory folder;
  ASSERT_TRUE(writeBytesToFile(folder.path + "/e.rec", headerBytes(640, 480, noKeys())));
  Json info = infoJson("e.rec", folder.path, 0);
  EXPECT_EQ(0, info["frames"].integer());
  EXPECT_EQ(0, info["chunks"]["count"].integer());
  EXPECT_EQ(0, info["triangles_per_frame"]["max"].integer());
  EXPECT_EQ(Json::Null, info["time"]["first"].kind);
  EXPECT_EQ(0, info["time"]["mean_fps"].integer());
  DrecResult check = runDrec({"check", "e.rec"}, folder.path);
  EXPECT_EQ(0, check.status);
  EXPECT_EQ("e.rec: clean: 1 segment, 0 chunks, 0 frames, 0 triangles, 0.000 s recorded\n", check.out);
}

// Damage: each kind found by check and info, where it lies.

struct ExpectedProblem {
  std::string kind;
  std::string file;
  int64_t offset;
  int64_t frame;  // -1: none
  std::string text;  // part of the message
};

struct DamageCase {
  std::string name;
  std::string recording;
  std::vector<std::pair<std::string, Bytes>> files;  // relative path, bytes
  std::vector<ExpectedProblem> problems;
  int64_t frames;  // what the walk still counts
};

using CaseMaker = DamageCase (*)();

DamageCase chunkThatDoesNotDecompress() {
  StreamBuilder builder;
  builder.frames(2);
  builder.raw(20, Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20});
  builder.frames(2, 2);
  const int64_t at = static_cast<int64_t>(builder.chunkOffsets[2]);
  return {"chunk that does not decompress", "d.rec", {{"d.rec", builder.stream}},
          {{"inflate_failed", "d.rec", at, 2,
            "chunk of 20 compressed bytes does not decompress (incorrect header check); skipped [player: "
            "\"Damaged chunk at byte " + std::to_string(at) + " of d.rec, skipped\"]"}},
          4};
}

DamageCase negativeLengthWord() {
  StreamBuilder builder;
  builder.frames(3);
  builder.raw(-7, {});
  builder.frames(2, 3);
  return {"negative length word", "n.rec", {{"n.rec", builder.stream}},
          {{"length_negative", "n.rec", static_cast<int64_t>(builder.chunkOffsets[3]), 3,
            "length word -7 out of range (0 to 32768): the recording ends here [player: \"bad luck end of file\"]"}},
          3};
}

DamageCase lengthWordOverTheLimit() {
  StreamBuilder builder;
  builder.frames(1);
  builder.raw(32769, Bytes(100, 0));
  return {"length word over the limit", "o.rec", {{"o.rec", builder.stream}},
          {{"length_over_limit", "o.rec", static_cast<int64_t>(builder.chunkOffsets[1]), 1,
            "length word 32769 out of range (0 to 32768): the player stops the program here [player: \"Overflow on input buffer\"]"}},
          1};
}

DamageCase invalidRecordType() {
  StreamBuilder builder;
  builder.frames(1);
  Bytes records = frameRecords(1, 1 / 64.0f);  // 34 bytes: a triangle and the mark of frame 1
  records.push_back(9);
  records.push_back(1);
  records.insert(records.end(), 5, 0);
  builder.chunk(records);
  builder.frames(1, 2);
  return {"invalid record type", "i.rec", {{"i.rec", builder.stream}},
          {{"invalid_record_type", "i.rec", static_cast<int64_t>(builder.chunkOffsets[1]), 2,
            "invalid record type 9 at byte 34 of the chunk's 41 decompressed bytes; the rest of the chunk is "
            "skipped [player: \"Unknown record type 265\"]"}},
          3};
}

DamageCase recordPastItsChunk() {
  StreamBuilder builder;
  builder.frames(2);
  Bytes records;
  appendFrameMark(records, 2 / 64.0f);
  Bytes triangle = triangleRecord(0);
  records.insert(records.end(), triangle.begin(), triangle.begin() + 12);
  builder.chunk(records);
  return {"record past its chunk", "r.rec", {{"r.rec", builder.stream}},
          {{"record_past_chunk", "r.rec", static_cast<int64_t>(builder.chunkOffsets[2]), 3,
            "triangle record at byte 8 runs past the end of the chunk's 20 decompressed bytes [player: \"Record runs "
            "past the end of its chunk\"]"}},
          3};
}

DamageCase chunkCutShortAtTheEnd() {
  StreamBuilder builder;
  builder.frames(3);
  const int64_t length = static_cast<int64_t>(builder.stream.size() - builder.chunkOffsets[2]) - 4;
  builder.stream.resize(builder.stream.size() - 5);
  return {"chunk cut short at the end", "c.rec", {{"c.rec", builder.stream}},
          {{"chunk_cut_short", "c.rec", static_cast<int64_t>(builder.chunkOffsets[2]), 2,
            "chunk cut short: " + std::to_string(length - 5) + " of its " + std::to_string(length) +
                " compressed bytes present; not walked"}},
          2};
}

DamageCase recordsOverTheLimit() {
  StreamBuilder builder;
  builder.frames(1);
  Bytes records;
  for (int i = 0; i < kMaxRecordLength / kTriangleSize + 1; ++i) appendTriangle(records, 0, kCorners);
  builder.chunk(records);
  builder.frames(1, 1);
  const int64_t at = static_cast<int64_t>(builder.chunkOffsets[1]);
  return {"records over the limit", "l.rec", {{"l.rec", builder.stream}},
          {{"records_over_limit", "l.rec", at, 1, "chunk decompresses to more than 262144 bytes; skipped"}},
          2};
}

// 40 frames of one chunk each (about 60 compressed bytes), split into four
// segments with every cut inside a chunk.
struct FourSegments {
  Bytes stream;
  std::vector<size_t> cuts;
  std::vector<Bytes> segments;
  FourSegments() {
    StreamBuilder builder;
    for (int i = 0; i < 40; ++i) builder.chunk(frameRecords(1 + i % 5, static_cast<float>(i) / 64.0f, triangleState(i % 3, 0)));
    stream = builder.stream;
    cuts = planSegmentCuts(stream, 4);
    EXPECT_EQ(3u, cuts.size()) << "the stream cannot be split into four segments";
    segments = splitAt(stream, cuts);
  }
};

DamageCase gapInTheSegmentNumbering() {
  FourSegments four;
  const size_t chunk = chunkHolding(four.stream, four.cuts[1]);
  const int64_t at = static_cast<int64_t>(chunkSpans(four.stream)[chunk].lengthWordOffset - four.cuts[0]);
  return {"gap in the segment numbering", "g.%i.rec",
          {{"g.0.rec", four.segments[0]}, {"g.1.rec", four.segments[1]}, {"g.3.rec", four.segments[3]}},
          {{"segment_gap", "g.1.rec", at, static_cast<int64_t>(chunk),
            "gap in the segment numbering: g.2.rec is missing, g.3.rec exists; the chunk here continues in the "
            "missing segment and the recording ends [player: \"g.2.rec / Broken Stream\"]"},
           {"unread_segment", "g.3.rec", 0, -1, "segment file never read: g.2.rec is missing"}},
          static_cast<int64_t>(chunk)};
}

DamageCase lastSegmentMissing() {
  FourSegments four;
  const size_t chunk = chunkHolding(four.stream, four.cuts[2]);
  const ChunkSpan span = chunkSpans(four.stream)[chunk];
  const int64_t at = static_cast<int64_t>(span.lengthWordOffset - four.cuts[1]);
  const int64_t present = static_cast<int64_t>(four.cuts[2] - span.dataOffset);
  return {"last segment missing", "m.%i.rec",
          {{"m.0.rec", four.segments[0]}, {"m.1.rec", four.segments[1]}, {"m.2.rec", four.segments[2]}},
          {{"chunk_cut_short", "m.2.rec", at, static_cast<int64_t>(chunk),
            "chunk cut short: " + std::to_string(present) + " of its " + std::to_string(span.length) +
                " compressed bytes present; not walked; it continues in m.3.rec, which does not exist [player: "
                "\"m.3.rec / Broken Stream\"]"}},
          static_cast<int64_t>(chunk)};
}

DamageCase segmentAfterAnExactEnd() {
  StreamBuilder builder;
  builder.frames(6);
  std::vector<Bytes> segments = splitAt(builder.stream, {builder.chunkOffsets[4]});
  return {"segment after an exact end", "x.%i.rec", {{"x.0.rec", segments[0]}, {"x.1.rec", segments[1]}},
          {{"unread_segment", "x.1.rec", 0, -1,
            "segment file never read: the recording ends exactly at the end of x.0.rec"}},
          4};
}

DamageCase segmentAfterAShorterOne() {
  StreamBuilder builder;
  builder.frames(30);
  // Segment 0 ends inside chunk 20; segment 1 holds the rest of it and two
  // more chunks, fewer bytes than segment 0: the player takes it as the last.
  const size_t firstCut = builder.chunkOffsets[20] + 10;
  std::vector<Bytes> segments = splitAt(builder.stream, {firstCut, builder.chunkOffsets[23]});
  return {"segment after a shorter one", "y.%i.rec",
          {{"y.0.rec", segments[0]}, {"y.1.rec", segments[1]}, {"y.2.rec", segments[2]}},
          {{"unread_segment", "y.2.rec", 0, -1,
            "segment file never read: y.1.rec is shorter than y.0.rec, so the recording ends there"}},
          23};
}

DamageCase gapAfterAnExactEnd() {
  StreamBuilder builder;
  builder.frames(6);
  std::vector<Bytes> segments = splitAt(builder.stream, {builder.chunkOffsets[3]});
  return {"gap after an exact end", "z.%i.rec", {{"z.0.rec", segments[0]}, {"z.2.rec", segments[1]}},
          {{"segment_gap", "z.0.rec", static_cast<int64_t>(segments[0].size()), -1,
            "gap in the segment numbering: z.1.rec is missing, z.2.rec exists"},
           {"unread_segment", "z.2.rec", 0, -1, "segment file never read: z.1.rec is missing"}},
          3};
}

// A recording of `frames` frames whose texture slot `slot` names `key`, the
// texture's file (none when `file` is empty) in the default folder, and the
// one problem that gives.
DamageCase textureCase(const char* name, const char* recording, int slot, TextureKey key, int frames,
                       const Bytes& file, const ExpectedProblem& problem) {
  TextureTable keys{};
  keys[slot] = key;
  StreamBuilder builder(keys);
  builder.frames(frames);
  DamageCase damage{name, recording, {{recording, builder.stream}}, {problem}, frames};
  char path[64];
  std::snprintf(path, sizeof path, "Video/TexDump/%016llX.bmp", static_cast<unsigned long long>(key));
  if (!file.empty()) damage.files.emplace_back(path, file);
  return damage;
}

DamageCase textureMissing() {
  return textureCase("texture missing", "tm.rec", 3, 0xABC, 2, {},
                     {"texture_missing", "tm.rec", 24, -1,
                      "texture slot 3: file missing: Video/TexDump/0000000000000ABC.bmp"});
}

DamageCase textureUndecodable() {
  const BmpWriteSpec layout{.width = 4, .height = 4, .depth = 8, .compression = 1};
  return textureCase("texture undecodable", "tu.rec", 1, 0x51, 1, writeBmp(layout, std::vector<uint32_t>(16, 0)),
                     {"texture_undecodable", "tu.rec", 8, -1,
                      "texture slot 1: Video/TexDump/0000000000000051.bmp cannot be decoded: run-length compression"});
}

DamageCase textureCutShort() {
  BmpWriteSpec layout{.width = 8, .height = 8};
  layout.keepBytes = bmpDataOffset(layout) + 3 * bmpStoredRowSize(layout) + 5;
  return textureCase("texture cut short", "tc.rec", 32, 0xC0FFEE, 1, writeBmp(layout, std::vector<uint32_t>(64, 0)),
                     {"texture_cut_short", "tc.rec", 256, -1,
                      "texture slot 32: Video/TexDump/0000000000C0FFEE.bmp cut short: 3 of 8 pixel rows present"});
}

DamageCase textureTooLarge() {
  BmpWriteSpec layout{.width = 20000, .height = 2};
  layout.omitPixels = true;
  return textureCase("texture too large", "tl.rec", 2, 0xB16, 1, writeBmp(layout, {}),
                     {"texture_unusable", "tl.rec", 16, -1,
                      "texture slot 2: Video/TexDump/0000000000000B16.bmp gives no texture: side larger than the "
                      "largest texture"});
}

DamageCase headerCutShort() {
  Bytes header = headerBytes(320, 200, noKeys());
  header.resize(100);
  return {"header cut short", "h.rec", {{"h.rec", header}},
          {{"header_cut_short", "h.rec", 100, -1, "header cut short: 100 of its 264 bytes present"}},
          0};
}

DamageCase unusableScreenSize() {
  StreamBuilder builder(noKeys(), 0, 200);
  builder.frames(1);
  return {"unusable screen size", "s.rec", {{"s.rec", builder.stream}},
          {{"screen_size", "s.rec", 4, -1, "unusable screen size 0 x 200: the player refuses the recording"}},
          1};
}

// Several problems come in the order they lie: header, textures, chunks.
DamageCase severalProblems() {
  TextureTable keys{};
  keys[7] = 0x77;
  StreamBuilder builder(keys);
  builder.frames(2);
  builder.raw(3, Bytes{9, 9, 9});
  Bytes records = frameRecords(0, 2 / 64.0f);
  records.push_back(200);
  builder.chunk(records);
  builder.frames(2, 3);
  return {"several problems", "sp.rec", {{"sp.rec", builder.stream}},
          {{"texture_missing", "sp.rec", 56, -1, "texture slot 7: file missing"},
           {"inflate_failed", "sp.rec", static_cast<int64_t>(builder.chunkOffsets[2]), 2, "does not decompress"},
           {"invalid_record_type", "sp.rec", static_cast<int64_t>(builder.chunkOffsets[3]), 3,
            "invalid record type 200 at byte 8 of the chunk's 9 decompressed bytes"}},
          5};
}

void PrintTo(CaseMaker maker, std::ostream* out) { *out << maker().name; }

class DamageTest : public ::testing::TestWithParam<CaseMaker> {};

TEST_P(DamageTest, CheckAndInfoNameEachProblemWhereItLies) {
  const DamageCase damage = GetParam()();
  SCOPED_TRACE(damage.name);
  test::TempDirectory folder;
  for (const auto& file : damage.files) ASSERT_TRUE(writeBytesToFile(folder.path + "/" + file.first, file.second));

  DrecResult check = runDrec({"check", damage.recording}, folder.path);
  EXPECT_FALSE(check.timedOut);
  EXPECT_EQ(1, check.status) << check.out << check.err;
  EXPECT_EQ("", check.err);
  std::vector<std::string> got = lines(check.out);
  ASSERT_EQ(damage.problems.size() + 1, got.size()) << check.out;
  for (size_t i = 0; i < damage.problems.size(); ++i) {
    const ExpectedProblem& expected = damage.problems[i];
    const std::string location = expected.file + ": byte " + std::to_string(expected.offset) + ", frame " +
                                 (expected.frame < 0 ? std::string("-") : std::to_string(expected.frame)) + ": ";
    EXPECT_EQ(location, got[i].substr(0, location.size())) << "problem " << i << ": " << got[i];
    EXPECT_NE(std::string::npos, got[i].find(expected.text, location.size())) << "problem " << i << ": " << got[i];
  }
  const size_t count = damage.problems.size();
  EXPECT_EQ(damage.recording + ": damaged: " + std::to_string(count) + (count == 1 ? " problem" : " problems"),
            got.back());

  Json info = infoJson(damage.recording, folder.path, 1);
  EXPECT_TRUE(info["damaged"].boolean);
  EXPECT_EQ(damage.frames, info["frames"].integer());
  const Json& problems = info["problems"];
  EXPECT_EQ(static_cast<int64_t>(count), problems["count"].integer());
  ASSERT_EQ(count, problems["list"].size());
  for (size_t i = 0; i < count; ++i) {
    const ExpectedProblem& expected = damage.problems[i];
    const Json& problem = problems["list"][i];
    EXPECT_EQ(expected.kind, problem["kind"].text) << i;
    EXPECT_EQ(expected.file, problem["file"].text) << i;
    EXPECT_EQ(expected.offset, problem["offset"].integer()) << i;
    if (expected.frame < 0) {
      EXPECT_EQ(Json::Null, problem["frame"].kind) << i;
    } else {
      EXPECT_EQ(expected.frame, problem["frame"].integer()) << i;
    }
    EXPECT_NE(std::string::npos, problem["text"].text.find(expected.text)) << i << ": " << problem["text"].text;
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, DamageTest,
                         ::testing::Values(chunkThatDoesNotDecompress, negativeLengthWord, lengthWordOverTheLimit,
                                           invalidRecordType, recordPastItsChunk, chunkCutShortAtTheEnd,
                                           recordsOverTheLimit, gapInTheSegmentNumbering, lastSegmentMissing,
                                           segmentAfterAnExactEnd, segmentAfterAShorterOne, gapAfterAnExactEnd,
                                           textureMissing, textureUndecodable, textureCutShort, textureTooLarge,
                                           headerCutShort, unusableScreenSize, severalProblems),
                         [](const ::testing::TestParamInfo<CaseMaker>& row) { return testName(row.param().name); });

// check, info and verify with --json, parsed back, on recordings whose
// names are or are not UTF-8: the names read back as written, or as the
// Latin-1 reading of bytes that are not UTF-8; check's problems are the
// lines its text form prints, and info lists the same problem objects.

// `text` with every `from` replaced by `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// A problem object as check's text form prints it, without the line break.
std::string problemLineOf(const Json& problem) {
  std::string line = problem["file"].text + ": byte " + std::to_string(problem["offset"].integer());
  line += ", frame ";
  line += problem["frame"].kind == Json::Null ? std::string("-") : std::to_string(problem["frame"].integer());
  line += ": ";
  return line + problem["text"].text;
}

TEST(JsonOutput, CheckVerifyAndInfoReadBackWhateverTheNamesBytes) {
  StreamBuilder clean;
  clean.frames(3);
  TextureTable keys{};
  keys[4] = 0x44;  // no file: a problem the player reports at start-up
  StreamBuilder damaged(keys);
  damaged.frames(2);
  damaged.raw(20, Bytes(20, 0x5A));  // does not decompress: the player names the file
  damaged.frames(2, 2);
  struct Row {
    std::string file;      // the recording's name, as bytes
    std::string readBack;  // as JSON reads it back
    const Bytes* stream;
    int64_t frames;
  };
  const Row rows[] = {
      {"clean.rec", "clean.rec", &clean.stream, 3},
      {"damaged.rec", "damaged.rec", &damaged.stream, 4},
      {"\xff\xfe.rec", "\xc3\xbf\xc3\xbe.rec", &damaged.stream, 4},
      {"\xc3\xa9.rec", "\xc3\xa9.rec", &clean.stream, 3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.readBack);
    test::TempDirectory folder;
    ASSERT_TRUE(writeBytesToFile(folder.path + "/" + row.file, *row.stream));
    const bool isDamaged = row.stream == &damaged.stream;
    const DrecResult text = runDrec({"check", row.file}, folder.path);
    const DrecResult json = runDrec({"check", "--json", row.file}, folder.path);
    EXPECT_EQ(isDamaged ? 1 : 0, json.status) << json.out << json.err;
    EXPECT_EQ("", json.err);
    Json check;
    ASSERT_TRUE(parseJson(json.out, check)) << json.out;
    EXPECT_EQ(row.readBack, check["recording"].text);
    EXPECT_EQ("Video/TexDump/", check["texture_folder"].text);
    EXPECT_EQ(isDamaged, check["damaged"].boolean);
    EXPECT_EQ(row.frames, check["frames"].integer());

    // Every problem is a line of the text form, then its count.
    const std::vector<std::string> printed = lines(replaced(text.out, row.file, row.readBack));
    const Json& problems = check["problems"];
    ASSERT_EQ(printed.size() - 1, isDamaged ? problems["list"].size() : 0u) << text.out;
    EXPECT_EQ(static_cast<int64_t>(problems["list"].size()), problems["count"].integer());
    size_t playerMessages = 0;
    for (size_t i = 0; i < problems["list"].size(); ++i) {
      const Json& problem = problems["list"][i];
      EXPECT_EQ(printed[i], problemLineOf(problem)) << i;
      const Json& said = problem["player_message"];
      if (said.kind == Json::Null) {
        EXPECT_EQ(std::string::npos, problem["text"].text.find("[player: ")) << i;
        continue;
      }
      const std::string quoted = " [player: \"" + said.text + "\"]";
      const std::string& words = problem["text"].text;
      ASSERT_LT(quoted.size(), words.size()) << i;
      EXPECT_EQ(quoted, words.substr(words.size() - quoted.size())) << i;
      ++playerMessages;
    }
    EXPECT_EQ(isDamaged, playerMessages > 0) << "the damaged chunk's message";

    // info: the same counts and the same problem objects.
    Json info = infoJson(row.file, folder.path, isDamaged ? 1 : 0);
    EXPECT_EQ(row.readBack, info["recording"].text);
    EXPECT_EQ(info["frames"].integer(), check["frames"].integer());
    EXPECT_EQ(info["chunks"]["count"].integer(), check["chunks"].integer());
    EXPECT_EQ(info["records"]["triangles"].integer(), check["triangles"].integer());
    EXPECT_EQ(info["segments_read"].integer(), check["segments_read"].integer());
    EXPECT_EQ(info["time"]["duration"].number, check["recorded_seconds"].number);
    const Json& listed = info["problems"]["list"];
    ASSERT_EQ(problems["list"].size(), listed.size());
    for (size_t i = 0; i < listed.size(); ++i) {
      ASSERT_EQ(6u, listed[i].size()) << i;
      for (const Json& field : listed[i].fields) {
        const Json& same = problems["list"][i][field.name];
        EXPECT_EQ(field.kind, same.kind) << i << " " << field.name;
        EXPECT_EQ(field.text, same.text) << i << " " << field.name;
        EXPECT_EQ(field.number, same.number) << i << " " << field.name;
      }
    }

    // verify against its own hashes, listed in a file named after it.
    const std::string list = row.file + ".hashes";
    const DrecResult hashed = runDrec({"hash", row.file}, folder.path);
    EXPECT_EQ(isDamaged ? 1 : 0, hashed.status) << hashed.err;
    ASSERT_TRUE(writeBytesToFile(folder.path + "/" + list, Bytes(hashed.out.begin(), hashed.out.end())));
    // The damaged recording's texture file is missing too: a status of its own.
    const DrecResult verified =
        runDrec({"verify", "--json", "--allow-missing-textures", row.file, list}, folder.path);
    EXPECT_EQ(0, verified.status) << verified.out << verified.err;
    Json verify;
    ASSERT_TRUE(parseJson(verified.out, verify)) << verified.out;
    EXPECT_EQ(row.readBack, verify["recording"].text);
    EXPECT_EQ(row.readBack + ".hashes", verify["hashes"].text);
    EXPECT_TRUE(verify["match"].boolean);
    EXPECT_EQ(row.frames, verify["frames_compared"].integer());
    EXPECT_EQ(row.frames, verify["frames_listed"].integer());
    EXPECT_EQ(Json::Null, verify["first_difference"].kind);
  }
}

// Where the textures are looked for, with paths relative to the current folder.

TEST(TextureFolder, BesideTheStreamFolderUnderTheCurrentFolderOrAsGiven) {
  test::TempDirectory folder;
  TextureTable keys{};
  keys[1] = 0xF1;
  StreamBuilder builder(keys);
  builder.frames(1);
  const std::string bmpName = "00000000000000F1.bmp";
  ASSERT_TRUE(writeBytesToFile(folder.path + "/root/Video/Stream/p.rec", builder.stream));
  ASSERT_TRUE(writeBytesToFile(folder.path + "/root/Video/TexDump/" + bmpName, smallBmp(2, 2)));
  ASSERT_TRUE(writeBytesToFile(folder.path + "/elsewhere/p.rec", builder.stream));
  ASSERT_TRUE(writeBytesToFile(folder.path + "/Video/TexDump/" + bmpName, smallBmp(4, 2)));
  ASSERT_TRUE(writeBytesToFile(folder.path + "/mine/" + bmpName, smallBmp(8, 2)));

  struct Row {
    const char* name;
    const char* cwd;  // below the test folder
    std::vector<std::string> arguments;
    const char* folder;  // texture folder reported
    int width;           // of the file found; 0: missing
  };
  const Row rows[] = {
      {"ROOT/Video/Stream/NAME gives ROOT/Video/TexDump/", "", {"root/Video/Stream/p.rec"}, "root/Video/TexDump/", 2},
      {"the same from inside ROOT", "root", {"Video/Stream/p.rec"}, "Video/TexDump/", 2},
      {"an absolute ROOT", "elsewhere", {"@/root/Video/Stream/p.rec"}, "@/root/Video/TexDump/", 2},
      {"elsewhere: Video/TexDump/ under the current folder", "", {"elsewhere/p.rec"}, "Video/TexDump/", 4},
      {"elsewhere, from a folder without textures", "elsewhere", {"p.rec"}, "Video/TexDump/", 0},
      {"--textures DIR", "", {"--textures", "mine", "elsewhere/p.rec"}, "mine/", 8},
      {"--textures=DIR/ after the operand", "", {"root/Video/Stream/p.rec", "--textures=mine/"}, "mine/", 8},
  };
  for (const Row& row : rows) {
    std::vector<std::string> arguments = {"info", "--json", "--no-horizon"};
    for (std::string argument : row.arguments) {
      if (argument[0] == '@') argument = folder.path + argument.substr(1);
      arguments.push_back(argument);
    }
    std::string expectedFolder = row.folder;
    if (expectedFolder[0] == '@') expectedFolder = folder.path + expectedFolder.substr(1);
    DrecResult result = runDrec(arguments, folder.path + "/" + row.cwd);
    EXPECT_EQ(row.width == 0 ? 1 : 0, result.status) << row.name << "\n" << result.out << result.err;
    Json info;
    ASSERT_TRUE(parseJson(result.out, info)) << row.name;
    EXPECT_EQ(expectedFolder, info["texture_folder"].text) << row.name;
    const Json& slot = info["header"]["texture_slots"][0];
    EXPECT_EQ(expectedFolder + bmpName, slot["file"].text) << row.name;
    EXPECT_EQ(row.width != 0, slot["present"].boolean) << row.name;
    if (row.width != 0) {
      EXPECT_EQ(row.width, slot["width"].integer()) << row.name;
    }
  }
}

// Usage.

TEST(Usage, ErrorsAndUnreadableInputExitTwoWithTheReasonOnStandardError) {
  test::TempDirectory folder;
  ASSERT_TRUE(writeBytesToFile(folder.path + "/ok.rec", headerBytes(64, 64, noKeys())));
  ASSERT_TRUE(writeBytesToFile(folder.path + "/other.rec", headerBytes(64, 64, noKeys(), 0x12345678)));
  ASSERT_TRUE(test::makeDirectories(folder.path + "/adir"));
  ASSERT_EQ(0, mkfifo((folder.path + "/fifo.rec").c_str(), 0600));
  struct Row {
    std::vector<std::string> arguments;
    const char* error;  // part of standard error
  };
  const Row rows[] = {
      {{}, "missing subcommand"},
      {{"frobnicate"}, "unknown subcommand 'frobnicate'"},
      {{"info"}, "info: missing REC"},
      {{"check"}, "check: missing REC"},
      {{"info", "ok.rec", "ok.rec"}, "info: unexpected operand 'ok.rec'"},
      {{"info", "--bogus", "ok.rec"}, "info: unknown option '--bogus'"},
      {{"info", "-x", "ok.rec"}, "info: unknown option '-x'"},
      {{"info", "ok.rec", "--textures"}, "info: --textures needs a value DIR"},
      {{"info", "--json=yes", "ok.rec"}, "info: --json takes no value"},
      {{"check", "--json", "missing.rec"}, "cannot open 'missing.rec': No such file or directory\n"},
      {{"info", "missing.rec"}, "cannot open 'missing.rec': No such file or directory\n"},
      {{"check", "missing.%i.rec"}, "cannot open 'missing.0.rec': No such file or directory\n"},
      {{"check", "adir"}, "cannot open 'adir': Is a directory\n"},
      {{"info", "fifo.rec"},
       "cannot open 'fifo.rec': not a regular file (recordings are read with seeking)\n"},
      {{"help", "frobnicate"}, "unknown subcommand 'frobnicate'"},
      {{"info", "other.rec"}, "'other.rec' is not a recording"},
      {{"check", "seg.13.0.rec", "seg.13.1.rec", "seg.13.2.rec"},
       "these look like 3 segment files of one recording: name them as 'seg.13.%i.rec'\n"},
  };
  for (const Row& row : rows) {
    DrecResult result = runDrec(row.arguments, folder.path);
    const std::string name = argumentText(row.arguments);
    EXPECT_FALSE(result.timedOut) << name;
    EXPECT_EQ(2, result.status) << name;
    EXPECT_EQ("", result.out) << name;
    EXPECT_NE(std::string::npos, result.err.find(row.error)) << name << ": " << result.err;
    EXPECT_EQ(0u, result.err.rfind("drec: ", 0)) << name << ": " << result.err;
  }

  // Segment 0 of a numbered set named alone: read as one file, with a hint.
  ASSERT_TRUE(writeBytesToFile(folder.path + "/seg.13.0.rec", headerBytes(64, 64, noKeys())));
  for (const char* segment : {"/seg.13.1.rec", "/seg.13.2.rec", "/seg.13.4.rec"})
    ASSERT_TRUE(test::writeFile(folder.path + segment, {}));
  const std::string hint = "drec: this looks like segment 0 of 3: name them as 'seg.13.%i.rec'\n";
  for (const char* subcommand : {"info", "check"}) {
    const DrecResult hinted = runDrec({subcommand, "seg.13.0.rec"}, folder.path);
    EXPECT_NE(std::string::npos, hinted.err.find(hint)) << subcommand << ": " << hinted.err;
    for (const char* name : {"seg.13.%i.rec", "ok.rec"})
      EXPECT_EQ(std::string::npos, runDrec({subcommand, name}, folder.path).err.find("looks like"))
          << subcommand << " " << name;
  }
}

TEST(Usage, HelpListsSubcommandsAndOptionsAndVersionPrintsOneLine) {
  test::TempDirectory folder;
  DrecResult help = runDrec({"--help"}, folder.path);
  EXPECT_EQ(0, help.status);
  EXPECT_NE(std::string::npos, help.out.find("\n  info ")) << help.out;
  EXPECT_NE(std::string::npos, help.out.find("\n  check ")) << help.out;
  const struct { const char* subcommand; std::vector<std::string> options; } rows[] = {
      {"info", {"--textures DIR", "--json", "--help"}},
      {"check", {"--textures DIR", "--json", "--help"}},
  };
  for (const auto& row : rows) {
    DrecResult result = runDrec({row.subcommand, "--help"}, folder.path);
    EXPECT_EQ(0, result.status) << row.subcommand;
    EXPECT_EQ(0u, result.out.rfind(std::string("Usage: drec ") + row.subcommand + " [options] REC\n", 0)) << result.out;
    for (const std::string& option : row.options)
      EXPECT_NE(std::string::npos, result.out.find("\n  " + option + " ")) << row.subcommand << " " << option;
    EXPECT_EQ("", result.err);
  }
  EXPECT_EQ(runDrec({"info", "--help"}, folder.path).out, runDrec({"help", "info"}, folder.path).out);
  for (const char* subcommand : {"info", "check", "bench", "export", "hash", "verify"})
    for (const std::string& line : lines(runDrec({"help", subcommand}, folder.path).out))
      EXPECT_LE(line.size(), 80u) << subcommand << ": " << line;
  for (const std::string& line : lines(help.out)) EXPECT_LE(line.size(), 80u) << line;
  for (const char* spelling : {"--version", "-V", "version"}) {
    DrecResult version = runDrec({spelling}, folder.path);
    EXPECT_EQ(0, version.status) << spelling;
    EXPECT_EQ(0u, version.out.rfind("drec ", 0)) << spelling;
    EXPECT_EQ(1u, lines(version.out).size()) << spelling;
  }
}

// Every help text, the tool's and each subcommand's in both spellings: on
// standard output, starting with its usage line, and no line wider than a
// terminal's 80 columns (counted in characters, not UTF-8 bytes).
TEST(Usage, EveryHelpFitsEightyColumns) {
#define DREC_NAME(name, command, summary) #name,
  const char* const subcommands[] = {DREC_SUBCOMMANDS(DREC_NAME)};
#undef DREC_NAME
  struct Row {
    std::vector<std::string> arguments;
    std::string usage;
  };
  std::vector<Row> rows = {{{"--help"}, "Usage: drec SUBCOMMAND "}, {{"help"}, "Usage: drec SUBCOMMAND "}};
  for (const char* subcommand : subcommands) {
    std::string usage = "Usage: drec ";
    usage += subcommand;
    usage += " [options] ";
    rows.push_back({{subcommand, "--help"}, usage});
    rows.push_back({{"help", subcommand}, usage});
  }
  test::TempDirectory folder;
  std::map<std::string, std::string> helpOf;  // first spelling's text, by usage line
  for (const Row& row : rows) {
    const DrecResult result = runDrec(row.arguments, folder.path);
    const std::string name = argumentText(row.arguments);
    EXPECT_EQ(0, result.status) << name;
    EXPECT_EQ("", result.err) << name;
    EXPECT_EQ(0u, result.out.rfind(row.usage, 0)) << name << ": " << result.out;
    for (const std::string& line : lines(result.out)) {
      size_t columns = 0;
      for (char c : line) columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
      EXPECT_LE(columns, 80u) << name << ": " << line;
    }
    auto [first, inserted] = helpOf.emplace(row.usage, result.out);
    if (!inserted) {
      EXPECT_EQ(first->second, result.out) << name << "differs from the other spelling";
    }
  }
}

// Output that does not reach standard output is a failure, with the
// system's reason, whatever the subcommand found.
TEST(Usage, AFailedWriteToStandardOutputExitsTwoWithTheReason) {
  test::TempDirectory folder;
  ASSERT_TRUE(writeBytesToFile(folder.path + "/ok.rec", headerBytes(64, 64, noKeys())));
  const struct {
    std::vector<std::string> arguments;
    test::DrecOutput output;
    const char* reason;
  } rows[] = {
      {{"info", "ok.rec"}, test::DrecOutput::Full, "No space left on device"},
      {{"info", "--json", "ok.rec"}, test::DrecOutput::Full, "No space left on device"},
      {{"check", "ok.rec"}, test::DrecOutput::Closed, "Bad file descriptor"},
      {{"--help"}, test::DrecOutput::Full, "No space left on device"},
      {{"help", "check"}, test::DrecOutput::Closed, "Bad file descriptor"},
      {{"hash", "ok.rec"}, test::DrecOutput::Full, "No space left on device"},
  };
  for (const auto& row : rows) {
    const DrecResult result =
        runDrec(row.arguments, folder.path, test::DrecDisplay::None, 30.0, row.output);
    const std::string name = argumentText(row.arguments);
    EXPECT_EQ(2, result.status) << name;
    EXPECT_EQ(std::string("drec: cannot write standard output: ") + row.reason + "\n", result.err)
        << name;
  }
}

// The bundled demo, as generated: info tells what the generator wrote.

TEST(Demo, InfoAndCheckAgreeWithTheGenerator) {
  Demo demo;
  std::string problem;
  ASSERT_TRUE(buildDemo(demo, problem)) << problem;
  test::TempDirectory folder;
  ASSERT_TRUE(writeDemo(demo, folder.path, problem)) << problem;

  Json info = infoJson(kDemoTemplate, folder.path, 0);
  EXPECT_EQ(kDemoWidth, info["header"]["width"].integer());
  EXPECT_EQ(kDemoHeight, info["header"]["height"].integer());
  EXPECT_EQ(demo.frames, info["frames"].integer());
  EXPECT_EQ(demo.triangles, info["records"]["triangles"].integer());
  EXPECT_EQ(demo.chunks, info["chunks"]["count"].integer());
  ASSERT_EQ(demo.segments.size(), info["segments"].size());
  for (size_t i = 0; i < demo.segments.size(); ++i)
    EXPECT_EQ(static_cast<int64_t>(demo.segments[i].size()), info["segments"][i]["bytes"].integer()) << i;
  const Json& slots = info["header"]["texture_slots"];
  ASSERT_EQ(demo.textures.size(), slots.size());
  for (const DemoTexture& texture : demo.textures) {
    auto found = std::find_if(slots.items.begin(), slots.items.end(),
                              [&](const Json& slot) { return slot["slot"].integer() == texture.slot; });
    ASSERT_NE(slots.items.end(), found) << "slot " << texture.slot;
    EXPECT_TRUE((*found)["present"].boolean) << texture.slot;
    EXPECT_TRUE((*found)["decodable"].boolean) << texture.slot;
    EXPECT_EQ(static_cast<int64_t>(texture.file.size()), (*found)["file_bytes"].integer()) << texture.slot;
  }
  EXPECT_EQ(demoFrameTime(0), static_cast<float>(info["time"]["first"].number));
  EXPECT_EQ(demoFrameTime(demo.frames - 1), static_cast<float>(info["time"]["last"].number));
  EXPECT_EQ(1, info["pauses"]["count"].integer());
  EXPECT_EQ(kDemoPauseFrame, info["pauses"]["list"][0]["frame"].integer());
  EXPECT_EQ(0, info["backwards"]["count"].integer());
  EXPECT_FALSE(info["damaged"].boolean);

  DrecResult check = runDrec({"check", kDemoTemplate}, folder.path);
  EXPECT_EQ(0, check.status) << check.out;
  EXPECT_EQ(1u, lines(check.out).size()) << check.out;
}

}  // namespace
}  // namespace drec
