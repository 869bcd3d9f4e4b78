#!/usr/bin/env bash
# Installs what is missing, builds in Release and plays a recording with
# drec play: the bundled demo by default, or the recording named on the
# command line (relative to the current folder), with drec play's options.
set -euo pipefail

if [ "${1:-}" = --help ] || [ "${1:-}" = -h ]; then
  cat <<'EOF'
Usage: ./run.sh [RECORDING] [drec play options]

Installs the Debian packages the build needs when any is missing (apt-get
runs only then, through sudo when not root), builds in Release in
build-release/ (drec-player, the drec tool and the bundled demo; no tests,
no benchmarks), then plays a recording with build-release/tools/drec play:
paced as recorded, with pause (Space), step (.), speed ([ ]), full screen
(f) and an on-screen display; ? in the window lists the keys.

RECORDING is one file, or a name holding %i for its numbered segment files
(quote it), relative to the current folder. With no argument the bundled
demo plays (build-release/player/Video/Stream/, textures in
build-release/player/Video/TexDump/). Options go on to drec play
(build-release/tools/drec play --help lists them). The exact player is
build-release/player/drec-player.

Exit status: drec play's (0 played or quit, 1 damage met or textures
missing, 2 unusable input or no display); a failed install or build stops
with its own. ./run.sh --help (or -h) prints this and does nothing else.
EOF
  exit 0
fi

root=$(cd "$(dirname "$0")" && pwd)
(
  cd "$root"
  tools/install-packages.sh build
  cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DDREC_BUILD_TESTS=OFF -DDREC_BUILD_BENCH=OFF >/dev/null
  cmake --build build-release
)

# With no recording (or options alone) drec play plays the bundled demo,
# which it finds in the build tree.
exec "$root/build-release/tools/drec" play "$@"
