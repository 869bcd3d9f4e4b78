// The subcommands of drec. Each lives in its own file as a CommandSpec (its
// operands, options and --help) and a function NAMECommand run with what the
// command line gave it; adding one is one line in the list below.
#pragma once
#include "tools/drec/command_line.hpp"

#define DREC_SUBCOMMANDS(X)                                                                 \
  X(info, kInfoSpec,                                                                        \
    "what a recording holds: header, textures, segments, chunks, frames, timing, damage")   \
  X(check, kCheckSpec, "read and decompress everything; list each problem; exit 1 when damaged") \
  X(bench, kBenchSpec, "play every frame as fast as possible; frames per second and frame times") \
  X(export, kExportSpec, "draw frames into PNG files: a list, every N-th, or a fixed-rate sequence") \
  X(hash, kHashSpec, "one line per frame: frame number, recorded time, hash of its pixels")  \
  X(verify, kVerifySpec,                                                                    \
    "compare the frames' pixel hashes with a list from hash; exit 1 at a difference")

namespace drec {

#define DREC_DECLARE(name, spec, summary) \
  extern const CommandSpec spec;          \
  int name##Command(const ParsedCommand& parsed);
DREC_SUBCOMMANDS(DREC_DECLARE)
#undef DREC_DECLARE

}  // namespace drec
