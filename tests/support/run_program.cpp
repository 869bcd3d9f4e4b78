#include "tests/support/run_program.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "tests/support/monotonic_clock.hpp"

namespace drec::test {
namespace {

// Reads what is there within `waitMs`; returns false at end of output.
bool collect(RunningProgram& program, int waitMs) {
  if (program.outputFd < 0) return false;
  pollfd entry{program.outputFd, POLLIN, 0};
  int ready = poll(&entry, 1, waitMs);
  if (ready <= 0) return ready == 0 || errno == EINTR;
  char buffer[4096];
  ssize_t got = read(program.outputFd, buffer, sizeof buffer);
  if (got > 0) {
    program.output.append(buffer, static_cast<size_t>(got));
    return true;
  }
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  close(program.outputFd);  // EOF, or EIO from a terminal whose child has gone
  if (program.terminalFd == program.outputFd) program.terminalFd = -1;
  program.outputFd = -1;
  return false;
}

}  // namespace

[[noreturn]] static void execChild(const ProgramRun& run) {
  if (!run.workingDirectory.empty() && chdir(run.workingDirectory.c_str()) != 0) _exit(126);
  if (!run.keepDisplay) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
  }
  for (const std::string& entry : run.environment) putenv(const_cast<char*>(entry.c_str()));
  std::vector<char*> arguments;
  for (const std::string& argument : run.arguments) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);
  execv(arguments[0], arguments.data());
  _exit(127);
}

bool startProgram(const ProgramRun& run, RunningProgram& program) {
  program = RunningProgram{};
  program.startSeconds = nowSeconds();
  if (run.input == StandardInput::Terminal) {
    // The terminal keeps its usual settings: canonical, echo, "\n" shown as "\r\n".
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) return false;
    if (pid == 0) execChild(run);
    program.pid = pid;
    program.outputFd = master;
    program.terminalFd = master;
    return true;
  }
  int outputPipe[2] = {-1, -1};
  if (pipe(outputPipe) != 0) return false;
  program.pid = fork();
  if (program.pid < 0) return false;
  if (program.pid == 0) {
    dup2(outputPipe[1], STDOUT_FILENO);
    close(outputPipe[0]);
    close(outputPipe[1]);
    int null = open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
    execChild(run);
  }
  close(outputPipe[1]);
  program.outputFd = outputPipe[0];
  return true;
}

bool waitForOutput(RunningProgram& program, const std::string& text, double timeoutSeconds) {
  double deadline = nowSeconds() + timeoutSeconds;
  while (program.output.find(text) == std::string::npos) {
    if (nowSeconds() > deadline) return false;
    if (!collect(program, 20) && program.outputFd < 0) return program.output.find(text) != std::string::npos;
  }
  return true;
}

void typeIntoTerminal(RunningProgram& program, const std::string& bytes) {
  if (program.terminalFd < 0) return;
  ssize_t written = write(program.terminalFd, bytes.data(), bytes.size());
  (void)written;
}

ProgramResult finishProgram(RunningProgram& program, double timeoutSeconds) {
  ProgramResult result;
  result.started = program.pid > 0;
  if (!result.started) return result;
  double deadline = nowSeconds() + timeoutSeconds;
  int status = 0;
  bool ended = false;
  while (!ended) {
    collect(program, 10);
    pid_t done = waitpid(program.pid, &status, WNOHANG);
    if (done == program.pid) ended = true;
    if (!ended && nowSeconds() > deadline) {
      result.timedOut = true;
      kill(program.pid, SIGKILL);
      waitpid(program.pid, &status, 0);
      ended = true;
    }
  }
  while (collect(program, 50)) {
  }
  result.seconds = nowSeconds() - program.startSeconds;
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.output = program.output;
  if (program.outputFd >= 0) close(program.outputFd);
  program.outputFd = -1;
  program.pid = -1;
  return result;
}

bool stillRunning(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

ProgramResult runProgram(const ProgramRun& run) {
  RunningProgram program;
  if (!startProgram(run, program)) return ProgramResult{};
  if (!run.terminalInput.empty()) {
    if (run.typeDelayMs > 0) {
      double until = nowSeconds() + run.typeDelayMs / 1000.0;
      while (nowSeconds() < until) collect(program, 10);
    }
    typeIntoTerminal(program, run.terminalInput);
  }
  return finishProgram(program, run.timeoutSeconds);
}

}  // namespace drec::test
