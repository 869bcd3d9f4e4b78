// What every drec subcommand writes: exit statuses, results on standard
// output, errors and usage problems on standard error ("drec: ..."), and a
// progress line on a terminal.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace drec {

// Exit statuses of every subcommand.
constexpr int kExitSuccess = 0;
constexpr int kExitDamaged = 1;  // the recording is damaged, or a verification failed
constexpr int kExitUsage = 2;    // a usage error, or input that cannot be read at all

// Standard output (results) and standard error (errors, usage, progress).
void writeOut(const char* text, size_t length);
void printOut(const char* text);
void printOut(const std::string& text);
// Whether a write to standard output has failed (a full disk, a closed
// descriptor): long output stops there.
bool standardOutputFailed();
// Flushes standard output at the end of a subcommand: `status` when
// everything was written, otherwise kExitUsage after "cannot write standard
// output: REASON" on standard error.
int finishStandardOutput(int status);
// "drec: " + text + "\n" on standard error.
void printError(const std::string& text);
// Text appended printf-style; the common way to build output lines.
void appendFormat(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
// A number in plain decimal, or "-" for a missing value (< 0).
std::string decimalOrDash(int64_t value);
// "1 frame", "2 frames": the count and the noun, plural unless the count is 1.
std::string counted(int64_t count, const char* noun);

// A progress line on standard error, shown only when standard error is a
// terminal, --quiet was not given and the work has taken more than a second;
// redrawn at most ten times a second, and erased at the end. It counts
// frames, with the frame rate and the time left:
// "export: frame 312 of 1500 (21 %), 64 fps, 18 s left".
struct Progress {
  bool terminal;
  bool shown;
  double startSeconds;
  double lastDrawSeconds;
  const char* label;
};
void startProgress(Progress& progress, const char* label, bool quiet);
// `frame` frames done of `totalFrames`; when the total is not known (0 or
// less), `fraction` (0 to 1) tells how much of the work is done.
void updateProgress(Progress& progress, int64_t frame, int64_t totalFrames, double fraction = 0);
// Erases the line.
void endProgress(Progress& progress);
// Leaves the line as it stands and ends it: the work was interrupted.
void breakProgress(Progress& progress);
// The text of the line, without the terminal's controls; `elapsed` seconds
// since the start.
std::string progressText(const char* label, int64_t frame, int64_t totalFrames, double fraction,
                         double elapsed);

}  // namespace drec
