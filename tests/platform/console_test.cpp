// Console output and the terminal keyboard. The keyboard cases run the probe
// program on a pseudo-terminal and type into it as a person would.
#include "platform/console.hpp"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/monotonic_clock.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/test_paths.hpp"

namespace drec {
namespace {

using test::nowSeconds;
using test::ProgramResult;
using test::ProgramRun;
using test::RunningProgram;
using test::StandardInput;

TEST(FormatDecimal, Table) {
  struct Row {
    int64_t value;
    const char* text;
  };
  const Row rows[] = {
      {0, "0"},
      {12, "12"},
      {-1, "-1"},
      {10, "10"},
      {-100, "-100"},
      {INT64_MAX, "9223372036854775807"},
      {INT64_MIN, "-9223372036854775808"},
      {INT64_MIN + 1, "-9223372036854775807"},
  };
  for (const Row& row : rows) {
    char buffer[32];
    std::memset(buffer, 'X', sizeof buffer);
    int length = formatDecimal(row.value, buffer);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(length > 0 ? length : 0)), row.text)
        << "value " << row.text;
    ASSERT_EQ(length, static_cast<int>(std::strlen(row.text))) << "value " << row.text;
    EXPECT_EQ(buffer[length], '\0') << "no terminator for " << row.text;
    // The promised buffer is 21 bytes; nothing past the terminator is touched.
    for (int i = length + 1; i < static_cast<int>(sizeof buffer); ++i)
      EXPECT_EQ(buffer[i], 'X') << "byte " << i << " written for " << row.text;
  }
}

struct Captured {
  std::string bytes;
  int writes = 0;
};

void captureWrite(void* context, const char* text, size_t length) {
  auto* captured = static_cast<Captured*>(context);
  captured->bytes.append(text, length);
  ++captured->writes;
}

TEST(ConsolePrint, CapturedBytesInOrder) {
  Captured captured;
  Console console{&captured, captureWrite};
  printLine(console, "Broken Stream");
  printText(console, "Done.");
  printLine(console, "");
  printText(console, "");
  printLine(console, "a\r");
  EXPECT_EQ(captured.bytes, std::string("Broken Stream\nDone.\na\r\n"));
}

std::string probePath() { return test::buildDirectory() + "/tests/platform/console_probe"; }

ProgramRun probeRun(std::vector<std::string> steps, StandardInput input) {
  ProgramRun run;
  run.arguments.push_back(probePath());
  for (std::string& step : steps) run.arguments.push_back(step);
  run.input = input;
  run.timeoutSeconds = 10;
  return run;
}

TEST(ConsolePrint, StandardOutputBytesExactly) {
  ProgramResult result = test::runProgram(probeRun(
      {"sayline", "Texture 0000000000ABCDEF", "sayline", "", "say", "Done."}, StandardInput::Null));
  ASSERT_TRUE(result.started);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output, "Texture 0000000000ABCDEF\n\nDone.");
}

TEST(ConsolePrint, PipeReaderSeesDoneWithoutLineEndAtOnce) {
  // "Done." has no line end: a buffered stream would hold it until exit.
  RunningProgram program;
  ASSERT_TRUE(test::startProgram(probeRun({"say", "Done.", "sleep", "5000"}, StandardInput::Null),
                                 program));
  bool seen = test::waitForOutput(program, "Done.", 3.0);
  bool stillRunning = kill(program.pid, 0) == 0;
  kill(program.pid, SIGTERM);
  test::finishProgram(program, 5);
  EXPECT_TRUE(seen) << "\"Done.\" did not reach the pipe";
  EXPECT_TRUE(stillRunning) << "the probe ended before \"Done.\" was seen";
}

void pauseMs(int milliseconds) { usleep(static_cast<useconds_t>(milliseconds) * 1000); }

// The number before " ms" on the probe's "waited" line, or -1.
long waitedMs(const std::string& output) {
  size_t at = output.find("waited ");
  if (at == std::string::npos) return -1;
  return std::strtol(output.c_str() + at + 7, nullptr, 10);
}

