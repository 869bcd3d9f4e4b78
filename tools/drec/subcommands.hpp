// The subcommands of drec. Each lives in its own file as a CommandSpec (its
// operands, options and --help) and a function NAMECommand run with what the
// command line gave it; adding one is one line in the list below.
#pragma once
#include "tools/drec/command_line.hpp"

// Each summary fits the 80 columns of `drec --help` after its name.
#define DREC_SUBCOMMANDS(X)                                                              \
  X(play, kPlaySpec, "play in a window, paced as recorded: pause, step, speed, loop")    \
  X(info, kInfoSpec, "what a recording holds: textures, segments, chunks, frames, damage") \
  X(check, kCheckSpec, "read everything as the player would; list each problem")         \
  X(bench, kBenchSpec, "play every frame as fast as possible: frame rate, frame times")  \
  X(export, kExportSpec, "draw frames into PNG files: a list, every N-th, or a fixed rate") \
  X(video, kVideoSpec, "draw frames into a video file (through ffmpeg) at the player's pace") \
  X(hash, kHashSpec, "one line per frame: number, recorded time, hash of its pixels")    \
  X(verify, kVerifySpec, "compare frame hashes with a list from hash; exit 1 at a change") \
  X(pixel, kPixelSpec, "the triangles that drew one pixel of a frame, in order, with colours")

namespace drec {

#define DREC_DECLARE(name, command, summary) \
  extern const CommandSpec command;       \
  int name##Command(const ParsedCommand& parsed);
DREC_SUBCOMMANDS(DREC_DECLARE)
#undef DREC_DECLARE

}  // namespace drec
