#include "tests/support/xwd_image.hpp"

#include <cstdio>

#include "tests/support/x11_tools.hpp"
#include "tools/demo/xwd_image.hpp"

namespace drec::test {

unsigned RgbImage::pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return 0;
  const size_t at = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
  return (unsigned{rgb[at]} << 16) | (unsigned{rgb[at + 1]} << 8) | unsigned{rgb[at + 2]};
}

// The one xwd decoder, shared with the screenshot tool.
bool decodeXwd(const std::vector<uint8_t>& file, RgbImage& image, std::string& error) {
  image = RgbImage{};
  XwdImage decoded;
  if (!drec::decodeXwd(file.data(), file.size(), decoded, error)) return false;
  image.width = decoded.width;
  image.height = decoded.height;
  image.rgb = std::move(decoded.rgb);
  return true;
}

bool captureWindow(unsigned long window, RgbImage& image, std::string& error) {
  std::vector<std::string> command = {"xwd", "-silent"};
  if (window == 0) {
    command.push_back("-root");
  } else {
    char id[32];
    std::snprintf(id, sizeof id, "0x%lx", window);
    command.push_back("-id");
    command.push_back(id);
  }
  std::string output;
  if (!runTool(command, 20.0, &output)) {
    error = "xwd failed or timed out";
    return false;
  }
  return decodeXwd(std::vector<uint8_t>(output.begin(), output.end()), image, error);
}

}  // namespace drec::test
