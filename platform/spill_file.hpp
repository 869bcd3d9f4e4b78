// A scratch file for data that does not fit in memory (key frames of the
// picture): made in a folder, unlinked as soon as it is open, so that it
// belongs to this run alone and nothing is left when the program ends,
// however it ends.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace drec {

struct SpillFile {
  int descriptor = -1;  // -1: none
};

// The user's cache folder for drec: $XDG_CACHE_HOME/drec, or ~/.cache/drec
// when that is unset or empty; "" when neither can be named.
std::string userCacheFolder();
// Makes `folder` (and its parents) if need be, then the file. False with the
// system's reason in `error`.
bool openSpillFile(SpillFile& file, const std::string& folder, std::string& error);
// Whole writes and reads at a byte offset; false (with the reason) when the
// system says no, a full disk included.
bool writeSpill(SpillFile& file, int64_t offset, const void* bytes, size_t count, std::string& error);
bool readSpill(const SpillFile& file, int64_t offset, void* bytes, size_t count);
void closeSpillFile(SpillFile& file);

}  // namespace drec
