// TextureSlots: the OpenGL textures named by the recording's texture table,
// loaded once from "<folder><16 hex digits>.bmp" before playback; the
// player's folder is "Video/TexDump/".
#pragma once
#include <GL/gl.h>

#include "platform/console.hpp"
#include "platform/files.hpp"
#include "recording/format.hpp"
#include "render/gl_api.hpp"

namespace drec {

constexpr char kPlayerTexturesFolder[] = "Video/TexDump/";

// How a slot's file became its texture, for tools that show the slots.
struct TextureLoad {
  int32_t width;  // the texture's size; 0 x 0: no image
  int32_t height;
  uint16_t depth;        // bits per pixel the file's header states (0: not read)
  int64_t rowsDecoded;   // of height; the rest is magenta
  const char* problem;   // null: decoded whole; otherwise why not, in a few words
};

struct TextureSlots {
  GLuint names[kTextureSlotCount + 1];       // by slot; 0: no texture (slot 0 always)
  bool fileMissing[kTextureSlotCount + 1];  // a non-empty slot whose file did not open
  TextureLoad loads[kTextureSlotCount + 1];
};

// For slots 1 to 32 in order: print the "Texture #" line, create the texture
// name and load its image from `folder` (ending in "/", or empty for the
// current directory). Prints "Failed to open '...'" for a missing file.
// The last texture loaded stays bound.
void loadAllTextures(TextureSlots& slots, const RecordingHeader& header, const char* folder,
                     const GlApi& gl, const FileAccess& files, const Console& console);

}  // namespace drec
