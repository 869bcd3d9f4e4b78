#!/usr/bin/env bash
# Measures how faithfully drec play and drec-player keep a recording's
# timing, side by side with a bare sleeper, from present time stamps taken
# outside the programs. See --help.
set -euo pipefail

usage() {
  cat <<'EOF'
Usage: bench/play-pacing.sh [options] [BUILD]

Plays two recordings of 300 frames whose intervals vary at random between
12 and 20 ms (light: 6 triangles a frame; heavy: 1,500) with, in each round:
  - bare_sleeper: wakes at the same due times by clock_nanosleep, nothing
    else (the floor of this machine in the same run);
  - drec-player REC (ended by a key after "Done.");
  - drec play REC --report --report-csv FILE (ends at the end);
the two programs once per LP_NUM_THREADS setting, each with
libpresent_stamps.so preloaded to time-stamp every SDL_GL_SwapWindow. Then
prints, per program, setting and recording, the error of each interval
between presents against the recorded interval (p50/p95/p99/max), frames
dropped, CPU over wall time, drec play's own report beside the outside
figures, and drec play's targets round by round (bench/pacing_figures.py).

Builds nothing: BUILD (default: build) must hold drec, drec-player,
pacing_recording, bare_sleeper and present_stamps:
  cmake --build BUILD --target drec drec-player pacing_recording \
        bare_sleeper present_stamps
Starts its own Xvfb; needs Xvfb, xdotool, python3 and /usr/bin/time.

Options:
  --rounds N        rounds of every run (default 3)
  --threads LIST    LP_NUM_THREADS settings, "unset" for none
                    (default "unset 0 1")
  --recordings LIST light, heavy or both (default "light heavy")
  --programs LIST   sleeper, player, play (default all three)
  --display N       the Xvfb display number (default 71)
  --out DIR         where runs and results go (default: a new folder
                    under /tmp); DIR/results.jsonl holds one line a run
  --help            show this help
EOF
}

rounds=3
threads="unset 0 1"
recordings="light heavy"
programs="sleeper player play"
display_number=71
out=""
build=build
while (($#)); do
  case "$1" in
    --rounds) rounds="$2"; shift 2 ;;
    --threads) threads="$2"; shift 2 ;;
    --recordings) recordings="$2"; shift 2 ;;
    --programs) programs="$2"; shift 2 ;;
    --display) display_number="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    --help|-h) usage; exit 0 ;;
    --) shift; break ;;
    -*) echo "play-pacing.sh: unknown option '$1' (see --help)" >&2; exit 2 ;;
    *) build="$1"; shift ;;
  esac
