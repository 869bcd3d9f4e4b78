#!/usr/bin/env bash
# How fast drec video makes a video of the demo, where the time goes, and
# the PNG route beside it in the same run. See --help.
set -euo pipefail

usage() {
  cat <<'EOF'
Usage: bench/video-speed.sh [options] [BUILD]

Writes the demo recording (drec-make-demo) into a folder of its own and, in
each round, times with no X server (SDL's offscreen driver), one after the
other:
  - drec video REC demo.mp4 (the defaults: 60 fps, libx264 veryfast, -crf 18)
  - drec video REC demo.webm (VP9, realtime speed settings)
  - the PNG route: drec export REC --fps 60 --out png, then the ffmpeg
    command its help gives (libx264's default preset, medium), then the same
    with -preset veryfast -crf 18 (what drec video runs); its time is the
    export's and the encoding's added
Prints, for each run, the wall time, how many times faster than the video's
own length that is, the video frames per second, the file size, and for
drec video its split (from --json): drawing (reading the recording and
drawing, up to glFinish), reading back (glReadPixels and the RGB rows),
handing frames to ffmpeg (waiting while it encodes), and ffmpeg's CPU time.
Medians over the rounds come last.

Builds nothing: BUILD (default: build) must hold tools/drec and
tools/drec-make-demo. Needs ffmpeg, python3 and /usr/bin/time.

Options:
  --rounds N  rounds (default 3)
  --out DIR   where the runs go (default: a new folder under /tmp); the
              videos and PNG files are removed after each run
  --keep      keep the videos of the last round
  --help      show this help
EOF
}

rounds=3
out=""
keep=false
build=build
while (($#)); do
  case "$1" in
    --rounds) rounds="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    --keep) keep=true; shift ;;
    --help|-h) usage; exit 0 ;;
    --) shift; break ;;
    -*) echo "video-speed.sh: unknown option '$1' (see --help)" >&2; exit 2 ;;
    *) build="$1"; shift ;;
  esac
done
(($# == 0)) || build="$1"

build="$(cd "$build" && pwd)"
drec="$build/tools/drec"
for file in "$drec" "$build/tools/drec-make-demo"; do
  [[ -x "$file" ]] || { echo "video-speed.sh: '$file' is missing: build it first" >&2; exit 2; }
done
for tool in ffmpeg python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "video-speed.sh: needs $tool" >&2; exit 2; }
done

[[ -n "$out" ]] || out="$(mktemp -d /tmp/video-speed.XXXXXX)"
mkdir -p "$out"
cd "$out"
timeout 60 "$build/tools/drec-make-demo" demo >/dev/null
rec='demo/Video/Stream/Recording_12_01_2013_13_41_13.%i.rec'
results="$out/results.jsonl"
: >"$results"
unset DISPLAY WAYLAND_DISPLAY

# Appends one JSON line: label, wall and CPU seconds, video frames and
# seconds, bytes, and drec video's report (a JSON file) or the PNG route's
# export (its time file and the PNG bytes) when given.
record() {
  local label="$1" wall="$2" video="$3" report="${4:-}" export_time="${5:-}" png_bytes="${6:-}"
  timeout 60 python3 - "$label" "$wall" "$video" "$report" "$export_time" "$png_bytes" \
    >>"$results" <<'PY'
import json, subprocess, sys, os
label, wall, video, report, export_time, png_bytes = sys.argv[1:7]
probe = json.loads(subprocess.run(
    ["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
     "stream=nb_frames:format=duration", "-of", "json", video],
    capture_output=True, text=True, timeout=60).stdout)
line = {"label": label, "wall": float(wall.split()[0]),
        "cpu": float(wall.split()[1]) + float(wall.split()[2]),
        "duration": float(probe["format"]["duration"]), "bytes": os.path.getsize(video)}
frames = probe["streams"][0].get("nb_frames")
line["frames"] = int(frames) if frames and frames != "N/A" else round(line["duration"] * 60)
if report:
    with open(report) as f:
        r = json.load(f)
    line.update({k: r[k] for k in ("draw_seconds", "read_seconds", "write_seconds",
                                   "ffmpeg_cpu_seconds", "encode_seconds")})
if export_time:
    line["export_seconds"] = float(open(export_time).read().split()[0])
    line["png_bytes"] = int(png_bytes)
print(json.dumps(line))
PY
}

timed() {
  local timing="$1"
  shift
  /usr/bin/time -o "$timing" -f '%e %U %S' "$@"
}

for round in $(seq "$rounds"); do
  echo "round $round of $rounds (load average $(cut -d' ' -f1-3 /proc/loadavg))" >&2
  for video in demo.mp4 demo.webm; do
    rm -f "$video"
    timed time.txt timeout 300 "$drec" video "$rec" "$video" --json --quiet >report.json
    record "drec video $video" "$(cat time.txt)" "$video" report.json
  done

  rm -rf png
  timed export.txt timeout 600 "$drec" export "$rec" --fps 60 --out png --quiet >/dev/null
  png_bytes=$(du -sb png | cut -f1)
  for preset in medium veryfast; do
    rm -f png.mp4
    if [[ "$preset" == medium ]]; then
      timed encode.txt timeout 600 ffmpeg -v error -framerate 60 -i 'png/image-%06d.png' \
        -pix_fmt yuv420p png.mp4
    else
      timed encode.txt timeout 600 ffmpeg -v error -framerate 60 -i 'png/image-%06d.png' \
        -c:v libx264 -preset veryfast -crf 18 -pix_fmt yuv420p png.mp4
    fi
    # The route's time: the export and the encoding, one after the other.
    total=$(python3 -c 'import sys; a, b = (open(f).read().split() for f in sys.argv[1:3]); print(*(float(x) + float(y) for x, y in zip(a, b)))' export.txt encode.txt)
    record "export --fps 60, then ffmpeg -preset $preset" "$total" png.mp4 "" export.txt "$png_bytes"
  done
  if [[ "$keep" != true || "$round" != "$rounds" ]]; then rm -rf png png.mp4 demo.mp4 demo.webm; fi
done

timeout 60 python3 - "$results" <<'PY' | tee "$out/table.md"
import json, statistics, sys
runs = [json.loads(line) for line in open(sys.argv[1])]
labels = list(dict.fromkeys(r["label"] for r in runs))
print("| run | wall s | × real time | video fps | CPU s | MB | drawing s | reading back s "
      "| to ffmpeg s | ffmpeg CPU s | export s | PNG MB |")
print("|---|---|---|---|---|---|---|---|---|---|---|---|")
def row(label, rs):
    m = lambda k: statistics.median(r[k] for r in rs) if k in rs[0] else None
    cells = [label, f"{m('wall'):.1f}", f"{m('duration') / m('wall'):.2f}",
             f"{m('frames') / m('wall'):.0f}", f"{m('cpu'):.1f}", f"{m('bytes') / 1e6:.1f}"]
    for k in ("draw_seconds", "read_seconds", "write_seconds", "ffmpeg_cpu_seconds",
              "export_seconds"):
        v = m(k)
        cells.append("" if v is None else f"{v:.2f}")
    v = m("png_bytes")
    cells.append("" if v is None else f"{v / 1e6:.0f}")
    print("| " + " | ".join(cells) + " |")
for label in labels:
    rs = [r for r in runs if r["label"] == label]
    for i, r in enumerate(rs):
        row(f"{label}, round {i + 1}", [r])
    if len(rs) > 1:
        row(f"**{label}, median of {len(rs)}**", rs)
PY
echo "runs in $out" >&2
