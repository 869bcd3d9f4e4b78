#!/usr/bin/env bash
# Installs what is missing, builds the player in Release and plays a recording:
# the bundled demo by default, or the recording named on the command line.
set -euo pipefail

if [ "${1:-}" = --help ] || [ "${1:-}" = -h ]; then
  cat <<'EOF'
Usage: ./run.sh [RECORDING]

Installs the Debian packages the build needs when any is missing (apt-get
runs only then, through sudo when not root), builds in Release in
build-release/ (drec-player, the drec tool and the bundled demo; no tests,
no benchmarks), then plays a recording with build-release/player/drec-player.

RECORDING is one file, or a name holding %i for its numbered segment files
(quote it). The arguments, joined by single spaces, are the one recording
name the player gets. The player resolves relative names in its own folder,
so a name that exists relative to the current folder is handed on as an
absolute path. With no argument the player plays the bundled demo,
build-release/player/Video/Stream/Recording_12_01_2013_13_41_13.%i.rec.
Textures are always looked up in build-release/player/Video/TexDump/.

Exit status: the player's (0 played to the end or quit, 1 not opened, not
played or damage met); a failed install or build stops with its own.
./run.sh --help (or -h) prints this and does nothing else.
EOF
  exit 0
fi

# The player resolves relative names in its own folder; a recording named
# relative to where run.sh was started is handed on as an absolute path.
name="$*"
first_segment="${name/\%i/0}"
if [ -n "$name" ] && [ "${name:0:1}" != / ] && [ -f "$first_segment" ]; then
  set -- "$PWD/$name"
fi

cd "$(dirname "$0")"

tools/install-packages.sh build

cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DDREC_BUILD_TESTS=OFF -DDREC_BUILD_BENCH=OFF >/dev/null
cmake --build build-release

exec build-release/player/drec-player "$@"
