// The built drec tool run as a program, its standard output and standard
// error kept apart, and the text helpers its tests share.
#pragma once
#include <string>
#include <vector>

namespace drec::test {

struct DrecResult {
  int status = -1;  // the exit status, or -1 when killed by a signal
  bool timedOut = false;
  std::string out;  // standard output
  std::string err;  // standard error
};

// Where the tool may draw: nowhere but SDL's offscreen driver (no display at
// all), or a hidden window under the test's X server, held to SDL's X11
// driver so that it cannot quietly fall back to the offscreen one.
enum class DrecDisplay { None, X11 };

// Where the tool's standard output goes: a pipe the test reads, a full
// device, or nowhere (the descriptor closed).
enum class DrecOutput { Pipe, Full, Closed };

// Runs build/tools/drec with `arguments` from `workingDirectory`, killing it
// after `timeoutSeconds`, with `environment`'s NAME=value entries set.
DrecResult runDrec(const std::vector<std::string>& arguments, const std::string& workingDirectory,
                   DrecDisplay display = DrecDisplay::None, double timeoutSeconds = 30.0,
                   DrecOutput output = DrecOutput::Pipe,
                   const std::vector<std::string>& environment = {});

// The arguments joined by spaces, each followed by one: a row's name in a
// failure message.
std::string argumentText(const std::vector<std::string>& arguments);

// The lines of `text` without their "\n"; a last line without one counts.
std::vector<std::string> lines(const std::string& text);

}  // namespace drec::test
