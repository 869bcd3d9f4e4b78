// The built drec-player for end-to-end tests, copied into a fresh temporary
// folder (the player makes its own folder current, so each test plays from
// a folder of its own) with the files a test writes beside it; run to its
// end, or started and, however the test ends, stopped.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/run_program.hpp"
#include "tests/support/test_paths.hpp"

namespace drec::test {

// The recording the player plays when it is given none: the template of its
// segment files, and the first of them.
constexpr const char kDefaultTemplate[] = "Video/Stream/Recording_12_01_2013_13_41_13.%i.rec";
constexpr const char kDefaultSegment0[] = "Video/Stream/Recording_12_01_2013_13_41_13.0.rec";
std::string defaultSegment(size_t number);

// Where a started player reads its keys: from its window on the test's X
// server, or, with no display, from a terminal (a pseudo-terminal as its
// standard input).
enum class Keyboard { Window, Terminal };

struct PlayerFolder {
  TempDirectory folder;
  std::string player;  // the copy's path; "" when it could not be made
  RunningProgram program;  // the started copy
  StopAtExit stop{program};

  explicit PlayerFolder(const std::string& name = "drec-player");

  // Writes a file below the folder, making its parent folders.
  bool write(const std::string& name, const std::vector<uint8_t>& bytes) const;
  // Starts the copy with no argument; false when there is no copy.
  bool start(Keyboard keyboard);
  // The same with `recording` written first as kDefaultSegment0.
  bool start(const std::vector<uint8_t>& recording, Keyboard keyboard);
  // Runs the copy to its end with no display and standard input not a
  // terminal, from `from` (empty: the test's own folder).
  ProgramResult play(const std::vector<std::string>& arguments = {}, const std::string& from = "",
                     double timeoutSeconds = 20.0) const;
};

}  // namespace drec::test
