// File access: the same contract for the real file system and for files held
// in memory (which tests and fuzzers put in the real one's place).
#include "platform/files.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_paths.hpp"
#include "tools/writer/memory_files.hpp"

namespace drec {
namespace {

const std::vector<uint8_t> kTenBytes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

// One file "ten.bin" holding kTenBytes, behind either table.
struct Files {
  test::TempDirectory temp;
  MemoryFiles memory{};
  FileAccess access{};
  std::string folder;  // prefix for names ("" for memory)

  explicit Files(bool real) {
    if (real) {
      folder = temp.path + "/";
      test::writeFile(folder + "ten.bin", kTenBytes);
      test::writeFile(folder + "empty.bin", {});
      access = realFileAccess();
    } else {
      addMemoryFile(memory, "ten.bin", kTenBytes);
      addMemoryFile(memory, "empty.bin", {});
      access = memoryFileAccess(memory);
    }
  }
  FileHandle open(const std::string& name) { return access.open(access.context, (folder + name).c_str()); }
  void close(FileHandle file) { access.close(access.context, file); }
};

// Each test starts with "ten.bin" open through the real table or the memory
// one, and closes it at the end.
class FileAccessContract : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { ASSERT_GE(ten, 0); }
  void TearDown() override {
    if (ten >= 0) files.close(ten);
  }

  Files files{GetParam()};
  FileHandle ten = files.open("ten.bin");
};

std::string bytesText(const uint8_t* bytes, int64_t count) {
  std::string text;
  for (int64_t i = 0; i < count; ++i) {
    if (i > 0) text += ' ';
    text += std::to_string(bytes[i]);
  }
  return text;
}

TEST_P(FileAccessContract, ReadAtOneBasedPositionZeroFillsPastTheEnd) {
  struct Row {
    int64_t position;
    int64_t count;
    int64_t delivered;
    const char* bytes;
  };
  const Row rows[] = {
      {1, 4, 4, "1 2 3 4"},           // 1 is the first byte
      {2, 3, 3, "2 3 4"},
      {10, 1, 1, "10"},               // the last byte
      {7, 4, 4, "7 8 9 10"},          // a 4-byte value ending exactly at the end
      {8, 4, 3, "8 9 10 0"},          // one byte short
      {10, 4, 1, "10 0 0 0"},
      {11, 4, 0, "0 0 0 0"},          // just past the end: reads as 0
      {100, 4, 0, "0 0 0 0"},
      {1, 12, 10, "1 2 3 4 5 6 7 8 9 10 0 0"},
      {0, 4, 0, "0 0 0 0"},           // no byte 0
      {-5, 4, 0, "0 0 0 0"},
  };
  for (const Row& row : rows) {
    uint8_t destination[16];
    std::fill(std::begin(destination), std::end(destination), uint8_t{0xEE});
    int64_t delivered = readAtPosition(files.access, ten, row.position, destination, row.count);
    EXPECT_EQ(delivered, row.delivered) << "position " << row.position << " count " << row.count;
    EXPECT_EQ(bytesText(destination, row.count), row.bytes)
        << "position " << row.position << " count " << row.count;
    EXPECT_EQ(destination[row.count], 0xEE) << "written past the count at position " << row.position;
  }
}

TEST_P(FileAccessContract, CurrentPositionAdvancesByTheCountDelivered) {
  // Reads in turn: a positioned read moves the current position to just
  // after what it delivered; asking for the length keeps it.
  enum Call { Next, At, Length };
  struct Step {
    Call call;
    int64_t position;  // for At
    int64_t count;
    int64_t result;  // bytes delivered, or the length
    const char* bytes;
  };
  const Step steps[] = {
      {Next, 0, 3, 3, "1 2 3"},    {Next, 0, 4, 4, "4 5 6 7"}, {Next, 0, 5, 3, "8 9 10 0 0"},
      {Next, 0, 2, 0, "0 0"},      {At, 5, 2, 2, "5 6"},       {Next, 0, 2, 2, "7 8"},
      {At, 1, 4, 4, "1 2 3 4"},    {Length, 0, 0, 10, ""},     {Next, 0, 2, 2, "5 6"},
  };
  for (size_t i = 0; i < std::size(steps); ++i) {
    const Step& step = steps[i];
    uint8_t destination[8];
    std::fill(std::begin(destination), std::end(destination), uint8_t{0xEE});
    int64_t result = 0;
    if (step.call == Next) result = readBytes(files.access, ten, destination, step.count);
    if (step.call == At) result = readAtPosition(files.access, ten, step.position, destination, step.count);
    if (step.call == Length) result = files.access.length(files.access.context, ten);
    EXPECT_EQ(result, step.result) << "step " << i;
    EXPECT_EQ(bytesText(destination, step.count), step.bytes) << "step " << i;
  }
}

TEST_P(FileAccessContract, EmptyFileHasLengthZeroAndReadsAsZeros) {
  FileHandle empty = files.open("empty.bin");
  ASSERT_GE(empty, 0);
  uint8_t destination[4];
  EXPECT_EQ(files.access.length(files.access.context, empty), 0);
  EXPECT_EQ(readAtPosition(files.access, empty, 1, destination, 4), 0);
  EXPECT_EQ(bytesText(destination, 4), "0 0 0 0");
  files.close(empty);
}

TEST_P(FileAccessContract, MissingFileIsReported) {
  EXPECT_LT(files.open("missing.bin"), 0);
  EXPECT_LT(files.open("Ten.bin"), 0);  // names are case-sensitive
}

INSTANTIATE_TEST_SUITE_P(RealAndMemory, FileAccessContract, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& parameter) {
                           return std::string(parameter.param ? "Real" : "Memory");
                         });

