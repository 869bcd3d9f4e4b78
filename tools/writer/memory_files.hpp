// Files held in memory behind the FileAccess table, for tests and fuzzers.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.hpp"

namespace drec {

struct MemoryFile {
  std::string name;
  std::vector<uint8_t> bytes;
};

struct MemoryFileHandle {
  int fileIndex;  // -1: slot free
  int64_t position;
};

struct MemoryFiles {
  std::vector<MemoryFile> files;
  std::vector<MemoryFileHandle> handles;
  int openCount;     // files open right now
  int maxOpenCount;  // most files open at once
  int opens;         // successful opens so far
};

void addMemoryFile(MemoryFiles& files, const std::string& name, std::vector<uint8_t> bytes);
FileAccess memoryFileAccess(MemoryFiles& files);

}  // namespace drec
