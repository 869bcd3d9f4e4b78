// Replays fuzz inputs through a fuzz target built as a plain program (no
// libFuzzer): each argument is a file or a folder of files, fed in name
// order. A target that finds a fault aborts, so the program fails with it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool replayFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Printed first, so that a fault names the input that caused it.
  std::fprintf(stderr, "%s\n", path.c_str());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<std::filesystem::path> paths;
    std::error_code error;
    if (std::filesystem::is_directory(argv[i], error)) {
      for (const auto& entry : std::filesystem::directory_iterator(argv[i], error)) {
        if (entry.is_regular_file()) paths.push_back(entry.path());
      }
      std::sort(paths.begin(), paths.end());
    } else {
      paths.emplace_back(argv[i]);
    }
    for (const auto& path : paths) {
      if (!replayFile(path)) return 1;
      ++replayed;
    }
  }
  std::printf("%i inputs replayed\n", replayed);
  // An empty corpus is a broken set-up, not a pass.
  return replayed > 0 ? 0 : 1;
}
