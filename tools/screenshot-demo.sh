#!/usr/bin/env bash
# Takes docs/demo.png: plays the bundled demo with the real player under an
# X server of its own (Xvfb), dumps the player's window a few seconds in with
# xwd and turns the dump into PNG. With --play, takes docs/play.png instead:
# drec play paused at that recorded time, its on-screen display showing.
# With --inspect, takes docs/wireframe.png and docs/pixel-history.png: drec
# play paused there in a 960 x 720 window, with the wireframe view, then
# with the inspector's history of the pixel at picture (300, 300).
# Usage: tools/screenshot-demo.sh [--play | --inspect] [seconds into the demo (default 7.5)] [out.png]
set -euo pipefail
cd "$(dirname "$0")/.."
play=false
inspect=false
if [ "${1:-}" = --play ]; then
  play=true
  shift
elif [ "${1:-}" = --inspect ]; then
  inspect=true
  shift
fi
seconds=${1:-7.5}
out=${2:-docs/demo.png}
$play && out=${2:-docs/play.png}
$inspect && out=docs/pixel-history.png
build=${DREC_SCREENSHOT_BUILD:-build-release}

tools/install-packages.sh test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DDREC_BUILD_TESTS=OFF -DDREC_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target drec-player drec drec_demo_recording drec-xwd-to-png

work=$(mktemp -d)
display_file="$work/display"
Xvfb -displayfd 9 -noreset -nolisten tcp -screen 0 1280x1024x24 9>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
player_pid=
cleanup() {
  [ -n "$player_pid" ] && kill "$player_pid" 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 100); do
  [ -s "$display_file" ] && break
  sleep 0.1
done
[ -s "$display_file" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$display_file")"

if $inspect; then
  "$build/tools/drec" play --paused --start "$seconds" --scale 1 \
    "$build/player/Video/Stream/Recording_12_01_2013_13_41_13.%i.rec" >"$work/player.log" 2>&1 &
  player_pid=$!
  window=$(timeout 20 xdotool search --sync --onlyvisible --name ' - drec play$' | head -n 1)
  xdotool windowsize "$window" 960 720
  sleep 5
  xdotool key --window "$window" w
  sleep 1
  timeout 20 xwd -silent -id "$window" -out "$work/wireframe.xwd"
  "$build/tools/drec-xwd-to-png" "$work/wireframe.xwd" docs/wireframe.png
  echo "Wrote docs/wireframe.png"
  # The picture's pixel (300, 300) is at (450, 450) of the window, at 1.5 times.
  xdotool key --window "$window" w i
  xdotool mousemove --window "$window" 450 450 click 1
  sleep 2
elif $play; then
  # Paused at the frame (the frames before it are drawn first), the display
  # pinned on with its key.
  "$build/tools/drec" play --paused --start "$seconds" --scale 1 \
    "$build/player/Video/Stream/Recording_12_01_2013_13_41_13.%i.rec" >"$work/player.log" 2>&1 &
  player_pid=$!
  window=$(timeout 20 xdotool search --sync --onlyvisible --name ' - drec play$' | head -n 1)
  sleep 5
  xdotool key --window "$window" o
  sleep 0.5
else
  "$build/player/drec-player" >"$work/player.log" &
  player_pid=$!
  window=$(timeout 20 xdotool search --sync --onlyvisible --name '^drec-player$' | head -n 1)
  # The player presents once before the first chunk: count from the window.
  sleep "$seconds"
fi
timeout 20 xwd -silent -id "$window" -out "$work/demo.xwd"
mkdir -p "$(dirname "$out")"
"$build/tools/drec-xwd-to-png" "$work/demo.xwd" "$out"
echo "Wrote $out"