TEST(RealFileAccess, MissingFileIsNeverCreated) {
  test::TempDirectory temp;
  FileAccess files = realFileAccess();
  std::string name = temp.path + "/Video/Stream/absent.0.rec";
  EXPECT_LT(files.open(files.context, name.c_str()), 0);
  std::string flat = temp.path + "/absent.rec";
  EXPECT_LT(files.open(files.context, flat.c_str()), 0);
  struct stat info;
  EXPECT_NE(stat(flat.c_str(), &info), 0) << "opening created the file";
}

TEST(RealFileAccess, DirectoryIsRefused) {
  test::TempDirectory temp;
  FileAccess files = realFileAccess();
  EXPECT_LT(files.open(files.context, temp.path.c_str()), 0);
  EXPECT_LT(files.open(files.context, (temp.path + "/").c_str()), 0);
}

// A FIFO without a writer opens at once and reads as empty instead of
// blocking the player, and every kind of path that is not a regular file
// gets its reason.
TEST(RealFileAccess, EachPathThatIsNotARecordingFileSaysWhy) {
  test::TempDirectory temp;
  const std::string regular = temp.path + "/ten.bin";
  const std::string fifo = temp.path + "/fifo.rec";
  ASSERT_TRUE(test::writeFile(regular, kTenBytes));
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  const struct {
    std::string path;
    const char* problem;  // null: none
  } rows[] = {
      {regular, nullptr},
      {temp.path + "/absent.rec", "No such file or directory"},
      {temp.path, "Is a directory"},
      {regular + "/below", "Not a directory"},
      {fifo, kNotRegularFile},
      {"/dev/null", kNotRegularFile},
  };
  for (const auto& row : rows) {
    const char* problem = fileOpenProblem(row.path.c_str());
    EXPECT_STREQ(row.problem, problem) << row.path;
  }
  FileAccess files = realFileAccess();
  const FileHandle file = files.open(files.context, fifo.c_str());
  ASSERT_GE(file, 0);
  uint8_t bytes[4] = {9, 9, 9, 9};
  EXPECT_EQ(0, readBytes(files, file, bytes, 4));
  EXPECT_EQ(0, bytes[0] + bytes[1] + bytes[2] + bytes[3]);
  files.close(files.context, file);
}

TEST(RealFileAccess, TwoHandlesKeepTheirOwnPositions) {
  test::TempDirectory temp;
  std::string name = temp.path + "/ten.bin";
  ASSERT_TRUE(test::writeFile(name, kTenBytes));
  FileAccess files = realFileAccess();
  FileHandle first = files.open(files.context, name.c_str());
  FileHandle second = files.open(files.context, name.c_str());
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);
  uint8_t a[2];
  uint8_t b[2];
  readBytes(files, first, a, 2);
  readBytes(files, second, b, 2);
  EXPECT_EQ(bytesText(a, 2), "1 2");
  EXPECT_EQ(bytesText(b, 2), "1 2");
  files.close(files.context, first);
  files.close(files.context, second);
}

}  // namespace
}  // namespace drec
