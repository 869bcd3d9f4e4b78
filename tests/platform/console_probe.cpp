// A tiny program for the console and program tests: runs the steps named on
// its command line in order and reports what it saw, one line each, so that
// a test can drive it on a pseudo-terminal or with no terminal at all.
//
//   ready            print "ready"
//   sleep MS         sleep
//   wait             print "waiting", run the console key wait, then print
//                    "waited MS ms" and "terminal same" or "terminal changed"
//   takeq            take keys until a "q" (at most 3 s): "keys A B FF48 ..."
//   escape           look for a lone Escape for up to 600 ms: "escape yes|no"
//   escapekeep       the same, keeping the keys passed over: "... kept 61 ..."
//   say TEXT         printText on the real standard output
//   sayline TEXT     printLine on the real standard output
//   program          make the program's directory current; "dir=..." "title=..."
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/clock.hpp"
#include "platform/console.hpp"
#include "platform/program.hpp"

namespace {

// The probe's own reports go straight to the descriptor, apart from the
// console under test.
void report(const std::string& line) {
  std::string text = line + "\n";
  ssize_t written = write(STDOUT_FILENO, text.data(), text.size());
  (void)written;
}

std::string hexByte(uint8_t byte) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", byte);
  return text;
}

std::string keyText(const uint8_t* bytes, int length) {
  std::string text;
  for (int i = 0; i < length; ++i) text += hexByte(bytes[i]);
  return text;
}

bool sameSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

void waitStep() {
  termios before;
  bool terminal = tcgetattr(STDIN_FILENO, &before) == 0;
  report("waiting");
  double start = drec::clockSeconds();
  drec::consoleKeyWait();
  double seconds = drec::clockSeconds() - start;
  report("waited " + std::to_string(static_cast<long>(seconds * 1000)) + " ms");
  if (!terminal) return;
  termios after;
  bool same = tcgetattr(STDIN_FILENO, &after) == 0 && sameSettings(before, after);
  report(same ? "terminal same" : "terminal changed");
}

void takeUntilQ() {
  std::string keys = "keys";
  double deadline = drec::clockSeconds() + 3.0;
  while (drec::clockSeconds() < deadline) {
    uint8_t bytes[2] = {0, 0};
    int length = -1;
    if (!drec::consoleTakeKey(bytes, &length)) {
      drec::sleepMilliseconds(5);
      continue;
    }
    if (length == 1 && bytes[0] == 'q') {
      report(keys);
      return;
    }
    keys += ' ';
    keys += keyText(bytes, length);
  }
  report(keys + " (no q)");
}

void escapeStep(bool keep) {
  drec::KeyBuffer passedOver;
  drec::clearKeyBuffer(passedOver);
  bool escape = false;
  double deadline = drec::clockSeconds() + 0.6;
  while (!escape && drec::clockSeconds() < deadline) {
    escape = keep ? drec::consoleEscapeWaiting(passedOver) : drec::consoleEscapeWaiting();
    if (!escape) drec::sleepMilliseconds(5);
  }
  std::string line = escape ? "escape yes" : "escape no";
  if (keep) {
    line += " kept";
    for (drec::KeyEntry entry = drec::popKey(passedOver); entry.length != 0;
         entry = drec::popKey(passedOver)) {
      line += ' ';
      line += keyText(entry.bytes, entry.length);
    }
  }
  report(line);
}

}  // namespace

int main(int argc, char** argv) {
  // SIGQUIT ends the probe in one test: no core file.
  rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  drec::Console console = drec::standardOutputConsole();
  for (int i = 1; i < argc; ++i) {
    std::string step = argv[i];
    bool hasValue = i + 1 < argc;
    if (step == "ready") {
      report("ready");
    } else if (step == "sleep" && hasValue) {
      drec::sleepMilliseconds(std::atoi(argv[++i]));
    } else if (step == "wait") {
      waitStep();
    } else if (step == "takeq") {
      takeUntilQ();
    } else if (step == "escape" || step == "escapekeep") {
      escapeStep(step == "escapekeep");
    } else if (step == "say" && hasValue) {
      drec::printText(console, argv[++i]);
    } else if (step == "sayline" && hasValue) {
      drec::printLine(console, argv[++i]);
    } else if (step == "program") {
      char directory[4096];
      bool changed = drec::makeProgramDirectoryCurrent();
      report(std::string("dir=") + (changed && getcwd(directory, sizeof directory) ? directory : "?"));
      char title[256];
      drec::programTitle(argv[0], title, sizeof title);
      report(std::string("title=") + title);
    } else {
      report("unknown step " + step);
      return 2;
    }
  }
  return 0;
}
