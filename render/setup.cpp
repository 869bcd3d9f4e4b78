#include "render/setup.hpp"

namespace drec {

void renderSetup(const GlApi& gl, int width, int height) {
  gl.Viewport(0, 0, width, height);
  gl.MatrixMode(GL_PROJECTION);
  gl.LoadIdentity();
  // The near plane is -2, not +2: every vertex then lands at clip z = 2 with
  // clip w = its own w, so the triangle drawing's vertices with w below 2 are
  // clipped.
  gl.Perspective(60.0, static_cast<double>(width) / static_cast<double>(height), -2.0, 2.0);
  gl.MatrixMode(GL_MODELVIEW);
  gl.LoadIdentity();
  gl.Enable(GL_TEXTURE_2D);
  gl.ShadeModel(GL_SMOOTH);
  gl.ClearDepth(0.0);
  gl.Hint(GL_PERSPECTIVE_CORRECTION_HINT, GL_FASTEST);
  // OpenGL 1.3; where it is unknown it only raises an error nobody reads.
  gl.Hint(GL_TEXTURE_COMPRESSION_HINT, GL_FASTEST);
  gl.Hint(GL_POINT_SMOOTH_HINT, GL_NICEST);
  gl.Hint(GL_LINE_SMOOTH_HINT, GL_NICEST);
  // The only clear of the run: frames are drawn over what the last one left.
  gl.ClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  gl.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  gl.Enable(GL_BLEND);
  gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  gl.TexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  // Triangles cover each other in recording order, whatever their depth.
  gl.Disable(GL_DEPTH_TEST);
}

}  // namespace drec
