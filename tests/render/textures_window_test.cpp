// Texture loading on a real context: the images that reached OpenGL are read
// back with glGetTexImage, one file of each depth and kind.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/display.hpp"
#include "render/gl_api.hpp"
#include "render/textures.hpp"
#include "tests/support/captured_console.hpp"
#include "tests/support/window_support.hpp"
#include "tools/writer/bmp_writer.hpp"
#include "tools/writer/memory_files.hpp"

namespace drec {
namespace {

constexpr uint32_t kMagenta = 0xFF00FF;

struct WindowCase {
  const char* name;
  BmpWriteSpec layout;
  std::vector<uint32_t> stored;    // as written, top picture row first
  std::vector<uint32_t> expected;  // 0xRRGGBB, top picture row first
};

std::vector<BmpColor> palette(std::initializer_list<uint32_t> colours) {
  std::vector<BmpColor> result;
  for (uint32_t c : colours) {
    result.push_back(BmpColor{static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c)});
  }
  return result;
}

std::string texturePath(TextureKey key) {
  char hex[17];
  textureKeyHex(key, hex);
  return std::string("Video/TexDump/") + hex + ".bmp";
}

// Alpha as the colour key gives it.
uint8_t keyedAlpha(uint32_t rgb) { return (rgb & 0xFCFCFC) ? 255 : 0; }

TEST(TexturesWindow, UploadedPixelsOfEveryDepth) {
  DREC_REQUIRE_DISPLAY();
  Display display{};
  ASSERT_TRUE(openDisplay(display, 64, 48, "drec textures test"));

  const WindowCase cases[] = {
      {"1 bit, 10 x 2",
       {.width = 10, .height = 2, .depth = 1, .palette = palette({0x000000, 0xFFC080})},
       {1, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 1, 1, 1, 1, 1, 1, 0, 0, 1},
       {0xFFC080, 0, 0, 0, 0, 0, 0, 0xFFC080, 0xFFC080, 0, 0, 0xFFC080, 0xFFC080, 0xFFC080, 0xFFC080,
        0xFFC080, 0xFFC080, 0, 0, 0xFFC080}},
      {"4 bit, 3 x 3",
       {.width = 3, .height = 3, .depth = 4,
        .palette = palette({0x000000, 0x110000, 0x002200, 0x000033, 0x444444, 0x555555, 0x666666, 0x777777,
                            0x888888, 0x999999, 0xAAAAAA, 0xBBBBBB, 0xCCCCCC, 0xDDDDDD, 0xEEEEEE, 0x0F0F0F})},
       {1, 2, 3, 15, 14, 13, 4, 0, 9},
       {0x110000, 0x002200, 0x000033, 0x0F0F0F, 0xEEEEEE, 0xDDDDDD, 0x444444, 0x000000, 0x999999}},
      {"8 bit, 3 x 2",
       {.width = 3, .height = 2, .depth = 8, .palette = palette({0x030303, 0x040000, 0x123456, 0xFEDCBA})},
       {0, 1, 2, 3, 2, 1},
       {0x030303, 0x040000, 0x123456, 0xFEDCBA, 0x123456, 0x040000}},
      {"16 bit 5-5-5, 2 x 2",
       {.width = 2, .height = 2, .depth = 16},
       {0x7C00, 0x03E0, 0x001F, 0x4210},
       {0xFF0000, 0x00FF00, 0x0000FF, 0x848484}},
      {"16 bit 5-6-5 bit fields, 3 x 1",
       {.width = 3, .height = 1, .depth = 16, .compression = 3, .masks = {0xF800, 0x07E0, 0x001F, 0}},
       {0xF800, 0x07E0, 0x8410},
       {0xFF0000, 0x00FF00, 0x848284}},
      {"24 bit top-down, 5 x 3",
       {.width = 5, .height = 3, .depth = 24, .topDown = true},
       {0x010203, 0x040506, 0x070809, 0x0A0B0C, 0x0D0E0F, 0x101112, 0x131415, 0x161718, 0x191A1B, 0x1C1D1E,
        0x202122, 0x232425, 0x262728, 0x292A2B, 0x2C2D2E},
       {0x010203, 0x040506, 0x070809, 0x0A0B0C, 0x0D0E0F, 0x101112, 0x131415, 0x161718, 0x191A1B, 0x1C1D1E,
        0x202122, 0x232425, 0x262728, 0x292A2B, 0x2C2D2E}},
      {"24 bit bottom-up, last row cut off, 2 x 3",
       {.width = 2, .height = 3, .depth = 24, .keepBytes = 54 + 16},
       {0xAA0000, 0xBB0000, 0x00CC00, 0x00DD00, 0x0000EE, 0x0000FF},
       {kMagenta, kMagenta, 0x00CC00, 0x00DD00, 0x0000EE, 0x0000FF}},
      {"32 bit, 2 x 2",
       {.width = 2, .height = 2, .depth = 32},
       {0xFF123456, 0x00ABCDEF, 0x80000003, 0x7F040404},
       {0x123456, 0xABCDEF, 0x000003, 0x040404}},
      {"32 bit 10-bit fields in a 124-byte header, 2 x 1",
       {.width = 2, .height = 1, .depth = 32, .compression = 3, .infoSize = 124,
        .masks = {0x3FF00000, 0x000FFC00, 0x000003FF, 0}},
       {(0x2ABu << 20) | (0x155u << 10) | 0x3FFu, 0x00000000},
       {0xAA55FF, 0x000000}},
      {"run-length 8 bit stays magenta, 2 x 2",
       {.width = 2, .height = 2, .depth = 8, .compression = 1, .palette = palette({0x123456})},
       {0, 0, 0, 0},
       {kMagenta, kMagenta, kMagenta, kMagenta}},
  };

  MemoryFiles files;
  RecordingHeader header{};
  int slot = 1;
  for (const WindowCase& row : cases) {
    TextureKey key = 0x1000 + static_cast<TextureKey>(slot);
    header.keys[slot++] = key;
    addMemoryFile(files, texturePath(key), writeBmp(row.layout, row.stored));
  }
  const int missingSlot = slot;
  header.keys[missingSlot] = 0xABCDEFull;

  TextureSlots slots{};
  test::CapturedConsole console;
  const GlApi gl = realGlApi();
  loadAllTextures(slots, header, kPlayerTexturesFolder, gl, memoryFileAccess(files),
                  test::capturingConsole(console));
  EXPECT_EQ(GLenum{GL_NO_ERROR}, glGetError());

  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ(static_cast<GLint>(slots.names[missingSlot]), bound) << "the last texture stays bound";

  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const WindowCase& row = cases[i];
    GLuint name = slots.names[i + 1];
    ASSERT_NE(0u, name) << row.name;
    glBindTexture(GL_TEXTURE_2D, name);
    GLint width = 0, height = 0, minFilter = 0, magFilter = 0, wrapS = 0, wrapT = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrapS);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrapT);
    EXPECT_EQ(row.layout.width, width) << row.name;
    EXPECT_EQ(row.layout.height, height) << row.name;
    EXPECT_EQ(GL_LINEAR, minFilter) << row.name;
    EXPECT_EQ(GL_LINEAR, magFilter) << row.name;
    EXPECT_EQ(GL_REPEAT, wrapS) << row.name;
    EXPECT_EQ(GL_REPEAT, wrapT) << row.name;
    if (width != row.layout.width || height != row.layout.height) continue;

    std::vector<uint8_t> texels(static_cast<size_t>(width) * height * 4, 0x5A);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    for (size_t p = 0; p < row.expected.size(); ++p) {
      uint32_t rgb = row.expected[p];
      const uint8_t* texel = texels.data() + 4 * p;
      EXPECT_EQ(rgb >> 16, texel[0]) << row.name << ": red of pixel " << p;
      EXPECT_EQ((rgb >> 8) & 0xFF, texel[1]) << row.name << ": green of pixel " << p;
      EXPECT_EQ(rgb & 0xFF, texel[2]) << row.name << ": blue of pixel " << p;
      EXPECT_EQ(keyedAlpha(rgb), texel[3]) << row.name << ": alpha of pixel " << p;
    }
  }

  // A missing file: the name exists with its parameters but has no image.
  glBindTexture(GL_TEXTURE_2D, slots.names[missingSlot]);
  GLint width = -1, minFilter = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
  EXPECT_EQ(0, width);
  EXPECT_EQ(GL_LINEAR, minFilter);
  EXPECT_NE(std::string::npos, console.text.find("Failed to open 'Video/TexDump/0000000000ABCDEF.bmp'\n"));
  EXPECT_EQ(GLenum{GL_NO_ERROR}, glGetError());
  closeDisplay(display);
}

}  // namespace
}  // namespace drec
