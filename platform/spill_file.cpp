#include "platform/spill_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace drec {

std::string userCacheFolder() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache && *cache) return std::string(cache) + "/drec";
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.cache/drec";
  return "";
}

namespace {

// mkdir -p, folders made private to the user as caches are.
bool makeFolders(const std::string& folder, std::string& error) {
  for (size_t at = 1; at <= folder.size(); ++at) {
    if (at < folder.size() && folder[at] != '/') continue;
    const std::string part = folder.substr(0, at);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      error = part + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

}  // namespace

bool openSpillFile(SpillFile& file, const std::string& folder, std::string& error) {
  closeSpillFile(file);
  if (folder.empty()) {
    error = "no cache folder (neither XDG_CACHE_HOME nor HOME is set)";
    return false;
  }
  if (!makeFolders(folder, error)) return false;
  std::string name = folder + "/keyframes-XXXXXX";
  const int descriptor = mkstemp(name.data());
  if (descriptor < 0) {
    error = folder + ": " + std::strerror(errno);
    return false;
  }
  unlink(name.c_str());
  file.descriptor = descriptor;
  return true;
}

bool writeSpill(SpillFile& file, int64_t offset, const void* bytes, size_t count, std::string& error) {
  const auto* from = static_cast<const uint8_t*>(bytes);
  while (count > 0) {
    const ssize_t written = pwrite(file.descriptor, from, count, static_cast<off_t>(offset));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      error = written < 0 ? std::strerror(errno) : "nothing written";
      return false;
    }
    from += written;
    offset += written;
    count -= static_cast<size_t>(written);
  }
  return true;
}

bool readSpill(const SpillFile& file, int64_t offset, void* bytes, size_t count) {
  auto* to = static_cast<uint8_t*>(bytes);
  while (count > 0) {
    const ssize_t got = pread(file.descriptor, to, count, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    to += got;
    offset += got;
    count -= static_cast<size_t>(got);
  }
  return true;
}

void closeSpillFile(SpillFile& file) {
  if (file.descriptor >= 0) close(file.descriptor);
  file.descriptor = -1;
}

}  // namespace drec