// The text of the probe's line starting with `prefix`, up to the line end.
std::string lineStarting(const std::string& output, const std::string& prefix) {
  size_t at = output.find(prefix);
  if (at == std::string::npos) return "(no line " + prefix + ")";
  size_t end = output.find_first_of("\r\n", at);
  return output.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// The pseudo-terminal's settings as the probe sees them (on Linux the master
// side reports the terminal side's settings).
bool terminalSettings(const RunningProgram& program, termios& settings) {
  return program.terminalFd >= 0 && tcgetattr(program.terminalFd, &settings) == 0;
}

// Waits until the probe's terminal is in key mode (the wait has switched it).
bool waitForKeyMode(const RunningProgram& program, double timeoutSeconds) {
  double deadline = nowSeconds() + timeoutSeconds;
  termios settings;
  while (nowSeconds() < deadline) {
    if (terminalSettings(program, settings) && (settings.c_lflag & ICANON) == 0) return true;
    pauseMs(2);
  }
  return false;
}

TEST(ConsoleKeyWait, KeyTypedBeforeTheWaitEndsItAtOnce) {
  // The key sits in the terminal's line buffer when the wait switches modes;
  // a switch that flushed input would lose it and wait for ever.
  RunningProgram program;
  ASSERT_TRUE(test::startProgram(
      probeRun({"ready", "sleep", "400", "wait", "takeq"}, StandardInput::Terminal), program));
  ASSERT_TRUE(test::waitForOutput(program, "ready", 5));
  test::typeIntoTerminal(program, "x");
  ASSERT_TRUE(test::waitForOutput(program, "waited", 5)) << program.output;
  test::typeIntoTerminal(program, "q");
  ProgramResult result = test::finishProgram(program, 5);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 0);
  long waited = waitedMs(result.output);
  EXPECT_GE(waited, 0);
  EXPECT_LT(waited, 1000) << "a key typed earlier must end the wait at once";
  EXPECT_NE(result.output.find("terminal same"), std::string::npos) << result.output;
  // The wait read the "x" away: the next key seen is the "q".
  EXPECT_EQ(lineStarting(result.output, "keys"), "keys") << result.output;
}

TEST(ConsoleKeyWait, KeyTypedDuringTheWaitEndsItPromptly) {
  RunningProgram program;
  ASSERT_TRUE(test::startProgram(probeRun({"wait"}, StandardInput::Terminal), program));
  ASSERT_TRUE(test::waitForOutput(program, "waiting", 5));
  ASSERT_TRUE(waitForKeyMode(program, 5));
  termios during;
  ASSERT_TRUE(terminalSettings(program, during));
  EXPECT_EQ(during.c_lflag & ECHO, 0u) << "the wait must not echo";
  EXPECT_NE(during.c_lflag & ISIG, 0u) << "Ctrl+C must keep working";
  pauseMs(200);
  EXPECT_EQ(kill(program.pid, 0), 0) << "the wait ended with no key";
  double typed = nowSeconds();
  test::typeIntoTerminal(program, "k");
  bool ended = test::waitForOutput(program, "waited", 5);
  double latency = nowSeconds() - typed;
  ProgramResult result = test::finishProgram(program, 5);
  ASSERT_TRUE(ended) << result.output;
  EXPECT_GE(waitedMs(result.output), 190);
  // Looks every 50 ms; the rest is slack for a busy machine.
  EXPECT_LT(latency, 0.05 + 0.45);
  EXPECT_NE(result.output.find("terminal same"), std::string::npos) << result.output;
  EXPECT_EQ(result.output.find('k'), std::string::npos) << "the key was echoed";
}

