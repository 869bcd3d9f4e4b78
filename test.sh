#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Windowed tests run
# under an X server of their own (Xvfb). With CI=true the slower tiers run too.
set -euo pipefail

if [ "${1:-}" = --help ] || [ "${1:-}" = -h ]; then
  cat <<'EOF'
Usage: ./test.sh

Installs the Debian packages the build and the tests need when any is
missing (apt-get runs only then, through sudo when not root), builds
everything (player, drec tool, demo, tests, benchmarks) in build/ in Release
(-O3) with GCC and warnings as errors, starts an X server of its own (Xvfb)
for the windowed tests, and runs the whole suite with ctest (two at a time,
300 s at most each). When Xvfb does not start, the windowed tests are
skipped.

Environment:
  CI=true  the slower tiers run after the suite (tools/slow-tiers.sh): each
           fuzz target for DREC_FUZZ_SECONDS seconds (20 by default), the
           suite built with AddressSanitizer and UndefinedBehaviorSanitizer,
           and a Release build with clang and warnings as errors, in
           build-ci-fuzz/, build-sanitize/ and build-ci-release-clang/.
           A skipped windowed test fails then.

Exit status: 0 when everything built and passed, otherwise not 0.
./test.sh --help (or -h) prints this and does nothing else.
EOF
  exit 0
fi
cd "$(dirname "$0")"

tools/install-packages.sh test

# Release (-O3) with GCC and warnings as errors: a warning that only the
# optimiser finds fails here (the slow tiers add clang).
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DDREC_WERROR=ON >/dev/null
cmake --build build

# An X server of our own: -displayfd reports its number once it is ready;
# -noreset keeps it up when the last client leaves.
display_file=$(mktemp)
Xvfb -displayfd 9 -noreset -nolisten tcp -screen 0 1280x1024x24 9>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true; rm -f "$display_file"' EXIT
for _ in $(seq 100); do
  [ -s "$display_file" ] && break
  sleep 0.1
done
if [ -s "$display_file" ]; then
  export DISPLAY=":$(head -n 1 "$display_file")"
  echo "Windowed tests use Xvfb on $DISPLAY"
else
  echo "*** Xvfb did not start: windowed tests will be skipped (and fail with CI=true) ***"
  unset DISPLAY
fi

ctest --test-dir build --output-on-failure -j2 --timeout 300

if [ "${CI:-}" = true ] && [ -x tools/slow-tiers.sh ]; then
  tools/slow-tiers.sh
fi
