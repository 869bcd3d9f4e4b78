#include "platform/program.hpp"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

namespace drec {
namespace {

// The executable's path from /proc/self/exe (symbolic links resolved), or
// false when it cannot be had in full.
bool executablePath(char (&path)[PATH_MAX]) {
  ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof path) return false;
  path[length] = '\0';
  return true;
}

}  // namespace

std::string programDirectory() {
  char path[PATH_MAX];
  if (!executablePath(path)) return "";
  char* lastSlash = std::strrchr(path, '/');
  if (!lastSlash) return "";
  if (lastSlash == path) return "/";
  return std::string(path, static_cast<size_t>(lastSlash - path));
}

bool makeProgramDirectoryCurrent() {
  char path[PATH_MAX];
  if (!executablePath(path)) return false;
  char* lastSlash = std::strrchr(path, '/');
  if (!lastSlash) return false;
  if (lastSlash == path) lastSlash[1] = '\0';  // the program sits in "/"
  else *lastSlash = '\0';
  return chdir(path) == 0;
}

void titleFromPath(const char* path, char* title, size_t capacity) {
  if (capacity == 0) return;
  const char* name = path ? path : "";
  if (const char* lastSlash = std::strrchr(name, '/')) name = lastSlash + 1;
  const char* lastDot = std::strrchr(name, '.');
  size_t length = lastDot ? static_cast<size_t>(lastDot - name) : std::strlen(name);
  if (length > capacity - 1) length = capacity - 1;
  std::memcpy(title, name, length);
  title[length] = '\0';
}

void programTitle(const char* argv0, char* title, size_t capacity) {
  char path[PATH_MAX];
  titleFromPath(executablePath(path) ? path : argv0, title, capacity);
}

void ignoreBrokenPipes() { signal(SIGPIPE, SIG_IGN); }

namespace {

// Written by the signal handler, read by the program's main flow: the one
// kind of state a handler may share.
volatile sig_atomic_t notedInterrupt = 0;

void noteInterrupt(int signalNumber) { notedInterrupt = signalNumber; }

constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

void noteInterrupts() {
  struct sigaction action {};
  action.sa_handler = noteInterrupt;
  sigemptyset(&action.sa_mask);
  for (int signalNumber : kInterruptSignals) sigaction(signalNumber, &action, nullptr);
}

int interruptNoted() { return notedInterrupt; }

void endByInterrupt(int signalNumber) {
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
  _exit(128 + signalNumber);  // the signal was blocked: the shell's status for it
}

}  // namespace drec