// Each multi-byte key ends the wait and is read away whole: the "z" typed in
// the same burst is the next key seen.
TEST(ConsoleKeyWait, MultiByteKeyIsReadAwayWhole) {
  struct Row {
    const char* name;
    std::string bytes;
  };
  const Row rows[] = {
      {"up", "\x1b[A"},
      {"up, application mode", "\x1bOA"},
      {"ctrl+right", "\x1b[1;5C"},
      {"F5", "\x1b[15~"},
      {"F1, Linux console", "\x1b[[A"},
      {"unknown sequence", "\x1b[200~"},
      {"alt+a", "\x1b" "a"},
      {"e acute in UTF-8", "\xc3\xa9"},
      {"euro sign in UTF-8", "\xe2\x82\xac"},
  };
  for (const Row& row : rows) {
    RunningProgram program;
    ASSERT_TRUE(test::startProgram(probeRun({"wait", "takeq"}, StandardInput::Terminal), program));
    ASSERT_TRUE(test::waitForOutput(program, "waiting", 5)) << row.name;
    ASSERT_TRUE(waitForKeyMode(program, 5)) << row.name;
    test::typeIntoTerminal(program, row.bytes + "z");
    ASSERT_TRUE(test::waitForOutput(program, "waited", 5)) << row.name;
    pauseMs(100);
    test::typeIntoTerminal(program, "q");
    ProgramResult result = test::finishProgram(program, 5);
    EXPECT_EQ(lineStarting(result.output, "keys"), "keys 7A") << row.name;
    EXPECT_NE(result.output.find("terminal same"), std::string::npos) << row.name;
  }
}

TEST(ConsoleKeyWait, LoneEscapeEndsTheWaitAndLeavesTheNextKey) {
  RunningProgram program;
  ASSERT_TRUE(test::startProgram(probeRun({"wait", "takeq"}, StandardInput::Terminal), program));
  ASSERT_TRUE(test::waitForOutput(program, "waiting", 5));
  ASSERT_TRUE(waitForKeyMode(program, 5));
  test::typeIntoTerminal(program, "\x1b");
  ASSERT_TRUE(test::waitForOutput(program, "waited", 5)) << program.output;
  test::typeIntoTerminal(program, "b");
  pauseMs(100);
  test::typeIntoTerminal(program, "q");
  ProgramResult result = test::finishProgram(program, 5);
  EXPECT_EQ(lineStarting(result.output, "keys"), "keys 62");
}

TEST(ConsoleKeyWait, NoTerminalReturnsAtOnce) {
  ProgramResult result =
      test::runProgram(probeRun({"wait", "wait", "takeq", "escape"}, StandardInput::Null));
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_LT(waitedMs(result.output), 100) << result.output;
  EXPECT_EQ(lineStarting(result.output, "keys"), "keys (no q)");
  EXPECT_EQ(lineStarting(result.output, "escape"), "escape no");
}

// A signal during the wait ends the process by that signal, with the
// terminal as it was before.
TEST(ConsoleKeyWait, SignalEndsTheWaitWithTheTerminalRestored) {
  struct Row {
    const char* name;
    const char* typed;  // typed into the terminal, or null to send `signal`
    int signal;
  };
  const Row rows[] = {
      {"Ctrl+C", "\x03", SIGINT},
      {"Ctrl+\\", "\x1c", SIGQUIT},
      {"SIGTERM", nullptr, SIGTERM},
      {"SIGHUP", nullptr, SIGHUP},
  };
  for (const Row& row : rows) {
    RunningProgram program;
    ASSERT_TRUE(test::startProgram(probeRun({"ready", "sleep", "200", "wait"}, StandardInput::Terminal),
                                   program));
    ASSERT_TRUE(test::waitForOutput(program, "ready", 5)) << row.name;
    termios before;
    ASSERT_TRUE(terminalSettings(program, before)) << row.name;
    ASSERT_TRUE(waitForKeyMode(program, 5)) << row.name;
    if (row.typed)
      test::typeIntoTerminal(program, row.typed);
    else
      kill(program.pid, row.signal);
    // Let it end, then read the settings while the terminal still exists.
    int pid = program.pid;
    double deadline = nowSeconds() + 5;
    for (;;) {
      ASSERT_LT(nowSeconds(), deadline) << row.name << ": the probe did not end";
      pollfd entry{program.terminalFd, POLLIN, 0};
      if (poll(&entry, 1, 0) > 0 && (entry.revents & POLLIN) != 0) {
        char buffer[256];
        ssize_t got = read(program.terminalFd, buffer, sizeof buffer);  // keep it draining
        (void)got;
      }
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        EXPECT_TRUE(WIFSIGNALED(status)) << row.name;
        if (WIFSIGNALED(status)) {
          EXPECT_EQ(WTERMSIG(status), row.signal) << row.name;
        }
        break;
      }
      pauseMs(5);
    }
    termios after;
    bool read = terminalSettings(program, after);
    program.pid = -1;
    if (program.outputFd >= 0) close(program.outputFd);
    ASSERT_TRUE(read) << row.name;
    EXPECT_EQ(after.c_lflag, before.c_lflag) << row.name;
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]) << row.name;
    EXPECT_EQ(after.c_cc[VTIME], before.c_cc[VTIME]) << row.name;
  }
}

