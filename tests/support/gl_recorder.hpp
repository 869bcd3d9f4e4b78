// A GlApi that records every call with its arguments, so tests can check the
// GL calls of code under test without a context (or with one: set `forward`
// to the real table and the calls are recorded and then made).
//
// The table's functions are plain function pointers with no context, so they
// record into the most recently constructed GlRecorder that is still alive;
// a GL call with none alive fails the test.
//
//   GlRecorder recorder;
//   const GlApi gl = recordingGlApi();
//   renderSetup(gl, 640, 480);
//   EXPECT_EQ(recorder.count(GlFunction::BlendFunc), 1);
//   EXPECT_EQ(recorder.texts()[0], "Viewport(0, 0, 640, 480)");
#pragma once
#include <GL/gl.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "render/gl_api.hpp"

namespace drec::test {

enum class GlFunction {
#define DREC_GL_ENUMERATOR(result, name, parameters) name,
  DREC_GL_FUNCTIONS(DREC_GL_ENUMERATOR)
      Perspective,
  DREC_GL_EXTENSION_FUNCTIONS(DREC_GL_ENUMERATOR)
#undef DREC_GL_ENUMERATOR
};

// "Viewport", "BlendFunc", ... (the GlApi member name).
const char* glFunctionName(GlFunction function);

struct GlArgument {
  enum class Kind { Signed, Unsigned, Real, Pointer };
  Kind kind;
  int64_t integer;  // Signed and Unsigned (GLint, GLsizei, GLenum, GLuint, GLbitfield, ...)
  double real;      // GLfloat, GLclampf, GLdouble, GLclampd, held exactly
  const void* pointer;
};

struct GlCall {
  GlFunction function;
  std::vector<GlArgument> arguments;
  // TexImage2D and TexSubImage2D with 8-bit or packed 32-bit texels: a copy
  // of the image as it was at the call, rows packed tightly (the unpack
  // alignment and row length set through PixelStorei are honoured).
  std::vector<uint8_t> pixels;

  int64_t integer(size_t index) const;  // argument as an integer (fails the test if it is not)
  double real(size_t index) const;      // argument as a floating-point value
  // "BlendFunc(0x302, 0x303)": unsigned arguments in hex, signed in decimal,
  // floating-point ones with 9 significant digits, pointers as "ptr" or "null".
  std::string text() const;
};

struct GlRecorder {
  std::vector<GlCall> calls;
  // Also make every call through this table (after recording it); null: only record.
  const GlApi* forward = nullptr;
  // Without `forward`: GenTextures and GenQueries hand out names from here
  // on, GetIntegerv answers from `integers` (0 for a name not in it) and
  // GetQueryObjectuiv with `samplesPassed`.
  GLuint nextTextureName = 1;
  GLuint nextQueryName = 1;
  std::map<GLenum, GLint> integers;
  GLuint samplesPassed = 0;
  // Followed through PixelStorei to copy texel data.
  GLint unpackAlignment = 4;
  GLint unpackRowLength = 0;

  GlRecorder();
  ~GlRecorder();
  GlRecorder(const GlRecorder&) = delete;
  GlRecorder& operator=(const GlRecorder&) = delete;

  int count(GlFunction function) const;
  std::vector<const GlCall*> callsTo(GlFunction function) const;
  // Every call as text, in order; compare with an expected list for a readable failure.
  std::vector<std::string> texts() const;
  void clear() { calls.clear(); }
};

// The recording table (the same functions for every recorder).
GlApi recordingGlApi();

}  // namespace drec::test
