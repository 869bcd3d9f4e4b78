#!/usr/bin/env bash
# Installs what is missing, builds the player in Release and plays a recording:
# the bundled demo by default, or the recording named on the command line.
set -euo pipefail

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
