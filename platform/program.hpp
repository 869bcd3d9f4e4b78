// The running program: its own directory, its name (the window title), and
// what becomes of its writes when a reader of its output goes away.
#pragma once
#include <cstddef>
#include <string>

namespace drec {

// Makes the directory holding the executable (from /proc/self/exe) the
// current directory. Returns false when it cannot; callers ignore that.
bool makeProgramDirectoryCurrent();

// The directory holding the executable (from /proc/self/exe, so a program
// started through a symbolic link gets the link's target's directory), or
// "" when it cannot be had.
std::string programDirectory();

// The executable's file name without its directory and without everything
// from its last "." (the window title). Writes at most `capacity` bytes,
// terminated. From /proc/self/exe, falling back to `argv0`.
void programTitle(const char* argv0, char* title, size_t capacity);

// A reader of standard output that goes away must not end the program by
// SIGPIPE: its writes then fail quietly and playback goes on.
void ignoreBrokenPipes();

// Ctrl+C (SIGINT), SIGTERM and SIGHUP are noted instead of ending the
// program at once, so that long work can stop cleanly between two steps (a
// file being written is finished, or removed, before the program ends).
void noteInterrupts();
// The signal noted since, or 0.
int interruptNoted();
// Ends the program by that signal, as it would have ended at once: whoever
// started it sees the signal.
[[noreturn]] void endByInterrupt(int signalNumber);

// The title rule alone, for a given path.
void titleFromPath(const char* path, char* title, size_t capacity);

}  // namespace drec
