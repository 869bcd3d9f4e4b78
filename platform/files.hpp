// Read-only file access behind a small table of operations.
//
// Files are opened read-only as raw bytes; a file that cannot be opened is
// reported (a negative handle), never created. A read asks for n bytes at the
// current position or at a 1-based byte position (1 is the first byte); it
// delivers the bytes that exist, fills the rest of the destination with zero
// bytes, advances the position by the count delivered and returns that count.
// A short read is no error. Lengths and positions are 64-bit.
//
// The player uses the real table; tests and fuzzers fill one from memory.
#pragma once
#include <cstdint>

namespace drec {

using FileHandle = int;  // negative: no file
constexpr FileHandle kNoFile = -1;

struct FileAccess {
  void* context;
  FileHandle (*open)(void* context, const char* name);
  int64_t (*length)(void* context, FileHandle file);  // position unchanged
  int64_t (*read)(void* context, FileHandle file, uint8_t* destination, int64_t count);
  bool (*seek)(void* context, FileHandle file, int64_t offset);  // 0-based offset
  void (*close)(void* context, FileHandle file);
};

// The real file system (POSIX descriptors). A FIFO without a writer opens
// without waiting and reads as empty.
FileAccess realFileAccess();

constexpr char kNotRegularFile[] = "not a regular file (recordings are read with seeking)";
// Why `name` cannot be read as a recording: the system's reason when it does
// not open ("No such file or directory", "Is a directory", ...),
// kNotRegularFile for a FIFO, a device or a socket; null when it is a
// regular file that opens.
const char* fileOpenProblem(const char* name);

// Reads at the 1-based position `position`; the file is left positioned after
// the bytes delivered. The destination is zero-filled past the count.
int64_t readAtPosition(const FileAccess& files, FileHandle file, int64_t position,
                       uint8_t* destination, int64_t count);

// Reads at the current position, zero-filling the destination past the count.
inline int64_t readBytes(const FileAccess& files, FileHandle file, uint8_t* destination,
                         int64_t count) {
  return files.read(files.context, file, destination, count);
}

}  // namespace drec
