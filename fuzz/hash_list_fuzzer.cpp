// Fuzz target: the frame hash list that drec verify reads, as bytes. Checks:
// the same input read in pieces of one line each gives the same hashes, or
// the same error on the same line; an error names a line of the input; a
// frame's line takes at least 20 bytes, so the hashes kept stay proportional
// to the input; and the hashes read, written back as drec hash writes them,
// read back the same.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/harness.hpp"
#include "tools/drec/hash_list.hpp"

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "hash list check failed: %s\n", what);
  std::abort();
}

// The list read whole: what it held, or where it stopped and why.
struct Reading {
  bool ok;
  drec::HashList list;
  drec::HashListError error;
};

Reading readWhole(const uint8_t* data, size_t size) {
  Reading reading{};
  reading.ok = drec::parseHashList(reading.list, data, size, reading.error);
  return reading;
}

bool sameReading(const Reading& a, const Reading& b) {
  if (a.ok != b.ok || a.list.hashes != b.list.hashes) return false;
  return a.ok || (a.error.line == b.error.line && a.error.text == b.error.text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace drec;
  fuzz::limitAllocations(fuzz::kAllocationLimit);
  const Reading whole = readWhole(data, size);

  Reading pieces{};
  pieces.ok = true;
  for (size_t start = 0; start < size && pieces.ok;) {
    const void* newline = std::memchr(data + start, '\n', size - start);
    const size_t end = newline ? static_cast<size_t>(static_cast<const uint8_t*>(newline) - data) + 1 : size;
    pieces.ok = parseHashList(pieces.list, data + start, end - start, pieces.error);
    start = end;
  }
  if (!sameReading(whole, pieces)) fail("read in pieces, the list reads differently");

  if (!whole.ok) {
    int64_t inputLines = size > 0 && data[size - 1] != '\n' ? 1 : 0;
    for (size_t i = 0; i < size; ++i) inputLines += data[i] == '\n' ? 1 : 0;
    if (whole.error.line < 1 || whole.error.line > inputLines) fail("the error names no line of the input");
    if (whole.error.text.empty()) fail("an error without a reason");
  }
  const size_t frames = whole.list.hashes.size();
  if (frames > 0 && frames * 21 - 1 > size) fail("more frames than lines of 20 bytes fit in the input");

  if (whole.ok) {
    std::string text;
    appendHashListHeader(text, 640, 480);
    for (size_t frame = 0; frame < frames; ++frame)
      appendHashLine(text, static_cast<int64_t>(frame), 0.25f, whole.list.hashes[frame]);
    const Reading again = readWhole(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    if (!again.ok || again.list.hashes != whole.list.hashes) fail("the hashes written back read differently");
  }
  return 0;
}
