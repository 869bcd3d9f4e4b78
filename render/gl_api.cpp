#include "render/gl_api.hpp"

#include <GL/glu.h>

namespace drec {

GlApi realGlApi() {
  GlApi api{};
#define DREC_GL_ASSIGN(result, name, parameters) api.name = gl##name;
  DREC_GL_FUNCTIONS(DREC_GL_ASSIGN)
#undef DREC_GL_ASSIGN
  api.Perspective = gluPerspective;
  return api;
}

}  // namespace drec
