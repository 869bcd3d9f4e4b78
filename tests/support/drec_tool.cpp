#include "tests/support/drec_tool.hpp"

#include <cstdint>

#include "tests/support/run_program.hpp"
#include "tests/support/test_paths.hpp"

namespace drec::test {

DrecResult runDrec(const std::vector<std::string>& arguments, const std::string& workingDirectory,
                   DrecDisplay display, double timeoutSeconds, DrecOutput output,
                   const std::vector<std::string>& environment) {
  TempDirectory errors;
  const std::string errFile = errors.path + "/stderr";
  ProgramRun run;
  // The child's standard error goes to a file through the shell, and its
  // standard output where the test asks.
  const char* script = output == DrecOutput::Full     ? "f=$1; shift; exec \"$@\" 2>\"$f\" >/dev/full"
                       : output == DrecOutput::Closed ? "f=$1; shift; exec \"$@\" 2>\"$f\" >&-"
                                                      : "f=$1; shift; exec \"$@\" 2>\"$f\"";
  run.arguments = {"/bin/sh", "-c", script, "sh", errFile, buildDirectory() + "/tools/drec"};
  run.arguments.insert(run.arguments.end(), arguments.begin(), arguments.end());
  run.workingDirectory = workingDirectory;
  run.keepDisplay = display == DrecDisplay::X11;
  run.environment = environment;
  if (display == DrecDisplay::X11) run.environment.push_back("SDL_VIDEODRIVER=x11");
  run.timeoutSeconds = timeoutSeconds;
  const ProgramResult result = runProgram(run);
  DrecResult out;
  out.status = result.exitStatus;
  out.timedOut = result.timedOut;
  out.out = result.output;
  const std::vector<uint8_t> err = readFile(errFile);
  out.err.assign(err.begin(), err.end());
  return out;
}

std::string argumentText(const std::vector<std::string>& arguments) {
  std::string text;
  for (const std::string& argument : arguments) text += argument + " ";
  return text;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

}  // namespace drec::test
