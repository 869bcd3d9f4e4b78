#include <unistd.h>

#include "platform/console.hpp"

namespace drec {

bool consoleHasTerminal() { return isatty(STDIN_FILENO) == 1; }

bool standardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace drec
