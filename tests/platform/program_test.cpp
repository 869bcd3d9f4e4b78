// The program's own directory and its title.
#include "platform/program.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "tests/support/run_program.hpp"
#include "tests/support/test_paths.hpp"

namespace drec {
namespace {

TEST(TitleFromPath, Table) {
  struct Row {
    const char* path;
    const char* title;
  };
  const Row rows[] = {
      {"drec-player", "drec-player"},
      {"/usr/local/bin/drec-player", "drec-player"},
      {"a.b.c", "a.b"},
      {".hidden", ""},
      {"player.exe", "player"},
      {"name.", "name"},
      {"/opt/v1.2/drec-player", "drec-player"},  // a dot in a directory is no extension
      {"/opt/v1.2/player.bin", "player"},
      {"./drec-player", "drec-player"},
      {"dir/", ""},
      {"/", ""},
      {"", ""},
  };
  for (const Row& row : rows) {
    char title[64];
    std::memset(title, 'X', sizeof title);
    titleFromPath(row.path, title, sizeof title);
    EXPECT_STREQ(title, row.title) << "path \"" << row.path << "\"";
  }
}

TEST(TitleFromPath, CapacityIsNeverExceeded) {
  struct Row {
    size_t capacity;
    const char* title;
  };
  const Row rows[] = {{12, "drec-player"}, {11, "drec-playe"}, {5, "drec"}, {1, ""}};
  for (const Row& row : rows) {
    char title[16];
    std::memset(title, 'X', sizeof title);
    titleFromPath("/bin/drec-player.x", title, row.capacity);
    EXPECT_STREQ(title, row.title) << "capacity " << row.capacity;
    for (size_t i = row.capacity; i < sizeof title; ++i)
      EXPECT_EQ(title[i], 'X') << "byte " << i << " written with capacity " << row.capacity;
  }
  char untouched[4] = {'X', 'X', 'X', 'X'};
  titleFromPath("drec-player", untouched, 0);
  EXPECT_EQ(std::string(untouched, 4), "XXXX");
}

TEST(ProgramTitle, ComesFromTheExecutableNotArgv0) {
  char title[64];
  programTitle("/somewhere/else/other.name", title, sizeof title);
  EXPECT_STREQ(title, "program_test");
}

// The probe, copied under a dotted name into one folder and started through
// a symbolic link in another from a third: the directory made current and
// the title are the real file's.
TEST(MakeProgramDirectoryCurrent, IsTheExecutablesRealDirectory) {
  test::TempDirectory temp;
  std::string realFolder = temp.path + "/real folder";
  std::string linkFolder = temp.path + "/links";
  std::string startFolder = temp.path + "/start";
  ASSERT_TRUE(test::makeDirectories(realFolder));
  ASSERT_TRUE(test::makeDirectories(linkFolder));
  ASSERT_TRUE(test::makeDirectories(startFolder));
  std::string probe = realFolder + "/drec.probe.v2";
  ASSERT_TRUE(test::copyExecutable(test::buildDirectory() + "/tests/platform/console_probe", probe));
  std::string link = linkFolder + "/link-name.sh";
  ASSERT_EQ(symlink(probe.c_str(), link.c_str()), 0);

  char resolved[4096];
  ASSERT_NE(realpath(realFolder.c_str(), resolved), nullptr);

  test::ProgramRun run;
  run.arguments = {link, "program"};
  run.workingDirectory = startFolder;
  run.timeoutSeconds = 10;
  test::ProgramResult result = test::runProgram(run);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output, "dir=" + std::string(resolved) + "\ntitle=drec.probe\n");
}

}  // namespace
}  // namespace drec
