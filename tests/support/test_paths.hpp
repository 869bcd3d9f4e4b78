// Paths for tests: the build and source folders, and temporary folders.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace drec::test {

std::string buildDirectory();   // DREC_BUILD_DIR, set by CTest
std::string sourceDirectory();  // DREC_SOURCE_DIR, set by CTest

// A fresh folder under the system temporary folder, removed by the destructor.
struct TempDirectory {
  std::string path;
  TempDirectory();
  ~TempDirectory();
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;
};

bool makeDirectories(const std::string& path);  // like mkdir -p
bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readFile(const std::string& path);
bool copyExecutable(const std::string& from, const std::string& to);
// Copies the built drec-player into `folder` as `name`; returns its path, or
// "" when it cannot. The player makes its own folder current, so each test
// plays from a folder of its own.
std::string copyPlayer(const std::string& folder, const std::string& name = "drec-player");

}  // namespace drec::test
