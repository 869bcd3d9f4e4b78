// The OpenGL and GLU calls the renderer makes, as one table of function
// pointers. The player fills it with the real entry points; tests fill it
// with recorders to count and check state calls. Pixels are still checked
// against a real context.
#pragma once
#include <GL/gl.h>

namespace drec {

#define DREC_GL_FUNCTIONS(X)                                                               \
  X(void, Viewport, (GLint x, GLint y, GLsizei width, GLsizei height))                     \
  X(void, MatrixMode, (GLenum mode))                                                       \
  X(void, LoadIdentity, (void))                                                            \
  X(void, Enable, (GLenum capability))                                                     \
  X(void, Disable, (GLenum capability))                                                    \
  X(void, ShadeModel, (GLenum mode))                                                       \
  X(void, ClearDepth, (GLclampd depth))                                                    \
  X(void, Hint, (GLenum target, GLenum mode))                                              \
  X(void, ClearColor, (GLclampf red, GLclampf green, GLclampf blue, GLclampf alpha))       \
  X(void, Clear, (GLbitfield mask))                                                        \
  X(void, BlendFunc, (GLenum source, GLenum destination))                                  \
  X(void, TexEnvi, (GLenum target, GLenum name, GLint value))                              \
  X(void, GenTextures, (GLsizei count, GLuint * names))                                    \
  X(void, BindTexture, (GLenum target, GLuint name))                                       \
  X(void, TexParameteri, (GLenum target, GLenum name, GLint value))                        \
  X(void, TexImage2D, (GLenum target, GLint level, GLint internalFormat, GLsizei width,    \
                       GLsizei height, GLint border, GLenum format, GLenum type,            \
                       const GLvoid* pixels))                                              \
  X(void, TexSubImage2D, (GLenum target, GLint level, GLint x, GLint y, GLsizei width,     \
                          GLsizei height, GLenum format, GLenum type, const GLvoid* pixels)) \
  X(void, PixelStorei, (GLenum name, GLint value))                                         \
  X(void, GetIntegerv, (GLenum name, GLint * values))                                      \
  X(void, Begin, (GLenum mode))                                                            \
  X(void, End, (void))                                                                     \
  X(void, TexCoord2f, (GLfloat s, GLfloat t))                                              \
  X(void, Color4f, (GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha))              \
  X(void, Vertex3f, (GLfloat x, GLfloat y, GLfloat z))                                     \
  X(void, ReadPixels, (GLint x, GLint y, GLsizei width, GLsizei height, GLenum format,     \
                       GLenum type, GLvoid * pixels))                                      \
  X(void, Finish, (void))                                                                  \
  X(void, Scissor, (GLint x, GLint y, GLsizei width, GLsizei height))                      \
  X(const GLubyte*, GetString, (GLenum name))

// Beyond GL 1.1: libGL need not export these, so they are asked of the
// driver once a context exists (loadGlExtensions in platform/view_window.hpp).
// Framebuffer objects, to draw a frame off screen and show it scaled;
// occlusion queries (GL 1.5), to learn which triangles reach a pixel.
#define DREC_GL_EXTENSION_FUNCTIONS(X)                                                     \
  X(void, GenFramebuffers, (GLsizei count, GLuint * names))                                \
  X(void, DeleteFramebuffers, (GLsizei count, const GLuint* names))                        \
  X(void, BindFramebuffer, (GLenum target, GLuint name))                                   \
  X(void, FramebufferTexture2D, (GLenum target, GLenum attachment, GLenum textureTarget,   \
                                 GLuint texture, GLint level))                             \
  X(GLenum, CheckFramebufferStatus, (GLenum target))                                       \
  X(void, GenRenderbuffers, (GLsizei count, GLuint * names))                               \
  X(void, DeleteRenderbuffers, (GLsizei count, const GLuint* names))                       \
  X(void, BindRenderbuffer, (GLenum target, GLuint name))                                  \
  X(void, RenderbufferStorage, (GLenum target, GLenum internalFormat, GLsizei width,       \
                                GLsizei height))                                           \
  X(void, FramebufferRenderbuffer, (GLenum target, GLenum attachment,                      \
                                    GLenum renderbufferTarget, GLuint renderbuffer))       \
  X(void, BlitFramebuffer, (GLint sourceX0, GLint sourceY0, GLint sourceX1, GLint sourceY1, \
                            GLint destinationX0, GLint destinationY0, GLint destinationX1,  \
                            GLint destinationY1, GLbitfield mask, GLenum filter))       \
  X(void, GenQueries, (GLsizei count, GLuint * names))                                     \
  X(void, DeleteQueries, (GLsizei count, const GLuint* names))                             \
  X(void, BeginQuery, (GLenum target, GLuint name))                                        \
  X(void, EndQuery, (GLenum target))                                                       \
  X(void, GetQueryObjectuiv, (GLuint name, GLenum parameter, GLuint * value))

struct GlApi {
#define DREC_GL_MEMBER(result, name, parameters) result(*name) parameters;
  DREC_GL_FUNCTIONS(DREC_GL_MEMBER)
  void (*Perspective)(GLdouble fieldOfViewY, GLdouble aspect, GLdouble zNear, GLdouble zFar);
  DREC_GL_EXTENSION_FUNCTIONS(DREC_GL_MEMBER)
  // GL 4.5 or ARB_clip_control, loaded with the others when the driver has
  // it (null otherwise): a framebuffer object drawn with the clip origin at
  // the upper left rounds exactly as a window's back buffer does.
  void (*ClipControl)(GLenum origin, GLenum depth);
#undef DREC_GL_MEMBER
};

// The table of the real libGL and libGLU entry points; those of
// DREC_GL_EXTENSION_FUNCTIONS are left null.
GlApi realGlApi();

}  // namespace drec