done
(($# == 0)) || build="$1"

here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$build" && pwd)"
drec="$build/tools/drec"
player="$build/player/drec-player"
stamper="$build/bench/libpresent_stamps.so"
for file in "$drec" "$player" "$build/bench/pacing_recording" "$build/bench/bare_sleeper" "$stamper"; do
  if [[ ! -x "$file" && ! -f "$file" ]]; then
    echo "play-pacing.sh: '$file' is missing: build it first (see --help)" >&2
    exit 2
  fi
done
for tool in Xvfb xdotool python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "play-pacing.sh: needs $tool" >&2; exit 2; }
done

[[ -n "$out" ]] || out="$(mktemp -d /tmp/play-pacing.XXXXXX)"
mkdir -p "$out/rec" "$out/runs"
results="$out/results.jsonl"
: >"$results"

export DISPLAY=":$display_number"
# Long enough for many rounds; ended at the script's exit in any case.
timeout 14400 Xvfb "$DISPLAY" -noreset -nolisten tcp -screen 0 1280x1024x24 >"$out/xvfb.log" 2>&1 &
xvfb_pid=$!
cleanup() { kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; }
trap cleanup EXIT
for _ in $(seq 50); do
  timeout 2 xdotool getdisplaygeometry >/dev/null 2>&1 && break
  kill -0 "$xvfb_pid" 2>/dev/null || { echo "play-pacing.sh: Xvfb $DISPLAY did not start" >&2; exit 1; }
  sleep 0.1
done

timeout 60 "$build/bench/pacing_recording" "$out/rec"
times="$out/rec/times.txt"

# Runs PROGRAM... with the stamper preloaded and LP_NUM_THREADS as given.
stamped() {
  local setting="$1" stamps="$2" timing="$3"
  shift 3
  local environment=(env -u LP_NUM_THREADS DREC_PRESENT_STAMPS="$stamps" LD_PRELOAD="$stamper")
  [[ "$setting" == unset ]] || environment+=(LP_NUM_THREADS="$setting")
  /usr/bin/time -o "$timing" -f '%e %U %S' timeout --kill-after=5 90 "${environment[@]}" "$@"
}

run_sleeper() {
  local base="$1"
  /usr/bin/time -o "$base.time" -f '%e %U %S' \
    timeout 60 "$build/bench/bare_sleeper" "$times" "$base.stamps"
  timeout 120 python3 "$here/pacing_figures.py" run "$times" "$base.stamps" --first-is-frame \
    --time "$base.time" --label "sleeper, -, $2" >>"$results"
}

run_player() {
  local base="$1" setting="$2" recording="$3"
  rm -f "$base.stamps"
  stamped "$setting" "$base.stamps" "$base.time" "$player" "$out/rec/$recording.rec" \
    </dev/null >"$base.out" 2>"$base.err" &
  local pid=$!
  # It waits for a key after "Done.": give it one in its window.
  local waited=0
  until grep -q 'Done\.' "$base.out" 2>/dev/null; do
    kill -0 "$pid" 2>/dev/null || break
    ((waited++ < 600)) || break
    sleep 0.1
  done
  local window
  window="$(timeout 5 xdotool search --name '^drec-player$' 2>/dev/null | head -n 1 || true)"
  if [[ -n "$window" ]]; then
    timeout 5 xdotool windowfocus --sync "$window" >/dev/null 2>&1 || true
    # XTEST, so that the press and its release both reach the server (a
    # release sent to a window already gone would leave the key down, and
    # its auto-repeat would reach the next program).
    timeout 5 xdotool key space >/dev/null 2>&1 || true
  fi
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    echo "play-pacing.sh: drec-player did not end by a key; killed (no stamps)" >&2
    kill "$pid" 2>/dev/null || true
  fi
  wait "$pid" || true
  if [[ -f "$base.stamps" ]]; then
    timeout 120 python3 "$here/pacing_figures.py" run "$times" "$base.stamps" --time "$base.time" \
      --label "drec-player, $setting, $recording" >>"$results"
  else
    echo "{\"label\": \"drec-player, $setting, $recording\", \"error\": \"no stamps\"}" >>"$results"
  fi
}

run_play() {
  local base="$1" setting="$2" recording="$3"
  rm -f "$base.stamps"
  stamped "$setting" "$base.stamps" "$base.time" "$drec" play "$out/rec/$recording.rec" \
    --report --report-csv "$base.csv" </dev/null >"$base.out" 2>"$base.report" || true
  if [[ -f "$base.stamps" && -f "$base.csv" ]]; then
    timeout 120 python3 "$here/pacing_figures.py" run "$times" "$base.stamps" --csv "$base.csv" \
      --report "$base.report" --time "$base.time" --label "drec play, $setting, $recording" >>"$results"
  else
    echo "{\"label\": \"drec play, $setting, $recording\", \"error\": \"no stamps\"}" >>"$results"
  fi
}

for round in $(seq "$rounds"); do
  echo "round $round of $rounds (load average $(cut -d' ' -f1-3 /proc/loadavg))" >&2
  for recording in $recordings; do
    for program in $programs; do
      if [[ "$program" == sleeper ]]; then
        run_sleeper "$out/runs/sleeper-$recording-$round" "$recording"
        continue
      fi
      for setting in $threads; do
        base="$out/runs/$program-$setting-$recording-$round"
        case "$program" in
          player) run_player "$base" "$setting" "$recording" ;;
          play) run_play "$base" "$setting" "$recording" ;;
          *) echo "play-pacing.sh: unknown program '$program'" >&2; exit 2 ;;
        esac
      done
    done
  done
done

timeout 120 python3 "$here/pacing_figures.py" table "$results" | tee "$out/tables.md"
echo | tee -a "$out/tables.md"
timeout 120 python3 "$here/pacing_figures.py" targets "$results" | tee -a "$out/tables.md"
echo "runs and results in $out" >&2
