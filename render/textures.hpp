// TextureSlots: the OpenGL textures named by the recording's texture table,
// loaded once from "Video/TexDump/<16 hex digits>.bmp" before playback.
#pragma once
#include <GL/gl.h>

#include "platform/console.hpp"
#include "platform/files.hpp"
#include "recording/format.hpp"
#include "render/gl_api.hpp"

namespace drec {

struct TextureSlots {
  GLuint names[kTextureSlotCount + 1];  // by slot; 0: no texture (slot 0 always)
};

// For slots 1 to 32 in order: print the "Texture #" line, create the texture
// name and load its image. Prints "Failed to open '...'" for a missing file.
// The last texture loaded stays bound.
void loadAllTextures(TextureSlots& slots, const RecordingHeader& header, const GlApi& gl,
                     const FileAccess& files, const Console& console);

}  // namespace drec