// Takes keys until a "q" typed apart from the row's bytes.
std::string takenKeys(const std::string& typed) {
  RunningProgram program;
  if (!test::startProgram(probeRun({"ready", "takeq"}, StandardInput::Terminal), program))
    return "(not started)";
  if (!test::waitForOutput(program, "ready", 5)) return "(no ready)";
  test::typeIntoTerminal(program, typed);
  pauseMs(150);
  test::typeIntoTerminal(program, "q");
  ProgramResult result = test::finishProgram(program, 5);
  return lineStarting(result.output, "keys");
}

TEST(ConsoleTakeKey, KeysAsEntries) {
  struct Row {
    const char* name;
    std::string typed;
    const char* keys;
  };
  const Row rows[] = {
      {"letter", "a", "keys 61"},
      {"lone escape", "\x1b", "keys 1B"},
      {"up", "\x1b[A", "keys FF48"},
      {"down, application mode", "\x1bOB", "keys FF50"},
      {"left", "\x1b[D", "keys FF4B"},
      {"ctrl+right", "\x1b[1;5C", "keys FF4D"},
      {"home", "\x1b[H", "keys FF47"},
      {"home, tilde", "\x1b[1~", "keys FF47"},
      {"end, tilde", "\x1b[4~", "keys FF4F"},
      {"insert", "\x1b[2~", "keys FF52"},
      {"delete", "\x1b[3~", "keys FF53"},
      {"page up", "\x1b[5~", "keys FF49"},
      {"page down", "\x1b[6~", "keys FF51"},
      {"F1", "\x1bOP", "keys FF3B"},
      {"F1, Linux console", "\x1b[[A", "keys FF3B"},
      {"F5, Linux console", "\x1b[[E", "keys FF3F"},
      {"shift+F3", "\x1b[1;2R", "keys FF3D"},
      {"F5", "\x1b[15~", "keys FF3F"},
      {"F6", "\x1b[17~", "keys FF40"},
      {"F10", "\x1b[21~", "keys FF44"},
      {"F11", "\x1b[23~", "keys FF57"},
      {"F12", "\x1b[24~", "keys FF58"},
      {"e acute in UTF-8", "\xc3\xa9", "keys E9"},
      {"euro sign in UTF-8", "\xe2\x82\xac", "keys 3F"},
      {"alt+x is skipped", "\x1bx", "keys"},
      {"unknown sequence is skipped", "\x1b[200~", "keys"},
      {"keys in a burst, in order", "a\x1b[Ab\x1bOSc", "keys 61 FF48 62 FF3E 63"},
  };
  for (const Row& row : rows) EXPECT_EQ(takenKeys(row.typed), row.keys) << row.name;
}

TEST(ConsoleTakeKey, NoSequenceReadsAsTheCloseRequest) {
  // Every final byte after ESC [ and ESC O, and every ESC [ n ~ up to 40.
  std::string typed;
  for (int final = 0x40; final <= 0x7E; ++final) {
    if (final == '[') continue;  // ESC [ [ x is the Linux console's form
    typed += std::string("\x1b[") + static_cast<char>(final);
    typed += std::string("\x1bO") + static_cast<char>(final);
  }
  for (int number = 0; number <= 40; ++number) typed += "\x1b[" + std::to_string(number) + "~";
  std::string keys = takenKeys(typed);
  ASSERT_EQ(keys.find("(no"), std::string::npos) << keys;
  EXPECT_EQ(keys.find("FF6B"), std::string::npos) << keys;
  // Every entry is a 0xFF pair: no byte of a sequence leaked out as a character.
  for (size_t at = keys.find(' '); at != std::string::npos; at = keys.find(' ', at + 1))
    EXPECT_EQ(keys.compare(at + 1, 2, "FF"), 0) << keys.substr(at);
}

