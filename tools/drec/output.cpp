#include "tools/drec/output.hpp"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
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

void startProgress(Progress& progress, const char* label, bool quiet) {
  progress = Progress{};
  progress.terminal = !quiet && standardErrorIsTerminal();
  progress.startSeconds = clockSeconds();
  progress.label = label;
}

std::string progressText(const char* label, int64_t frame, int64_t totalFrames, double fraction,
                         double elapsed) {
  std::string text;
  if (totalFrames > 0) {
    fraction = static_cast<double>(std::min(frame, totalFrames)) / static_cast<double>(totalFrames);
    appendFormat(text, "%s: frame %" PRId64 " of %" PRId64, label, frame, totalFrames);
  } else {
    appendFormat(text, "%s: frame %" PRId64, label, frame);
  }
  fraction = std::clamp(fraction, 0.0, 1.0);
  appendFormat(text, " (%d %%)", static_cast<int>(fraction * 100.0));
  if (elapsed > 0) appendFormat(text, ", %.0f fps", static_cast<double>(frame) / elapsed);
  if (fraction > 0) {
    const double left = elapsed * (1.0 - fraction) / fraction;
    if (left < 120)
      appendFormat(text, ", %.0f s left", left);
    else
      appendFormat(text, ", %.0f min left", left / 60);
  }
  return text;
}

void updateProgress(Progress& progress, int64_t frame, int64_t totalFrames, double fraction) {
  if (!progress.terminal) return;
  const double now = clockSeconds();
  if (now - progress.startSeconds < 1.0) return;
  if (progress.shown && now - progress.lastDrawSeconds < 0.1) return;
  progress.shown = true;
  progress.lastDrawSeconds = now;
  std::string line = "\r";
  line += progressText(progress.label, frame, totalFrames, fraction, now - progress.startSeconds);
  line += "\033[K";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void endProgress(Progress& progress) {
  if (!progress.shown) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  progress.shown = false;
}

void breakProgress(Progress& progress) {
  if (!progress.shown) return;
  std::fputs("\n", stderr);
  std::fflush(stderr);
  progress.shown = false;
}

}  // namespace drec
