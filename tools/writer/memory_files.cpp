#include "tools/writer/memory_files.hpp"

#include <cstring>

namespace drec {
namespace {

FileHandle openMemory(void* context, const char* name) {
  MemoryFiles& files = *static_cast<MemoryFiles*>(context);
  for (size_t i = 0; i < files.files.size(); ++i) {
    if (files.files[i].name != name) continue;
    size_t slot = 0;
    while (slot < files.handles.size() && files.handles[slot].fileIndex >= 0) ++slot;
    if (slot == files.handles.size()) files.handles.push_back(MemoryFileHandle{-1, 0});
    files.handles[slot] = MemoryFileHandle{static_cast<int>(i), 0};
    ++files.openCount;
    ++files.opens;
    if (files.openCount > files.maxOpenCount) files.maxOpenCount = files.openCount;
    return static_cast<FileHandle>(slot);
  }
  return kNoFile;
}

MemoryFileHandle* handleOf(MemoryFiles& files, FileHandle file) {
  if (file < 0 || static_cast<size_t>(file) >= files.handles.size()) return nullptr;
  MemoryFileHandle* handle = &files.handles[file];
  return handle->fileIndex >= 0 ? handle : nullptr;
}

int64_t lengthMemory(void* context, FileHandle file) {
  MemoryFiles& files = *static_cast<MemoryFiles*>(context);
  MemoryFileHandle* handle = handleOf(files, file);
  return handle ? static_cast<int64_t>(files.files[handle->fileIndex].bytes.size()) : 0;
}

int64_t readMemory(void* context, FileHandle file, uint8_t* destination, int64_t count) {
  if (count <= 0) return 0;
  MemoryFiles& files = *static_cast<MemoryFiles*>(context);
  MemoryFileHandle* handle = handleOf(files, file);
  int64_t delivered = 0;
  if (handle) {
    const std::vector<uint8_t>& bytes = files.files[handle->fileIndex].bytes;
    int64_t size = static_cast<int64_t>(bytes.size());
    if (handle->position < size) {
      delivered = size - handle->position < count ? size - handle->position : count;
      std::memcpy(destination, bytes.data() + handle->position, static_cast<size_t>(delivered));
      handle->position += delivered;
    }
  }
  std::memset(destination + delivered, 0, static_cast<size_t>(count - delivered));
  return delivered;
}

bool seekMemory(void* context, FileHandle file, int64_t offset) {
  MemoryFiles& files = *static_cast<MemoryFiles*>(context);
  MemoryFileHandle* handle = handleOf(files, file);
  if (!handle || offset < 0) return false;
  handle->position = offset;
  return true;
}

void closeMemory(void* context, FileHandle file) {
  MemoryFiles& files = *static_cast<MemoryFiles*>(context);
  MemoryFileHandle* handle = handleOf(files, file);
  if (!handle) return;
  handle->fileIndex = -1;
  --files.openCount;
}

}  // namespace

void addMemoryFile(MemoryFiles& files, const std::string& name, std::vector<uint8_t> bytes) {
  files.files.push_back(MemoryFile{name, std::move(bytes)});
}

FileAccess memoryFileAccess(MemoryFiles& files) {
  return FileAccess{&files, openMemory, lengthMemory, readMemory, seekMemory, closeMemory};
}

}  // namespace drec
