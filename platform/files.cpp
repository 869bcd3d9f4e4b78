#include "platform/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace drec {
namespace {

// Opens read-only without waiting: a FIFO without a writer would otherwise
// block the open itself. Directories are refused (errno EISDIR).
int openNonBlocking(const char* name, struct stat& info) {
  int descriptor;
  do {
    descriptor = ::open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) return -1;
  if (fstat(descriptor, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(descriptor);
    errno = EISDIR;
    return -1;
  }
  return descriptor;
}

// Handles are plain POSIX descriptors opened O_RDONLY: nothing is ever
// created. Reads block as usual once the file is open.
FileHandle openReal(void*, const char* name) {
  struct stat info;
  const int descriptor = openNonBlocking(name, info);
  if (descriptor < 0) return kNoFile;
  const int flags = fcntl(descriptor, F_GETFL);
  if (flags >= 0) fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK);
  return descriptor;
}

int64_t lengthReal(void*, FileHandle file) {
  struct stat info;
  if (file < 0 || fstat(file, &info) != 0) return 0;
  return static_cast<int64_t>(info.st_size);
}

int64_t readReal(void*, FileHandle file, uint8_t* destination, int64_t count) {
  if (count <= 0) return 0;
  int64_t delivered = 0;
  while (file >= 0 && delivered < count) {
    ssize_t got = ::read(file, destination + delivered, static_cast<size_t>(count - delivered));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    delivered += got;
  }
  std::memset(destination + delivered, 0, static_cast<size_t>(count - delivered));
  return delivered;
}

bool seekReal(void*, FileHandle file, int64_t offset) {
  if (file < 0 || offset < 0) return false;
  return lseek(file, static_cast<off_t>(offset), SEEK_SET) == offset;
}

void closeReal(void*, FileHandle file) {
  if (file >= 0) ::close(file);
}

}  // namespace

const char* fileOpenProblem(const char* name) {
  struct stat info;
  const int descriptor = openNonBlocking(name, info);
  if (descriptor < 0) return std::strerror(errno);
  ::close(descriptor);
  if (!S_ISREG(info.st_mode)) return kNotRegularFile;
  return nullptr;
}

FileAccess realFileAccess() {
  return FileAccess{nullptr, openReal, lengthReal, readReal, seekReal, closeReal};
}

int64_t readAtPosition(const FileAccess& files, FileHandle file, int64_t position,
                       uint8_t* destination, int64_t count) {
  if (count <= 0) return 0;
  if (position < 1 || !files.seek(files.context, file, position - 1)) {
    std::memset(destination, 0, static_cast<size_t>(count));
    return 0;
  }
  return files.read(files.context, file, destination, count);
}

}  // namespace drec
