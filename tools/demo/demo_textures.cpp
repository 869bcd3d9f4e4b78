#include "tools/demo/demo_textures.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "tools/writer/bmp_writer.hpp"

namespace drec {
namespace {

constexpr double kPi = 3.14159265358979323846;


int channel(double value) {
  return static_cast<int>(std::lround(std::clamp(value, 0.0, 255.0)));
}

// 0xRRGGBB.
uint32_t rgb(double red, double green, double blue) {
  return static_cast<uint32_t>(channel(red) << 16 | channel(green) << 8 | channel(blue));
}

int redOf(uint32_t colour) { return static_cast<int>(colour >> 16 & 255); }
int greenOf(uint32_t colour) { return static_cast<int>(colour >> 8 & 255); }
int blueOf(uint32_t colour) { return static_cast<int>(colour & 255); }

constexpr uint32_t kKey = 0x000000;  // transparent in the player

// A picture, top row first: 0xRRGGBB values, or palette indices for the
// palette files.
struct Picture {
  int width;
  int height;
  std::vector<uint32_t> pixels;
  uint32_t& at(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
};

Picture blankPicture(int width, int height) {
  return Picture{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height, 0)};
}

// A picture of `width` x `height` with each pixel's value from
// `valueAt(x, y)`, row by row from the top.
template <typename ValueAt>
Picture paintedPicture(int width, int height, ValueAt valueAt) {
  Picture picture = blankPicture(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) picture.at(x, y) = valueAt(x, y);
  }
  return picture;
}

// Textures repeat, and the player filters linearly, so a sprite's edge
// texels blend with those of the opposite edge: a frame of colour key (or
// palette index 0) keeps a tree's trunk from showing above its crown.
void clearBorder(Picture& picture) {
  for (int x = 0; x < picture.width; ++x) picture.at(x, 0) = picture.at(x, picture.height - 1) = 0;
  for (int y = 0; y < picture.height; ++y) picture.at(0, y) = picture.at(picture.width - 1, y) = 0;
}

// Asphalt across the whole road (s: left edge to right edge, t: far end of a
// 6 m stretch at the top), with white edge lines, worn wheel tracks and the
// dashes of the two lane lines on the upper half.
Picture roadPicture() {
  constexpr int kSide = 128;
  return paintedPicture(kSide, kSide, [](int x, int y) {
    double u = (x + 0.5) / kSide;
    double v = (y + 0.5) / kSide;
    double grey = 92 + 22 * hashedFraction(x, y, 11) + 6 * hashedFraction(x / 4, y / 4, 12);
    for (double lane : {1.0 / 6, 3.0 / 6, 5.0 / 6}) {
      for (double wheel : {-0.05, 0.05}) {
        if (std::fabs(u - lane - wheel) < 0.022) grey -= 12;
      }
    }
    bool edgeLine = (u > 0.035 && u < 0.065) || (u > 0.935 && u < 0.965);
    bool dash = (std::fabs(u - 1.0 / 3) < 0.012 || std::fabs(u - 2.0 / 3) < 0.012) && v < 0.5;
    if (edgeLine || dash) {
      double paint = 214 + 30 * hashedFraction(x, y, 13);
      return rgb(paint, paint, paint - 10);
    }
    return rgb(grey, grey, grey + 5);
  });
}

// Red and white kerb stones, two pairs per 6 m, the outer edge shaded.
Picture kerbPicture() {
  return paintedPicture(16, 32, [](int x, int y) {
    bool red = (y / 8) % 2 == 0;
    double shade = (x < 3 || y % 8 == 0) ? 0.72 : 1.0;
    return red ? rgb(214 * shade, 36 * shade, 30 * shade) : rgb(236 * shade, 236 * shade, 232 * shade);
  });
}

// A panorama tile of blue mountains with snow behind green hills; the sky
// above them is the colour key. Seamless left to right.
Picture hillsPicture() {
  Picture picture = blankPicture(256, 64);
  for (int x = 0; x < picture.width; ++x) {
    double a = 2 * kPi * x / picture.width;
    double mountain = 36 + 11 * std::sin(a + 0.7) + 7 * std::sin(3 * a + 2.1) +
                      3 * std::sin(8 * a + 0.3) + 1.5 * std::sin(19 * a + 1.1);
    double hill = 13 + 5 * std::sin(2 * a + 1.9) + 3 * std::sin(5 * a + 0.4) +
                  1.2 * std::sin(13 * a + 2.7);
    for (int y = 0; y < picture.height; ++y) {
      double above = picture.height - 1 - y + 0.5;  // pixels above the bottom row
      double noise = hashedFraction(x, y, 21);
      uint32_t colour = kKey;
      if (above < hill) {
        double depth = (hill - above) / hill;
        colour = rgb(64 - 20 * depth + 12 * noise, 104 - 26 * depth + 14 * noise,
                     60 - 16 * depth + 8 * noise);
      } else if (above < mountain) {
        double top = mountain - above;
        double light = 1.0 - 0.25 * (above / mountain);
        if (top < 5 && mountain > 42) {
          colour = rgb(226 + 20 * noise, 232 + 16 * noise, 240 + 12 * noise);
        } else {
          colour = rgb((96 + 14 * noise) * light, (112 + 14 * noise) * light, (142 + 10 * noise) * light);
        }
      }
      picture.at(x, y) = colour;
    }
  }
  return picture;
}

// A soft cloud made of overlapping puffs; outside them the colour key.
Picture cloudPicture() {
  return paintedPicture(64, 32, [](int x, int y) {
    const double puffs[][3] = {{18, 20, 10}, {30, 14, 12}, {44, 18, 10}, {36, 22, 9}, {24, 23, 8}};
    double density = 0;
    for (const auto& puff : puffs) {
      double dx = (x + 0.5 - puff[0]) / puff[2];
      double dy = (y + 0.5 - puff[1]) / puff[2];
      density += std::exp(-(dx * dx + dy * dy) * 1.4);
    }
    if (density < 0.45) return kKey;
    double light = 200 + 50 * std::min(1.0, density - 0.45) - 30 * (y / 32.0);
    return rgb(light, light, light + 8);
  });
}

// A conifer of five layers on a short trunk, lit from the left. Palette
// indices: 0 key, 1-8 greens dark to light, 9-10 bark.
Picture pinePicture(std::vector<BmpColor>& palette) {
  palette = {{0, 0, 0},      {14, 44, 20},  {18, 54, 24},  {22, 64, 28},  {28, 76, 32},
             {34, 88, 36},   {42, 100, 42}, {52, 114, 48}, {66, 130, 56}, {70, 46, 26},
             {106, 72, 42}};
  return paintedPicture(64, 128, [](int x, int y) {
    const double centre = 31.5;
    double dx = x + 0.5 - centre;
    uint32_t index = 0;
    if (y > 100 && std::fabs(dx) < 3.2) index = dx < 0 ? 10 : 9;
    for (int layer = 0; layer < 5; ++layer) {
      double top = 2 + 19.0 * layer;
      double bottom = std::min(top + 34.0, 110.0);
      if (y < top || y > bottom) continue;
      double along = (y - top) / (bottom - top);
      double halfWidth = (3 + along * (11 + 4.2 * layer)) * (0.86 + 0.14 * hashedFraction(x, y, 31));
      if (std::fabs(dx) >= halfWidth) continue;
      double light = 4.6 - 2.4 * dx / halfWidth - 1.6 * along + 1.4 * hashedFraction(x, y, 32);
      index = static_cast<uint32_t>(std::clamp(static_cast<int>(std::lround(light)), 1, 8));
    }
    return index;
  });
}

// A round leafy tree. Palette indices: 0 key, 1-6 greens, 7-8 bark, 9 a
// sunlit yellow-green.
Picture roundTreePicture(std::vector<BmpColor>& palette) {
  palette = {{0, 0, 0},     {24, 58, 20},  {34, 74, 24},  {46, 92, 30},
             {60, 110, 36}, {76, 128, 44}, {92, 144, 52}, {72, 52, 34},
             {104, 80, 54}, {150, 176, 74}};
  return paintedPicture(64, 64, [](int x, int y) {
    const double blobs[][3] = {{32, 22, 17}, {19, 30, 12}, {45, 30, 12}, {32, 35, 13}, {25, 16, 9}};
    double px = x + 0.5;
    double py = y + 0.5;
    uint32_t index = 0;
    if (y >= 38 && std::fabs(px - 32) < 3.0 + (y > 58 ? 1.5 : 0)) index = px < 32 ? 8 : 7;
    bool leaf = false;
    for (const auto& blob : blobs) {
      double dx = px - blob[0];
      double dy = py - blob[1];
      if (dx * dx + dy * dy < blob[2] * blob[2] * (0.82 + 0.18 * hashedFraction(x, y, 41))) leaf = true;
    }
    if (leaf) {
      double light = 3.6 - (px - 26) / 9.0 - (py - 18) / 10.0 + 1.5 * hashedFraction(x, y, 42);
      int shade = std::clamp(static_cast<int>(std::lround(light)), 1, 7);
      index = shade == 7 ? 9 : static_cast<uint32_t>(shade);
    }
    return index;
  });
}

// A yellow curve board with dark chevrons pointing right, on a grey post.
Picture chevronPicture() {
  return paintedPicture(64, 64, [](int x, int y) {
    uint32_t colour = kKey;
    if (y >= 36 && x >= 29 && x < 35) {
      double shade = x < 31 ? 1.0 : 0.8;
      colour = rgb(150 * shade, 150 * shade, 156 * shade);
    }
    if (x >= 3 && x < 61 && y >= 6 && y < 38) {
      bool border = x < 5 || x >= 59 || y < 8 || y >= 36;
      double along = x - 0.9 * std::fabs(y - 21.5);
      bool chevron = std::fmod(along + 100.0, 18.0) < 7.0;
      colour = border || chevron ? rgb(40, 34, 28) : rgb(246, 196 + 10 * hashedFraction(x, y, 51), 34);
    }
    return colour;
  });
}

// A concrete bridge seen from the road: a deck with a railing on two piers;
// the opening under it (with rounded corners) and the gaps of the railing
// are the colour key.
Picture bridgePicture() {
  return paintedPicture(128, 64, [](int x, int y) {
    double concrete = 146 + 22 * hashedFraction(x, y, 61) + 8 * hashedFraction(x / 3, y / 3, 62);
    uint32_t colour = kKey;
    bool pier = x < 14 || x >= 114;
    if (pier) {
      double edge = (x == 13 || x == 114) ? 0.7 : 1.0;
      colour = rgb(concrete * 0.9 * edge, concrete * 0.9 * edge, concrete * 0.86 * edge);
    }
    if (y < 5) {
      bool post = x % 6 < 2;
      if (post || y < 2) colour = rgb(74, 76, 82);
      else colour = kKey;
    } else if (y < 17) {
      double stain = y > 13 ? 0.86 : 1.0;
      colour = rgb((concrete + 18) * stain, (concrete + 16) * stain, (concrete + 10) * stain);
    } else if (y < 20) {
      colour = rgb(88, 88, 90);
    } else if (!pier) {
      int dx = std::min(x - 14, 113 - x);
      int dy = y - 20;
      if (dx < 10 && dy < 10 && (10 - dx) * (10 - dx) + (10 - dy) * (10 - dy) > 100)
        colour = rgb(concrete * 0.8, concrete * 0.8, concrete * 0.78);
    }
    return colour;
  });
}

// The start and finish banner: a chequered band between red stripes.
// Palette indices: 1 red, 2 white, 3 dark grey (not black: black is the key).
Picture bannerPicture(std::vector<BmpColor>& palette) {
  palette = {{0, 0, 0}, {204, 30, 32}, {242, 242, 240}, {28, 28, 30}};
  return paintedPicture(64, 16, [](int x, int y) -> uint32_t {
    if (y < 2 || y >= 14) return 1;
    return ((x / 4) + ((y - 2) / 4)) % 2 == 0 ? 2 : 3;
  });
}

// A red car from behind: cabin and rear window, boot, tail lights (lit when
// braking), number plate, bumper and tyres; around it and between the
// tyres the colour key.
Picture carPicture(bool braking) {
  return paintedPicture(64, 40, [braking](int x, int y) {
    double px = x + 0.5;
    double fromCentre = std::fabs(px - 32);
    double noise = hashedFraction(x, y, braking ? 71 : 72) * 6;
    uint32_t colour = kKey;
    double cabinHalf = 16 + (y / 15.0) * 11;
    if (y < 15 && fromCentre < cabinHalf) {
      bool glass = y >= 3 && y < 13 && fromCentre < cabinHalf - 4;
      if (glass) {
        bool glint = std::fabs((px - 20) - (y - 3) * 1.4) < 2.5;
        colour = glint ? rgb(132, 150, 170) : rgb(46 + noise, 62 + noise, 84 + noise);
      } else {
        colour = rgb(150 + noise, 22, 28);
      }
    } else if (y >= 15 && y < 31 && fromCentre < 31) {
      double light = y < 17 ? 1.2 : 1.0 - (y - 17) * 0.018;
      colour = rgb((186 + noise) * light, 26 * light, 32 * light);
      bool lamp = y >= 18 && y < 23 && fromCentre > 18 && fromCentre < 29;
      if (lamp) {
        colour = braking ? rgb(255, 84 + 30 * (fromCentre < 23), 66) : rgb(112, 18, 22);
      }
      if (y >= 23 && y < 28 && fromCentre < 8) {
        bool letter = y >= 24 && y < 27 && (x % 3 != 0) && fromCentre < 6;
        colour = letter ? rgb(40, 40, 52) : rgb(232, 232, 222);
      }
    } else if (y >= 31 && y < 34 && fromCentre < 30) {
      colour = rgb(46, 46, 52);
      if (x >= 44 && x < 49 && y >= 32) colour = rgb(24, 24, 26);
    } else if (y >= 34 && fromCentre > 18 && fromCentre < 29) {
      colour = rgb(22 + noise, 22 + noise, 24 + noise);
    }
    return colour;
  });
}

// 5 x 7 glyphs, '#' = ink, in the order of kFontGlyphs.
const char* const kGlyphRows[][7] = {
    {" ### ", "#   #", "#  ##", "# # #", "##  #", "#   #", " ### "},  // 0
    {"  #  ", " ##  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "},  // 1
    {" ### ", "#   #", "    #", "   # ", "  #  ", " #   ", "#####"},  // 2
    {"#####", "   # ", "  #  ", "   # ", "    #", "#   #", " ### "},  // 3
    {"   # ", "  ## ", " # # ", "#  # ", "#####", "   # ", "   # "},  // 4
    {"#####", "#    ", "#### ", "    #", "    #", "#   #", " ### "},  // 5
    {"  ## ", " #   ", "#    ", "#### ", "#   #", "#   #", " ### "},  // 6
    {"#####", "    #", "   # ", "  #  ", " #   ", " #   ", " #   "},  // 7
    {" ### ", "#   #", "#   #", " ### ", "#   #", "#   #", " ### "},  // 8
    {" ### ", "#   #", "#   #", " ####", "    #", "   # ", " ##  "},  // 9
    {"     ", " ##  ", " ##  ", "     ", " ##  ", " ##  ", "     "},  // :
    {"     ", "     ", "     ", "     ", "     ", " ##  ", " ##  "},  // .
    {"    #", "    #", "   # ", "  #  ", " #   ", "#    ", "#    "},  // /
    {"     ", "     ", "     ", "#####", "     ", "     ", "     "},  // -
    {"     ", "     ", "     ", "     ", "     ", "     ", "     "},  // space
    {" ### ", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"},  // A
    {"#### ", "#   #", "#   #", "#### ", "#   #", "#   #", "#### "},  // B
    {" ### ", "#   #", "#    ", "#    ", "#    ", "#   #", " ### "},  // C
    {"#### ", "#   #", "#   #", "#   #", "#   #", "#   #", "#### "},  // D
    {"#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#####"},  // E
    {"#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#    "},  // F
    {" ### ", "#   #", "#    ", "# ###", "#   #", "#   #", " ####"},  // G
    {"#   #", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"},  // H
    {" ### ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "},  // I
    {"  ###", "   # ", "   # ", "   # ", "   # ", "#  # ", " ##  "},  // J
    {"#   #", "#  # ", "# #  ", "##   ", "# #  ", "#  # ", "#   #"},  // K
    {"#    ", "#    ", "#    ", "#    ", "#    ", "#    ", "#####"},  // L
    {"#   #", "## ##", "# # #", "# # #", "#   #", "#   #", "#   #"},  // M
    {"#   #", "#   #", "##  #", "# # #", "#  ##", "#   #", "#   #"},  // N
    {" ### ", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "},  // O
    {"#### ", "#   #", "#   #", "#### ", "#    ", "#    ", "#    "},  // P
    {" ### ", "#   #", "#   #", "#   #", "# # #", "#  # ", " ## #"},  // Q
    {"#### ", "#   #", "#   #", "#### ", "# #  ", "#  # ", "#   #"},  // R
    {" ####", "#    ", "#    ", " ### ", "    #", "    #", "#### "},  // S
    {"#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  "},  // T
    {"#   #", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "},  // U
    {"#   #", "#   #", "#   #", "#   #", "#   #", " # # ", "  #  "},  // V
    {"#   #", "#   #", "#   #", "# # #", "# # #", "# # #", " # # "},  // W
    {"#   #", "#   #", " # # ", "  #  ", " # # ", "#   #", "#   #"},  // X
    {"#   #", "#   #", " # # ", "  #  ", "  #  ", "  #  ", "  #  "},  // Y
    {"#####", "    #", "   # ", "  #  ", " #   ", "#    ", "#####"},  // Z
    {"  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "     ", "  #  "},  // !
    {" ### ", "#   #", "    #", "   # ", "  #  ", "     ", "  #  "},  // ?
    {"##   ", "##  #", "   # ", "  #  ", " #   ", "#  ##", "   ##"},  // %
    {"  #  ", "  #  ", " #   ", "     ", "     ", "     ", "     "},  // '
};
static_assert(sizeof kGlyphRows / sizeof kGlyphRows[0] == kFontColumns * kFontRows);
static_assert(sizeof kFontGlyphs - 1 == kFontColumns * kFontRows);

// The HUD font: each glyph at twice its size in a 16 x 20 cell, with a dark
// outline so that it reads on sky and road alike. Palette indices: 0 key,
// 1 ink (white; the vertex colour tints it), 2 outline.
Picture fontPicture(std::vector<BmpColor>& palette) {
  palette = {{0, 0, 0}, {250, 250, 250}, {20, 20, 26}};
  constexpr int kCellWidth = 16;
  constexpr int kCellHeight = 20;
  Picture picture = blankPicture(kCellWidth * kFontColumns, kCellHeight * kFontRows);
  for (int glyph = 0; glyph < kFontColumns * kFontRows; ++glyph) {
    int cellX = (glyph % kFontColumns) * kCellWidth;
    int cellY = (glyph / kFontColumns) * kCellHeight;
    for (int row = 0; row < 7; ++row) {
      for (int column = 0; column < 5; ++column) {
        if (kGlyphRows[glyph][row][column] != '#') continue;
        int x0 = cellX + 3 + 2 * column;
        int y0 = cellY + 3 + 2 * row;
        for (int y = y0 - 1; y <= y0 + 2; ++y) {
          for (int x = x0 - 1; x <= x0 + 2; ++x) {
            if (picture.at(x, y) == 0) picture.at(x, y) = 2;
          }
        }
        for (int y = y0; y <= y0 + 1; ++y) {
          for (int x = x0; x <= x0 + 1; ++x) picture.at(x, y) = 1;
        }
      }
    }
  }
  return picture;
}

// Stored values for each kind of file.
uint32_t as555(uint32_t colour) {
  return static_cast<uint32_t>((redOf(colour) >> 3) << 10 | (greenOf(colour) >> 3) << 5 |
                               (blueOf(colour) >> 3));
}
uint32_t as565(uint32_t colour) {
  return static_cast<uint32_t>((redOf(colour) >> 3) << 11 | (greenOf(colour) >> 2) << 5 |
                               (blueOf(colour) >> 3));
}
// Red in the low byte, then green, blue and an opaque alpha byte.
uint32_t asLowRed(uint32_t colour) {
  return static_cast<uint32_t>(redOf(colour)) | static_cast<uint32_t>(greenOf(colour)) << 8 |
         static_cast<uint32_t>(blueOf(colour)) << 16 | 0xFF000000u;
}

std::vector<uint32_t> converted(const Picture& picture, uint32_t (*store)(uint32_t)) {
  std::vector<uint32_t> values(picture.pixels.size());
  std::transform(picture.pixels.begin(), picture.pixels.end(), values.begin(), store);
  return values;
}

BmpWriteSpec specFor(const Picture& picture, uint16_t depth) {
  BmpWriteSpec layout;
  layout.width = picture.width;
  layout.height = picture.height;
  layout.depth = depth;
  return layout;
}

// A palette file: `picture` holds indices into `palette`.
Bytes paletteBmp(const Picture& picture, uint16_t depth, const std::vector<BmpColor>& palette) {
  BmpWriteSpec layout = specFor(picture, depth);
  layout.palette = palette;
  return writeBmp(layout, picture.pixels);
}

void setMasks(BmpWriteSpec& layout, uint32_t red, uint32_t green, uint32_t blue, uint32_t alpha) {
  layout.compression = 3;
  layout.masks[0] = red;
  layout.masks[1] = green;
  layout.masks[2] = blue;
  layout.masks[3] = alpha;
}

TextureKey keyOfSlot(int slot) {
  uint32_t high = mixBits(0xD3A0u + static_cast<uint32_t>(slot));
  uint32_t low = mixBits(0x51C0u + static_cast<uint32_t>(slot) * 977u);
  return static_cast<TextureKey>(high) << 32 | low;
}

}  // namespace

std::vector<DemoTexture> makeDemoTextures() {
  std::vector<DemoTexture> textures;
  auto add = [&textures](int slot, const char* what, Bytes file) {
    textures.push_back(DemoTexture{slot, keyOfSlot(slot), what, std::move(file)});
  };
  std::vector<BmpColor> palette;

  Picture road = roadPicture();
  add(kSlotRoad, "road, 24-bit", writeBmp(specFor(road, 24), road.pixels));

  Picture kerb = kerbPicture();
  add(kSlotKerb, "kerb, 16-bit 5-5-5", writeBmp(specFor(kerb, 16), converted(kerb, as555)));

  Picture hills = hillsPicture();
  BmpWriteSpec hillsSpec = specFor(hills, 24);
  hillsSpec.topDown = true;
  add(kSlotHills, "hills, 24-bit top-down", writeBmp(hillsSpec, hills.pixels));

  Picture cloud = cloudPicture();
  BmpWriteSpec cloudSpec = specFor(cloud, 16);
  setMasks(cloudSpec, 0xF800, 0x07E0, 0x001F, 0);
  add(kSlotCloud, "cloud, 16-bit 5-6-5 bit fields", writeBmp(cloudSpec, converted(cloud, as565)));

  Picture pine = pinePicture(palette);
  clearBorder(pine);
  add(kSlotPine, "pine, 8-bit palette", paletteBmp(pine, 8, palette));

  Picture roundTree = roundTreePicture(palette);
  clearBorder(roundTree);
  add(kSlotRoundTree, "round tree, 4-bit palette", paletteBmp(roundTree, 4, palette));

  Picture chevron = chevronPicture();
  clearBorder(chevron);
  BmpWriteSpec chevronSpec = specFor(chevron, 16);
  chevronSpec.infoSize = 56;
  setMasks(chevronSpec, 0xF800, 0x07E0, 0x001F, 0);
  add(kSlotChevron, "curve sign, 16-bit bit fields in a 56-byte header",
      writeBmp(chevronSpec, converted(chevron, as565)));

  Picture bridge = bridgePicture();
  clearBorder(bridge);
  add(kSlotBridge, "bridge, 32-bit", writeBmp(specFor(bridge, 32), bridge.pixels));

  Picture banner = bannerPicture(palette);
  add(kSlotBanner, "finish banner, 4-bit palette", paletteBmp(banner, 4, palette));

  Picture car = carPicture(false);
  clearBorder(car);
  BmpWriteSpec carSpec = specFor(car, 32);
  carSpec.infoSize = 108;
  setMasks(carSpec, 0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000);
  add(kSlotCar, "car, 32-bit bit fields", writeBmp(carSpec, converted(car, asLowRed)));

  Picture braking = carPicture(true);
  clearBorder(braking);
  BmpWriteSpec brakingSpec = carSpec;
  brakingSpec.infoSize = 124;
  add(kSlotCarBraking, "car braking, 32-bit bit fields",
      writeBmp(brakingSpec, converted(braking, asLowRed)));

  Picture font = fontPicture(palette);
  add(kSlotFont, "HUD font, 8-bit palette", paletteBmp(font, 8, palette));

  return textures;
}

}  // namespace drec
