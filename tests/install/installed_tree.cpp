#include "tests/install/installed_tree.hpp"

#include <gtest/gtest.h>

#include <memory>

#include "tests/support/test_paths.hpp"

namespace drec::test {

const std::string& installedPrefix() {
  static std::unique_ptr<TempDirectory> stage;
  static std::string prefix;
  if (!stage) {
    stage = std::make_unique<TempDirectory>();
    const ProgramResult result =
        runShell("DESTDIR=" + shellQuoted(stage->path) + " " + DREC_CMAKE_COMMAND +
                     " --install " + shellQuoted(buildDirectory()) + " --prefix /usr",
                 "", {}, 120.0);
    if (result.exitStatus == 0) prefix = stage->path + "/usr";
    else ADD_FAILURE() << "cmake --install failed:\n" << result.output;
  }
  return prefix;
}

ProgramResult runShell(const std::string& script, const std::string& workingDirectory,
                       const std::vector<std::string>& environment, double timeoutSeconds) {
  ProgramRun run;
  run.arguments = {"/bin/bash", "--noprofile", "--norc", "-c", "exec 2>&1\n" + script};
  run.workingDirectory = workingDirectory;
  run.environment = environment;
  run.keepDisplay = true;
  run.timeoutSeconds = timeoutSeconds;
  return runProgram(run);
}

std::string shellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
  }
  quoted += '\'';
  return quoted;
}

}  // namespace drec::test
