// The installed programs under the test's X server: drec play plays the
// bundled demo with no recording named (installed, and --demo in the build
// tree), drec-player started through its link in bin/ plays the demo from
// its own folder, and the Debian package holds the same tree and runs
// unpacked.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/install/installed_tree.hpp"
#include "tests/support/drec_tool.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/test_paths.hpp"
#include "tests/support/window_support.hpp"
#include "tests/support/x11_tools.hpp"

namespace drec::test {
namespace {

constexpr char kDemoTitle[] = "Recording_12_01_2013_13_41_13.%i.rec - drec play";

// Starts drec play from a folder that holds no recording, checks that its
// window shows the demo, and quits it with Escape.
void expectDemoPlaysAndQuits(const std::vector<std::string>& arguments) {
  SCOPED_TRACE(argumentText(arguments));
  TempDirectory elsewhere;
  ProgramRun run;
  run.arguments = arguments;
  run.workingDirectory = elsewhere.path;
  run.keepDisplay = true;
  run.environment = {"SDL_VIDEODRIVER=x11"};
  run.timeoutSeconds = 30;
  RunningProgram program;
  ASSERT_TRUE(startProgram(run, program));
  StopAtExit stop(program);
  const XWindowId window = waitForWindowByPid(program.pid, 15.0);
  ASSERT_NE(0u, window) << "no window";
  EXPECT_EQ(kDemoTitle, windowTitle(window));
  ASSERT_TRUE(focusWindow(window));
  ASSERT_TRUE(xdotool({"key", "--clearmodifiers", "Escape"}));
  const ProgramResult result = finishProgram(program, 10.0);
  EXPECT_FALSE(result.timedOut) << "Escape did not quit";
  EXPECT_EQ(0, result.exitStatus) << result.output;
}

TEST(InstalledPlay, PlaysTheDemoWithoutARecordingInstalledAndBuilt) {
  DREC_REQUIRE_DISPLAY();
  const std::string prefix = installedPrefix();
  ASSERT_FALSE(prefix.empty());
  expectDemoPlaysAndQuits({prefix + "/bin/drec", "play", "--quiet"});
  expectDemoPlaysAndQuits({buildDirectory() + "/tools/drec", "play", "--demo", "--quiet"});

  const DrecResult both = runDrec({"play", "--demo", "x.rec"}, ".", DrecDisplay::X11);
  EXPECT_EQ(2, both.status);
  EXPECT_EQ("drec: play: --demo plays the demo: give it no REC\ndrec: try 'drec play --help'\n", both.err);
}

// The player makes the folder of the file that bin/drec-player leads to its
// own, and finds the demo and its textures there through lib/drec/Video.
TEST(InstalledPlayer, PlaysTheDemoThroughItsLinkInBin) {
  DREC_REQUIRE_DISPLAY();
  const std::string prefix = installedPrefix();
  ASSERT_FALSE(prefix.empty());
  TempDirectory elsewhere;
  ProgramRun run;
  run.arguments = {prefix + "/bin/drec-player"};
  run.workingDirectory = elsewhere.path;
  run.keepDisplay = true;
  run.timeoutSeconds = 40;
  RunningProgram player;
  ASSERT_TRUE(startProgram(run, player));
  StopAtExit stop(player);
  const XWindowId window = waitForWindowByTitle("drec-player", 15.0);
  ASSERT_NE(0u, window) << "no player window: " << player.output;
  ASSERT_TRUE(focusWindow(window));
  // Escape counts while it is held at a present.
  ASSERT_TRUE(xdotool({"keydown", "Escape"}));
  usleep(500000);
  ASSERT_TRUE(xdotool({"keyup", "Escape"}));
  ASSERT_TRUE(waitForOutput(player, "Done.", 10.0)) << player.output;
  ASSERT_TRUE(xdotool({"key", "space"}));
  const ProgramResult result = finishProgram(player, 10.0);
  EXPECT_FALSE(result.timedOut) << "the key did not end the final wait";
  EXPECT_EQ(0, result.exitStatus);
  const std::vector<std::string> printed = lines(result.output);
  ASSERT_GE(printed.size(), 2u) << result.output;
  EXPECT_EQ("Done.", printed.back());
  for (size_t i = 0; i + 1 < printed.size(); ++i)
    EXPECT_EQ(0u, printed[i].rfind("Texture #", 0)) << "not a texture line: " << printed[i];
}

std::string outputOf(const std::string& script) {
  const ProgramResult result = runShell(script, "", {}, 60.0);
  EXPECT_EQ(0, result.exitStatus) << script << "\n" << result.output;
  return result.output;
}

TEST(DebianPackage, HoldsTheInstalledTreeAndRunsUnpacked) {
  DREC_REQUIRE_DISPLAY();
  TempDirectory work;
  const ProgramResult packed = runShell(std::string(DREC_CPACK_COMMAND) + " -G DEB --config " +
                                            shellQuoted(buildDirectory() + "/CPackConfig.cmake") +
                                            " -B " + shellQuoted(work.path),
                                        "", {}, 180.0);
  ASSERT_EQ(0, packed.exitStatus) << packed.output;
  const std::string package = work.path + "/drec_" DREC_PROJECT_VERSION "_amd64.deb";
  ASSERT_TRUE(std::filesystem::is_regular_file(package)) << packed.output;

  const std::string info = outputOf("dpkg-deb --info " + shellQuoted(package));
  for (const char* field : {"Package: drec\n", "Version: " DREC_PROJECT_VERSION "\n",
                            "Architecture: amd64\n", "Recommends: ffmpeg\n"})
    EXPECT_NE(std::string::npos, info.find(field)) << field << " not in\n" << info;
  // Depends, from the libraries the binaries link.
  for (const char* library : {"libc6", "libsdl2-2.0-0", "libpng16-16", "zlib1g"})
    EXPECT_NE(std::string::npos, info.find(library)) << library << " not in\n" << info;

  // The names (and link targets) in the package, without the listing's
  // modes, owners, sizes and times.
  const std::string contents = outputOf("dpkg-deb --contents " + shellQuoted(package) +
                                        " | sed -E 's/^([^ ]+ +){5}//'");
  for (const char* entry :
       {"./usr/bin/drec\n", "./usr/bin/drec-player -> ../lib/drec/drec-player\n",
        "./usr/lib/drec/drec-player\n", "./usr/lib/drec/Video -> ../../share/drec/demo/Video\n",
        "./usr/share/drec/demo/Video/TexDump/\n", "./usr/share/man/man1/drec.1\n",
        "./usr/share/applications/drec.desktop\n", "./usr/share/mime/packages/drec.xml\n",
        "./usr/share/bash-completion/completions/drec\n", "./usr/share/doc/drec/README.md\n"})
    EXPECT_NE(std::string::npos, contents.find(entry)) << entry << " not in\n" << contents;
  std::vector<std::string> inBin;
  for (const std::string& line : lines(contents))
    if (line.rfind("./usr/bin/", 0) == 0 && line != "./usr/bin/") inBin.push_back(line);
  EXPECT_EQ((std::vector<std::string>{"./usr/bin/drec",
                                      "./usr/bin/drec-player -> ../lib/drec/drec-player"}),
            inBin);

  const std::string root = work.path + "/root";
  outputOf("dpkg-deb -x " + shellQuoted(package) + " " + shellQuoted(root));
  const DrecResult described = [&] {
    ProgramRun run;
    run.arguments = {root + "/usr/bin/drec", "info", "--quiet",
                     root + "/usr/share/drec/demo/Video/Stream/Recording_12_01_2013_13_41_13.%i.rec"};
    const ProgramResult result = runProgram(run);
    return DrecResult{result.exitStatus, result.timedOut, result.output, ""};
  }();
  EXPECT_EQ(0, described.status) << described.out;
  EXPECT_NE(std::string::npos, described.out.find("screen                640 x 480")) << described.out;
  expectDemoPlaysAndQuits({root + "/usr/bin/drec", "play", "--demo", "--quiet"});
}

}  // namespace
}  // namespace drec::test
