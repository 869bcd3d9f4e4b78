#!/usr/bin/env bash
# Seek figures: writes the recordings into a folder under /tmp and times
# seeks in them with bench/seek_bench (offscreen, Mesa's software renderer).
#   - the demo (BUILD/player/Video/Stream/...), and covered recordings of
#     10 minutes and 1 hour (every frame opens with an opaque sky and ground
#     over the whole recorded screen): seeks straight from the index;
#   - partial recordings (a fifth of the screen never written opaquely, so
#     the horizon reaches back to the first frame) of 10 minutes and, with
#     --hour, 1 hour: one pass draws them first, keeping key frames.
# Usage: bench/seek-figures.sh [--hour] [--out DIR] [BUILD]   (BUILD default: build)
# Builds nothing: BUILD must hold seek_bench, seek_recording and the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
hour=false
out=""
build=build
while (($#)); do
  case "$1" in
    --hour) hour=true; shift ;;
    --out) out="$2"; shift 2 ;;
    --help|-h) sed -n '2,12p' "$0"; exit 0 ;;
    -*) echo "seek-figures.sh: unknown option '$1'" >&2; exit 2 ;;
    *) build="$1"; shift ;;
  esac
done
[ -n "$out" ] || out=$(mktemp -d /tmp/drec-seek-XXXXXX)
mkdir -p "$out"
bench="$build/bench/seek_bench"
make="$build/bench/seek_recording"
# Offscreen: no X server is used; a cache folder of the run's own.
export XDG_CACHE_HOME="$out/cache"
unset DISPLAY

run() {
  local name="$1"; shift
  echo "== $name"
  /usr/bin/time -f "   wall %e s, peak memory %M KB" timeout 3600 "$bench" "$@" 2>&1
}

run "demo (1,500 frames)" "$build/player/Video/Stream/Recording_12_01_2013_13_41_13.%i.rec"
"$make" covered 36000 "$out/covered-10min.rec"
run "covered, 10 minutes (36,000 frames)" "$out/covered-10min.rec"
"$make" covered 216000 "$out/covered-1h.rec"
run "covered, 1 hour (216,000 frames)" "$out/covered-1h.rec"
rm -f "$out/covered-1h.rec"
"$make" partial 36000 "$out/partial-10min.rec"
run "partial, 10 minutes, after one pass" "$out/partial-10min.rec" --pass --key-spacing 10
if $hour; then
  "$make" partial 216000 "$out/partial-1h.rec"
  run "partial, 1 hour, after one pass" "$out/partial-1h.rec" --pass --key-spacing 30
  rm -f "$out/partial-1h.rec"
fi
echo "recordings and cache in $out"