TEST(ConsoleEscapeWaiting, LoneEscapeOnly) {
  struct Row {
    const char* name;
    std::string typed;
    const char* drop;  // what the plain form reports, then the keys still waiting
    const char* keep;  // what the keeping form reports
  };
  const Row rows[] = {
      {"lone escape", "\x1b", "escape yes|keys", "escape yes kept"},
      {"up arrow", "\x1b[A", "escape no|keys", "escape no kept FF48"},
      {"F4, application mode", "\x1bOS", "escape no|keys", "escape no kept FF3E"},
      {"alt+b", "\x1b" "b", "escape no|keys", "escape no kept"},
      {"letter then escape", "a\x1b", "escape yes|keys", "escape yes kept 61"},
      {"nothing", "", "escape no|keys", "escape no kept"},
  };
  for (const Row& row : rows) {
    for (bool keep : {false, true}) {
      RunningProgram program;
      ASSERT_TRUE(test::startProgram(
          probeRun({"ready", "sleep", "150", keep ? "escapekeep" : "escape", "takeq"},
                   StandardInput::Terminal),
          program));
      ASSERT_TRUE(test::waitForOutput(program, "ready", 5)) << row.name;
      test::typeIntoTerminal(program, row.typed);
      ASSERT_TRUE(test::waitForOutput(program, "escape ", 5)) << row.name;
      test::typeIntoTerminal(program, "q");
      ProgramResult result = test::finishProgram(program, 5);
      std::string escape = lineStarting(result.output, "escape ");
      if (keep) {
        EXPECT_EQ(escape, row.keep) << row.name;
      } else {
        EXPECT_EQ(escape + "|" + lineStarting(result.output, "keys"), row.drop) << row.name;
      }
    }
  }
}

TEST(ConsoleEscapeWaiting, KeysAfterTheEscapeStayWaiting) {
  RunningProgram program;
  ASSERT_TRUE(test::startProgram(
      probeRun({"ready", "escape", "takeq"}, StandardInput::Terminal), program));
  ASSERT_TRUE(test::waitForOutput(program, "ready", 5));
  // Typed while the probe looks, and apart: Escape and "c" waiting together
  // would read as Alt+c. The pause leaves a slow (sanitized, loaded) probe
  // time to see the Escape alone.
  test::typeIntoTerminal(program, "\x1b");
  pauseMs(300);
  test::typeIntoTerminal(program, "c\x1b[B");
  ASSERT_TRUE(test::waitForOutput(program, "escape ", 5));
  pauseMs(60);
  test::typeIntoTerminal(program, "q");
  ProgramResult result = test::finishProgram(program, 5);
  EXPECT_EQ(lineStarting(result.output, "escape "), "escape yes");
  EXPECT_EQ(lineStarting(result.output, "keys"), "keys 63 FF50");
}

TEST(ConsoleTakeKey, TerminalSettingsUnchangedBetweenLooks) {
  RunningProgram program;
  // The probe waits a moment after "ready" before it starts looking, so that
  // the settings read here are the ones before any look.
  ASSERT_TRUE(test::startProgram(probeRun({"ready", "sleep", "300", "takeq", "sleep", "500"},
                                          StandardInput::Terminal),
                                 program));
  ASSERT_TRUE(test::waitForOutput(program, "ready", 5));
  termios before;
  ASSERT_TRUE(terminalSettings(program, before));
  pauseMs(400);
  // While the probe looks every 5 ms, the terminal is canonical nearly always.
  int canonical = 0;
  for (int i = 0; i < 40; ++i) {
    termios settings;
    if (terminalSettings(program, settings) && (settings.c_lflag & ICANON) != 0) ++canonical;
    pauseMs(5);
  }
  EXPECT_GE(canonical, 30);
  test::typeIntoTerminal(program, "q");
  ASSERT_TRUE(test::waitForOutput(program, "keys", 5));
  termios after;
  ASSERT_TRUE(terminalSettings(program, after));
  ProgramResult result = test::finishProgram(program, 5);
  EXPECT_EQ(lineStarting(result.output, "keys"), "keys");
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
  EXPECT_EQ(after.c_cc[VTIME], before.c_cc[VTIME]);
}

}  // namespace
}  // namespace drec
