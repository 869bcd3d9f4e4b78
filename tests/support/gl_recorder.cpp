#include "tests/support/gl_recorder.hpp"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <tuple>
#include <type_traits>

namespace drec::test {
namespace {

GlRecorder* activeRecorder = nullptr;
// Recorders nest: each remembers the one it displaced, which the destructor restores.
std::vector<GlRecorder*> displaced;

template <typename T>
GlArgument toArgument(T value) {
  GlArgument argument{GlArgument::Kind::Signed, 0, 0.0, nullptr};
  if constexpr (std::is_pointer_v<T>) {
    argument.kind = GlArgument::Kind::Pointer;
    argument.pointer = value;
  } else if constexpr (std::is_floating_point_v<T>) {
    argument.kind = GlArgument::Kind::Real;
    argument.real = static_cast<double>(value);
  } else if constexpr (std::is_unsigned_v<T>) {
    argument.kind = GlArgument::Kind::Unsigned;
    argument.integer = static_cast<int64_t>(value);
  } else {
    argument.integer = static_cast<int64_t>(value);
  }
  return argument;
}

// Bytes per texel, or 0 for a combination the recorder does not copy.
int bytesPerTexel(GLenum format, GLenum type) {
  if (type == GL_UNSIGNED_INT_8_8_8_8 || type == GL_UNSIGNED_INT_8_8_8_8_REV) return 4;
  if (type != GL_UNSIGNED_BYTE) return 0;
  switch (format) {
    case GL_RGBA:
    case GL_BGRA:
      return 4;
    case GL_RGB:
    case GL_BGR:
      return 3;
    case GL_LUMINANCE_ALPHA:
      return 2;
    case GL_LUMINANCE:
    case GL_ALPHA:
    case GL_RED:
      return 1;
    default:
      return 0;
  }
}

void copyPixels(const GlRecorder& recorder, GlCall& call, GLsizei width, GLsizei height,
                GLenum format, GLenum type, const GLvoid* pixels) {
  const int texel = bytesPerTexel(format, type);
  if (!pixels || texel == 0 || width <= 0 || height <= 0) return;
  const size_t row = static_cast<size_t>(width) * static_cast<size_t>(texel);
  const size_t rowTexels = static_cast<size_t>(recorder.unpackRowLength > 0 ? recorder.unpackRowLength
                                                                           : width);
  const size_t alignment = static_cast<size_t>(recorder.unpackAlignment > 0 ? recorder.unpackAlignment : 1);
  const size_t stride = (rowTexels * static_cast<size_t>(texel) + alignment - 1) / alignment * alignment;
  const auto* bytes = static_cast<const uint8_t*>(pixels);
  call.pixels.reserve(row * static_cast<size_t>(height));
  for (size_t y = 0; y < static_cast<size_t>(height); ++y) {
    call.pixels.insert(call.pixels.end(), bytes + y * stride, bytes + y * stride + row);
  }
}

// What the recorder does beyond recording, for the few calls that hand data
// back or pass data in; the rest only record.
template <GlFunction id, typename... Args>
void actOn(GlRecorder& recorder, GlCall& call, Args... args) {
  const std::tuple<Args...> values(args...);
  if constexpr (id == GlFunction::PixelStorei) {
    if (std::get<0>(values) == GL_UNPACK_ALIGNMENT) recorder.unpackAlignment = std::get<1>(values);
    if (std::get<0>(values) == GL_UNPACK_ROW_LENGTH) recorder.unpackRowLength = std::get<1>(values);
  } else if constexpr (id == GlFunction::TexImage2D) {
    copyPixels(recorder, call, std::get<3>(values), std::get<4>(values), std::get<6>(values),
               std::get<7>(values), std::get<8>(values));
  } else if constexpr (id == GlFunction::TexSubImage2D) {
    copyPixels(recorder, call, std::get<4>(values), std::get<5>(values), std::get<6>(values),
               std::get<7>(values), std::get<8>(values));
  } else if constexpr (id == GlFunction::GenTextures) {
    if (recorder.forward) return;
    for (GLsizei i = 0; i < std::get<0>(values); ++i) std::get<1>(values)[i] = recorder.nextTextureName++;
  } else if constexpr (id == GlFunction::GenQueries) {
    if (recorder.forward) return;
    for (GLsizei i = 0; i < std::get<0>(values); ++i) std::get<1>(values)[i] = recorder.nextQueryName++;
  } else if constexpr (id == GlFunction::GetQueryObjectuiv) {
    if (recorder.forward) return;
    *std::get<2>(values) = recorder.samplesPassed;
  } else if constexpr (id == GlFunction::GetIntegerv) {
    if (recorder.forward) return;
    const auto found = recorder.integers.find(std::get<0>(values));
    *std::get<1>(values) = found == recorder.integers.end() ? 0 : found->second;
  }
}

template <GlFunction id, auto member, typename Signature>
struct Recorded;

template <GlFunction id, auto member, typename Result, typename... Args>
struct Recorded<id, member, Result (*)(Args...)> {
  static Result call(Args... args) {
    GlRecorder* recorder = activeRecorder;
    if (!recorder) {
      ADD_FAILURE() << "gl" << glFunctionName(id) << " called with no GlRecorder alive";
      return Result();
    }
    recorder->calls.push_back(GlCall{id, {toArgument(args)...}, {}});
    actOn<id>(*recorder, recorder->calls.back(), args...);
    if (!recorder->forward) return Result();
    // A table from realGlApi() alone has no extension entry points.
    if (!(recorder->forward->*member)) {
      ADD_FAILURE() << "gl" << glFunctionName(id) << " is not in the forwarded table";
      return Result();
    }
    return (recorder->forward->*member)(args...);
  }
};

const char* const kNames[] = {
#define DREC_GL_NAME(result, name, parameters) #name,
    DREC_GL_FUNCTIONS(DREC_GL_NAME)
        "Perspective",
    DREC_GL_EXTENSION_FUNCTIONS(DREC_GL_NAME)
#undef DREC_GL_NAME
};

}  // namespace

const char* glFunctionName(GlFunction function) { return kNames[static_cast<int>(function)]; }

int64_t GlCall::integer(size_t index) const {
  if (index >= arguments.size() || arguments[index].kind == GlArgument::Kind::Real ||
      arguments[index].kind == GlArgument::Kind::Pointer) {
    ADD_FAILURE() << text() << ": argument " << index << " is not an integer";
    return 0;
  }
  return arguments[index].integer;
}

double GlCall::real(size_t index) const {
  if (index >= arguments.size() || arguments[index].kind != GlArgument::Kind::Real) {
    ADD_FAILURE() << text() << ": argument " << index << " is not floating-point";
    return 0.0;
  }
  return arguments[index].real;
}

std::string GlCall::text() const {
  std::string result = glFunctionName(function);
  result += '(';
  char buffer[40];
  for (size_t i = 0; i < arguments.size(); ++i) {
    const GlArgument& argument = arguments[i];
    switch (argument.kind) {
      case GlArgument::Kind::Signed:
        std::snprintf(buffer, sizeof buffer, "%" PRId64, argument.integer);
        break;
      case GlArgument::Kind::Unsigned:
        std::snprintf(buffer, sizeof buffer, "0x%" PRIx64, argument.integer);
        break;
      case GlArgument::Kind::Real:
        std::snprintf(buffer, sizeof buffer, "%.9g", argument.real);
        break;
      case GlArgument::Kind::Pointer:
        std::snprintf(buffer, sizeof buffer, "%s", argument.pointer ? "ptr" : "null");
        break;
    }
    if (i > 0) result += ", ";
    result += buffer;
  }
  result += ')';
  return result;
}

GlRecorder::GlRecorder() {
  displaced.push_back(activeRecorder);
  activeRecorder = this;
}

GlRecorder::~GlRecorder() {
  activeRecorder = displaced.back();
  displaced.pop_back();
}

int GlRecorder::count(GlFunction function) const {
  int total = 0;
  for (const GlCall& call : calls) total += call.function == function ? 1 : 0;
  return total;
}

std::vector<const GlCall*> GlRecorder::callsTo(GlFunction function) const {
  std::vector<const GlCall*> result;
  for (const GlCall& call : calls) {
    if (call.function == function) result.push_back(&call);
  }
  return result;
}

std::vector<std::string> GlRecorder::texts() const {
  std::vector<std::string> result;
  result.reserve(calls.size());
  for (const GlCall& call : calls) result.push_back(call.text());
  return result;
}

GlApi recordingGlApi() {
  GlApi api{};
#define DREC_GL_RECORD(result, name, parameters) \
  api.name = &Recorded<GlFunction::name, &GlApi::name, decltype(api.name)>::call;
  DREC_GL_FUNCTIONS(DREC_GL_RECORD)
  DREC_GL_EXTENSION_FUNCTIONS(DREC_GL_RECORD)
#undef DREC_GL_RECORD
  api.Perspective =
      &Recorded<GlFunction::Perspective, &GlApi::Perspective, decltype(api.Perspective)>::call;
  return api;
}

}  // namespace drec::test
