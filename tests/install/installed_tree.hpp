// The project installed as a user installs it, for the tests of the
// installed tree: `cmake --install` of the build into a temporary folder,
// staged with DESTDIR under the prefix /usr. And a shell command run with
// its standard error joined to its standard output.
#pragma once
#include <string>
#include <vector>

#include "tests/support/run_program.hpp"

namespace drec::test {

// DESTDIR/usr of the one install this test program makes (on first use; the
// folder is removed when the program ends). "" when the install failed.
const std::string& installedPrefix();

// Runs `script` with bash (no profile, no rc file) in `workingDirectory`,
// standard error joined to standard output, killed after `timeoutSeconds`.
ProgramResult runShell(const std::string& script, const std::string& workingDirectory = "",
                       const std::vector<std::string>& environment = {},
                       double timeoutSeconds = 30.0);

// `text` quoted for the shell, between single quotes.
std::string shellQuoted(const std::string& text);

}  // namespace drec::test
