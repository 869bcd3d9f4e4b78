#!/usr/bin/env bash
# Installs what is missing, builds the player in Release and plays a recording:
# the bundled demo by default, or the recording named on the command line.
set -euo pipefail
cd "$(dirname "$0")"

tools/install-packages.sh build

cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DDREC_BUILD_TESTS=OFF -DDREC_BUILD_BENCH=OFF >/dev/null
cmake --build build-release

exec build-release/player/drec-player "$@"
