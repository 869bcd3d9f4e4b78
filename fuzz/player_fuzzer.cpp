// Fuzz target: the whole player over a recording in memory. The input is
// split into segment files at each "|SEG|" (see fuzz/harness.hpp); drawing,
// presenting and sleeping only take notes, and the run is then checked: it
// ended, slept at most 250 ms at a time (apart from the one second after
// "Overflow on input buffer"), closed its files, and drew only triangles that
// some chunk of the input really holds.
#include <cstdio>
#include <cstdlib>

#include "fuzz/harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace drec;
  fuzz::limitAllocations(fuzz::kAllocationLimit);
  const std::vector<fuzz::Bytes> segments =
      fuzz::splitInput(data, size, fuzz::kSegmentSeparator, fuzz::kMaxSegments);
  MemoryFiles files{};
  const char* name = fuzz::addRecordingFiles(files, segments);
  const fuzz::PlayerRun run = fuzz::playInMemory(files, name);

  std::string problem = fuzz::checkRun(run);
  if (problem.empty() && !run.drawn.empty()) {
    const fuzz::TriangleSet recorded = fuzz::reachableTriangles(segments, run.width, run.height);
    const int unrecorded = fuzz::firstUnrecorded(run, recorded);
    if (unrecorded >= 0) problem = "triangle " + std::to_string(unrecorded) + " was never recorded";
  }
  if (!problem.empty()) {
    std::fprintf(stderr, "player run failed its checks: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
