#include "tests/support/player_folder.hpp"

#include <gtest/gtest.h>

namespace drec::test {

std::string defaultSegment(size_t number) {
  return "Video/Stream/Recording_12_01_2013_13_41_13." + std::to_string(number) + ".rec";
}

PlayerFolder::PlayerFolder(const std::string& name) : player(copyPlayer(folder.path, name)) {
  EXPECT_FALSE(player.empty()) << "cannot copy the built player into " << folder.path;
}

bool PlayerFolder::write(const std::string& name, const std::vector<uint8_t>& bytes) const {
  return writeFile(folder.path + "/" + name, bytes);
}

bool PlayerFolder::start(Keyboard keyboard) {
  if (player.empty()) return false;
  ProgramRun run;
  run.arguments = {player};
  run.keepDisplay = keyboard == Keyboard::Window;
  if (keyboard == Keyboard::Terminal) run.input = StandardInput::Terminal;
  return startProgram(run, program);
}

bool PlayerFolder::start(const std::vector<uint8_t>& recording, Keyboard keyboard) {
  return write(kDefaultSegment0, recording) && start(keyboard);
}

ProgramResult PlayerFolder::play(const std::vector<std::string>& arguments, const std::string& from,
                                 double timeoutSeconds) const {
  ProgramRun run;
  run.arguments = {player};
  run.arguments.insert(run.arguments.end(), arguments.begin(), arguments.end());
  run.workingDirectory = from;
  run.timeoutSeconds = timeoutSeconds;
  return runProgram(run);
}

}  // namespace drec::test
