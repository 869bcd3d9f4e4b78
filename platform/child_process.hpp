// Another program run beside this one, fed through a pipe on its standard
// input while its standard error is read back: `drec video` streams raw
// frames into ffmpeg this way.
//
// The child stays in our process group, so that Ctrl+C on a terminal reaches
// it too; its standard output goes to /dev/null. Writes never block on a
// full pipe without also reading the child's standard error: a child that
// fills its error pipe would otherwise stop reading, and both would wait
// for ever. Writing to a child that has ended must not end this program by
// SIGPIPE: call ignoreBrokenPipes() first, and a write then reports Closed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace drec {

// The last bytes the child wrote on its standard error.
struct ChildErrorTail {
  char text[4096];
  size_t length;
};

struct ChildProcess {
  int pid;     // -1: none
  int input;   // our end of its standard input, -1 once closed
  int errors;  // our end of its standard error, -1 once it ended
  ChildErrorTail tail;
};

// The path of the program `name` as a shell finds it: each folder of PATH
// in turn (an empty entry is the current folder), the first regular file
// there that may be executed. False when there is none.
bool findProgram(const char* name, std::string& path);

// Starts the program at `arguments[0]` (a path) with those arguments and
// this program's environment. False with errno's value in `error` when it
// cannot be started.
bool startChild(ChildProcess& child, const std::vector<std::string>& arguments, int& error);

enum class ChildWrite {
  Written,      // all `count` bytes
  Closed,       // the child closed its standard input (it ended, most often)
  Interrupted,  // a signal arrived while waiting; `written` tells how far it got
  Failed,       // another error, in `error`
};

// Writes `count` bytes to the child's standard input, reading its standard
// error into the tail while the pipe is full. `written` counts the bytes
// taken.
ChildWrite writeToChild(ChildProcess& child, const uint8_t* bytes, size_t count, size_t& written,
                        int& error);

struct ChildEnd {
  bool exited;       // ended by exit, with `status`
  int status;
  int signal;        // otherwise the signal that ended it
  double cpuSeconds;  // user and system time the child used
};

// Closes the child's standard input, reads its standard error to the end
// and waits for it.
ChildEnd finishChild(ChildProcess& child);

}  // namespace drec
