// The installed tree: its layout and relative links, the man pages (rendered
// and linted), bash completion driven through its function, the desktop
// entry, and the MIME type as a desktop without a session sees it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/install/installed_tree.hpp"
#include "tests/support/drec_tool.hpp"
#include "tests/support/test_paths.hpp"

namespace drec::test {
namespace {

constexpr char kDemoSegment0[] = "Video/Stream/Recording_12_01_2013_13_41_13.0.rec";
constexpr char kMimeType[] = "application/x-drec-recording";

std::string linkTarget(const std::string& path) {
  char target[4096];
  const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
  return length < 0 ? "" : std::string(target, static_cast<size_t>(length));
}

std::vector<std::string> sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

TEST(InstalledTree, HasTheLayoutWithRelativeLinksAndNothingElseInBin) {
  const std::string prefix = installedPrefix();
  ASSERT_FALSE(prefix.empty());
  enum Kind { File, Program, Folder, Link };
  const struct {
    const char* path;
    Kind kind;
    const char* target;  // of a link
  } entries[] = {
      {"bin/drec", Program, nullptr},
      {"bin/drec-player", Link, "../lib/drec/drec-player"},
      {"lib/drec/drec-player", Program, nullptr},
      {"lib/drec/Video", Link, "../../share/drec/demo/Video"},
      {"share/drec/demo/Video/TexDump", Folder, nullptr},
      {"share/doc/drec/README.md", File, nullptr},
      {"share/doc/drec/docs/drec-json.md", File, nullptr},
      {"share/man/man1/drec.1", File, nullptr},
      {"share/man/man1/drec-player.1", File, nullptr},
      {"share/bash-completion/completions/drec", File, nullptr},
      {"share/applications/drec.desktop", File, nullptr},
      {"share/mime/packages/drec.xml", File, nullptr},
      {"share/icons/hicolor/48x48/apps/drec.png", File, nullptr},
      {"share/icons/hicolor/256x256/apps/drec.png", File, nullptr},
  };
  for (const auto& entry : entries) {
    const std::string path = prefix + "/" + entry.path;
    struct stat status {};
    ASSERT_EQ(0, lstat(path.c_str(), &status)) << entry.path << " is missing";
    switch (entry.kind) {
      case File: EXPECT_TRUE(S_ISREG(status.st_mode)) << entry.path; break;
      case Program: EXPECT_TRUE(S_ISREG(status.st_mode) && (status.st_mode & 0111)) << entry.path; break;
      case Folder: EXPECT_TRUE(S_ISDIR(status.st_mode)) << entry.path; break;
      case Link:
        EXPECT_TRUE(S_ISLNK(status.st_mode)) << entry.path;
        EXPECT_EQ(entry.target, linkTarget(path)) << entry.path;
        break;
    }
  }
  // The demo through the player's link: where the player looks by default.
  EXPECT_TRUE(std::filesystem::is_regular_file(prefix + "/lib/drec/" + kDemoSegment0));

  std::vector<std::string> inBin;
  for (const auto& item : std::filesystem::directory_iterator(prefix + "/bin"))
    inBin.push_back(item.path().filename().string());
  EXPECT_EQ((std::vector<std::string>{"drec", "drec-player"}), sorted(inBin));
}

TEST(InstalledManPages, RenderAndLintWithoutAWarning) {
  const std::string prefix = installedPrefix();
  ASSERT_FALSE(prefix.empty());
  for (const char* page : {"drec", "drec-player"}) {
    SCOPED_TRACE(page);
    const std::string file = shellQuoted(prefix + "/share/man/man1/" + page + ".1");
    const ProgramResult shown = runShell("LC_ALL=C MANWIDTH=80 man -l " + file);
    ASSERT_EQ(0, shown.exitStatus) << shown.output;
    EXPECT_NE(std::string::npos, shown.output.find(std::string("NAME\n       ") + page + " - "))
        << shown.output.substr(0, 400);
    const ProgramResult lint = runShell("mandoc -T lint -W all " + file);
    EXPECT_EQ(0, lint.exitStatus);
    EXPECT_EQ("", lint.output);
  }
}

// drec(1) names every subcommand that drec --help lists, with each option
// that the subcommand's own --help lists, in the subcommand's section.
TEST(InstalledManPages, DrecNamesEverySubcommandWithItsOptionsAndPlaysKeys) {
  const std::string prefix = installedPrefix();
  ASSERT_FALSE(prefix.empty());
  const ProgramResult shown =
      runShell("LC_ALL=C MANWIDTH=400 man -l " + shellQuoted(prefix + "/share/man/man1/drec.1"));
  ASSERT_EQ(0, shown.exitStatus);
  const std::string& page = shown.output;

  const DrecResult help = runDrec({"--help"}, ".");
  std::vector<std::string> subcommands;
  bool listing = false;
  for (const std::string& line : lines(help.out)) {
    if (line == "Subcommands:") listing = true;
    else if (line.empty()) listing = false;
    else if (listing) subcommands.push_back(line.substr(2, line.find(' ', 2) - 2));
  }
  ASSERT_GE(subcommands.size(), 7u) << help.out;
  for (const std::string& subcommand : subcommands) {
    SCOPED_TRACE(subcommand);
    const size_t start = page.find("\n   drec " + subcommand + " ");
    ASSERT_NE(std::string::npos, start) << "no section for drec " << subcommand;
    const size_t end = page.find("\n   drec ", start + 1);
    const std::string section = page.substr(start, end == std::string::npos ? end : end - start);
    for (const std::string& line : lines(runDrec({subcommand, "--help"}, ".").out)) {
      if (line.rfind("  --", 0) != 0) continue;
      const std::string option = line.substr(2, line.find(' ', 2) - 2);
      if (option == "--help") continue;
      EXPECT_NE(std::string::npos, section.find(option)) << option;
    }
  }
  for (const char* key : {"Space", "Home", "Backspace", "F11", "Escape"})
    EXPECT_NE(std::string::npos, page.find(key)) << "the key " << key;
}

// One completion: the words typed so far (the last one being completed) in
// `folder`, and what the completion offers, sorted.
std::vector<std::string> completions(const std::string& prefix, const std::string& folder,
                                     const std::vector<std::string>& words) {
  std::string script = "source " + shellQuoted(prefix + "/share/bash-completion/completions/drec") +
                       "\nCOMP_WORDS=(" + shellQuoted(prefix + "/bin/drec");
  for (const std::string& word : words) script.append(" ").append(shellQuoted(word));
  script += ")\nCOMP_CWORD=" + std::to_string(words.size()) +
            "\n_drec\nprintf '%s\\n' \"${COMPREPLY[@]}\" | sort -u";
  const ProgramResult result = runShell(script, folder, {}, 20.0);
  EXPECT_EQ(0, result.exitStatus) << result.output;
  std::vector<std::string> offered;
  for (const std::string& line : lines(result.output))
    if (!line.empty()) offered.push_back(line);
  return offered;
}

TEST(InstalledCompletion, OffersSubcommandsOptionsRecordingsAndFolders) {
  const std::string prefix = installedPrefix();
  ASSERT_FALSE(prefix.empty());
  TempDirectory folder;
  for (const char* name : {"run.0.rec", "run.1.rec", "one.0.rec", "solo.rec", "notes.txt", "in dir/x.rec"}) {
    makeDirectories(std::filesystem::path(folder.path + "/" + name).parent_path().string());
    ASSERT_TRUE(writeFile(folder.path + "/" + name, {'D', 'R', 'E', 'C'}));
  }
  const struct {
    std::vector<std::string> words;
    std::vector<std::string> offered;
  } rows[] = {
      {{"pl"}, {"play"}},
      {{"h"}, {"hash", "help"}},
      {{"help", "ex"}, {"export"}},
      {{"play", "--sta"}, {"--start", "--start-frame"}},
      {{"info", "--"}, {"--help", "--json", "--no-horizon", "--quiet", "--textures"}},
      {{"--quiet", "check", "--j"}, {"--json"}},
      // Recordings: *.rec files, folders, and the template of a numbered set
      // (one.0.rec alone is no set).
      {{"info", ""}, {"in dir", "one.0.rec", "run.%i.rec", "run.0.rec", "run.1.rec", "solo.rec"}},
      {{"play", "run.%"}, {"run.%i.rec"}},
      {{"play", "--textures", ""}, {"in dir"}},
      {{"export", "solo.rec", "--out", "in"}, {"in dir"}},
      {{"verify", "solo.rec", "no"}, {"notes.txt"}},
      // A pixel is typed, not completed (its value name holds a comma).
      {{"pixel", "solo.rec", "--at", ""}, {}},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.offered, completions(prefix, folder.path, row.words))
        << "completing: drec " << argumentText(row.words);
  }
}

// bash-completion finds the file where it is installed, as an interactive
// shell loads it on the first Tab.
TEST(InstalledCompletion, BashCompletionLoadsItFromTheDataFolder) {
  const std::string prefix = installedPrefix();
  ASSERT_FALSE(prefix.empty());
  const ProgramResult loaded = runShell(
      "source /usr/share/bash-completion/bash_completion\n"
      "_completion_loader drec\ncomplete -p drec",
      "", {"XDG_DATA_DIRS=" + prefix + "/share", "BASH_COMPLETION_USER_DIR=/nonexistent"});
  EXPECT_EQ(0, loaded.exitStatus) << loaded.output;
  EXPECT_NE(std::string::npos, loaded.output.find("complete -F _drec drec")) << loaded.output;
}

// The desktop entry is valid, and with the MIME type in a private data
// folder a recording is recognised by its magic, by its extension, or both,
// and opens with drec play.
TEST(InstalledDesktopEntry, IsValidAndOpensRecordingsKnownByMagicOrExtension) {
  const std::string prefix = installedPrefix();
  ASSERT_FALSE(prefix.empty());
  const ProgramResult valid =
      runShell("desktop-file-validate " + shellQuoted(prefix + "/share/applications/drec.desktop"));
  EXPECT_EQ(0, valid.exitStatus);
  EXPECT_EQ("", valid.output);

  TempDirectory home;
  const std::string data = home.path + "/data";
  ASSERT_TRUE(makeDirectories(data + "/mime/packages"));
  ASSERT_TRUE(makeDirectories(data + "/applications"));
  std::filesystem::copy_file(prefix + "/share/mime/packages/drec.xml", data + "/mime/packages/drec.xml");
  std::filesystem::copy_file(prefix + "/share/applications/drec.desktop",
                             data + "/applications/drec.desktop");
  const std::vector<std::string> session = {"HOME=" + home.path, "XDG_DATA_HOME=" + data,
                                            "XDG_DATA_DIRS=/usr/share", "XDG_CURRENT_DESKTOP=",
                                            "DESKTOP_SESSION=", "XDG_CONFIG_HOME=" + home.path};
  const ProgramResult updated = runShell(
      "update-mime-database " + shellQuoted(data + "/mime") + " && update-desktop-database " +
          shellQuoted(data + "/applications"),
      "", session);
  ASSERT_EQ(0, updated.exitStatus) << updated.output;

  std::filesystem::copy_file(prefix + "/share/drec/demo/" + kDemoSegment0, home.path + "/demo.rec");
  std::filesystem::copy_file(home.path + "/demo.rec", home.path + "/demo.bin");
  ASSERT_TRUE(writeFile(home.path + "/notes.rec", {'n', 'o', 't', 'e', 's', '\n'}));
  ASSERT_TRUE(writeFile(home.path + "/notes.txt", {'n', 'o', 't', 'e', 's', '\n'}));
  const struct {
    const char* file;
    const char* type;
  } rows[] = {
      {"demo.rec", kMimeType},      // magic and extension
      {"demo.bin", kMimeType},      // the magic alone
      {"notes.rec", kMimeType},     // the extension alone
      {"notes.txt", "text/plain"},  // neither: not claimed
  };
  for (const auto& row : rows) {
    const ProgramResult type = runShell(std::string("xdg-mime query filetype ") + row.file, home.path, session);
    EXPECT_EQ(0, type.exitStatus) << type.output;
    EXPECT_EQ(std::string(row.type) + "\n", type.output) << row.file;
  }
  const ProgramResult opener = runShell(std::string("xdg-mime query default ") + kMimeType, "", session);
  EXPECT_EQ("drec.desktop\n", opener.output);
}

}  // namespace
}  // namespace drec::test
