#include "tools/drec/output.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/clock.hpp"
#include "platform/console.hpp"

namespace drec {

namespace {

// The reason for the first failed write to standard output: the C library
// keeps only that one failed, and later calls change errno. Standard output
// is one per process, and so is this.
int standardOutputError = 0;

}  // namespace

void writeOut(const char* text, size_t length) {
  errno = 0;
  if (std::fwrite(text, 1, length, stdout) < length && standardOutputError == 0)
    standardOutputError = errno != 0 ? errno : EIO;
}
void printOut(const char* text) { writeOut(text, std::strlen(text)); }
void printOut(const std::string& text) { writeOut(text.data(), text.size()); }

bool standardOutputFailed() { return std::ferror(stdout) != 0; }

int finishStandardOutput(int status) {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  if (!flushed && standardOutputError == 0) standardOutputError = errno != 0 ? errno : EIO;
  if (flushed && !std::ferror(stdout)) return status;
  printError(std::string("cannot write standard output: ") +
             std::strerror(standardOutputError != 0 ? standardOutputError : EIO));
  return kExitUsage;
}

void printError(const std::string& text) {
  std::string line = "drec: " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

void appendFormat(std::string& out, const char* format, ...) {
  char buffer[512];
  va_list arguments;
  va_start(arguments, format);
  int length = std::vsnprintf(buffer, sizeof buffer, format, arguments);
  va_end(arguments);
  if (length < 0) return;
  if (static_cast<size_t>(length) < sizeof buffer) {
    out.append(buffer, static_cast<size_t>(length));
    return;
  }
  // Longer than the stack buffer (long file names): format again in place.
  size_t start = out.size();
  out.resize(start + static_cast<size_t>(length) + 1);
  va_start(arguments, format);
  std::vsnprintf(&out[start], static_cast<size_t>(length) + 1, format, arguments);
  va_end(arguments);
  out.resize(start + static_cast<size_t>(length));
}

std::string counted(int64_t count, const char* noun) {
  char digits[24];
  formatDecimal(count, digits);
  return std::string(digits) + " " + noun + (count == 1 ? "" : "s");
}

std::string decimalOrDash(int64_t value) {
  if (value < 0) return "-";
  char digits[24];
  formatDecimal(value, digits);
  return digits;
}

void startProgress(Progress& progress, const char* label) {
  progress = Progress{};
  progress.terminal = standardErrorIsTerminal();
  progress.startSeconds = clockSeconds();
  progress.label = label;
}

void updateProgress(Progress& progress, int64_t done, int64_t total) {
  if (!progress.terminal) return;
  const double now = clockSeconds();
  if (now - progress.startSeconds < 1.0) return;
  if (progress.shown && now - progress.lastDrawSeconds < 0.1) return;
  progress.shown = true;
  progress.lastDrawSeconds = now;
  char line[160];
  double percent = total > 0 ? 100.0 * static_cast<double>(std::min(done, total)) / static_cast<double>(total) : 0.0;
  int length = std::snprintf(line, sizeof line, "\r%s: %.0f%% (%.1f of %.1f MB)\033[K", progress.label,
                             percent, static_cast<double>(done) / 1e6, static_cast<double>(total) / 1e6);
  if (length > 0) std::fwrite(line, 1, std::min(static_cast<size_t>(length), sizeof line - 1), stderr);
  std::fflush(stderr);
}

void endProgress(Progress& progress) {
  if (!progress.shown) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  progress.shown = false;
}

}  // namespace drec
