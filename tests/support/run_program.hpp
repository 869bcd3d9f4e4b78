// Runs a program as a child process for end-to-end tests, with a timeout.
#pragma once
#include <string>
#include <vector>

namespace drec::test {

enum class StandardInput {
  Null,      // /dev/null: not a terminal, so the player's console waits end at once
  Terminal,  // a pseudo-terminal; `terminalInput` is typed into it after `typeDelayMs`
};

struct ProgramRun {
  std::vector<std::string> arguments;  // arguments[0] is the program path
  std::string workingDirectory;        // empty: the test's own
  std::vector<std::string> environment;  // extra NAME=value entries
  bool keepDisplay = false;  // false: DISPLAY is removed, so no window can open
  StandardInput input = StandardInput::Null;
  std::string terminalInput;
  int typeDelayMs = 0;
  double timeoutSeconds = 20.0;
};

struct ProgramResult {
  bool started = false;
  bool timedOut = false;
  int exitStatus = -1;  // the exit status, or -1 when killed by a signal
  int signal = 0;
  std::string output;  // standard output (and, on a terminal, what it echoed)
  double seconds = 0;  // wall time until it ended
};

struct RunningProgram {
  int pid = -1;
  int outputFd = -1;    // standard output (the terminal's master side on a terminal)
  int terminalFd = -1;  // pseudo-terminal master, or -1
  std::string output;   // collected so far
  double startSeconds = 0;
};

bool startProgram(const ProgramRun& run, RunningProgram& program);
// Collects output until it contains `text`; false on timeout or program end.
bool waitForOutput(RunningProgram& program, const std::string& text, double timeoutSeconds);
// Types bytes into the program's terminal (StandardInput::Terminal only).
void typeIntoTerminal(RunningProgram& program, const std::string& bytes);
// Waits for the end (killing it after `timeoutSeconds`) and collects the rest.
ProgramResult finishProgram(RunningProgram& program, double timeoutSeconds);
// Ends a started program when it goes out of scope, killing it if it still
// runs: a test that stops at a failed assertion leaves nothing running. Once
// finishProgram has collected the program, the guard has nothing to do.
struct StopAtExit {
  RunningProgram& program;
  explicit StopAtExit(RunningProgram& running) : program(running) {}
  ~StopAtExit() {
    if (program.pid > 0) finishProgram(program, 0.0);
  }
  StopAtExit(const StopAtExit&) = delete;
  StopAtExit& operator=(const StopAtExit&) = delete;
};
// Alive and not a zombie (reaping it here would hide its exit status).
bool stillRunning(int pid);
// startProgram, type `terminalInput` after `typeDelayMs`, finishProgram.
ProgramResult runProgram(const ProgramRun& run);

}  // namespace drec::test
