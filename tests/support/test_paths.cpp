#include "tests/support/test_paths.hpp"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace drec::test {

std::string buildDirectory() {
  const char* value = std::getenv("DREC_BUILD_DIR");
  return value ? value : ".";
}

std::string sourceDirectory() {
  const char* value = std::getenv("DREC_SOURCE_DIR");
  return value ? value : "..";
}

TempDirectory::TempDirectory() {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/drec-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const char* made = mkdtemp(buffer.data());
  path = made ? made : "";
}

TempDirectory::~TempDirectory() {
  std::error_code ignored;
  if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

bool makeDirectories(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  return !error;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) makeDirectories(parent.string());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool copyExecutable(const std::string& from, const std::string& to) {
  std::error_code error;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
  if (error) return false;
  return chmod(to.c_str(), 0755) == 0;
}

std::string copyPlayer(const std::string& folder, const std::string& name) {
  const std::string path = folder + "/" + name;
  return copyExecutable(buildDirectory() + "/player/drec-player", path) ? path : "";
}

}  // namespace drec::test
