#!/usr/bin/env python3
"""Playback timing figures from outside time stamps (bench/play-pacing.sh).

  pacing_figures.py run TIMES STAMPS [options]   one run: a JSON line
  pacing_figures.py table RESULTS                 runs collected: tables
  pacing_figures.py targets RESULTS [--threads S]  drec play's targets, round by round

TIMES holds the recorded time stamps, one a line (pacing_recording's
times.txt). STAMPS holds one line per present (or wake) as present_stamps
and bare_sleeper write them: return_ns entry_ns cpu_ns.

Frame f (0 = the first) is presented at its frame mark and then held to the
mark's due time, so its present is due when the hold of mark f - 1 ends:
at time stamp f - 1 from the start (frame 0 at the start itself). The
first stamp is the start present (for bare_sleeper, --first-is-frame: the
start is frame 0's), the next one frame 0's; each later
present is given to the frame whose due time lies nearest to it, less the
program's typical lateness; one given to the time of the last mark or later
follows the end (drec-player's wait for a key). A frame with no present was
dropped; a second present given to the same frame (a redraw) is counted as
extra and the nearer one is kept. With drec play's --report-csv, its own
rows say which frames were presented: each is matched to the outside stamp
nearest to its reported present (within 1 ms, the clocks' offset taken
out), and the placing by time is only checked against it.

Figures, from the presents of frames 1 to N - 1 (frame 0's is the end of
start-up, not of a hold):
  interval error  |(present f - present f-1) - (due f - due f-1)| in ms,
                  for every f >= 2 presented with its predecessor: p50, p95,
                  p99, max (nearest rank);
  lateness        present - due against the start present, p50 in ms;
  dropped         frames without a present, and which;
  cpu / wall      process CPU time (all threads) over wall time between the
                  presents of frame 1 and of the last frame presented;
  swap            time inside SDL_GL_SwapWindow, p50 in ms.
"""
import argparse
import json
import math
import statistics
import sys


def nearest_rank(sorted_values, percent):
    if not sorted_values:
        return float("nan")
    rank = math.ceil(percent / 100.0 * len(sorted_values))
    return sorted_values[min(max(rank, 1), len(sorted_values)) - 1]


def spread(values):
    ordered = sorted(values)
    return {
        "count": len(ordered),
        "p50": nearest_rank(ordered, 50),
        "p95": nearest_rank(ordered, 95),
        "p99": nearest_rank(ordered, 99),
        "max": ordered[-1] if ordered else float("nan"),
    }


def read_times(path):
    with open(path) as file:
        return [float(line) for line in file if line.strip()]


def read_stamps(path):
    stamps = []
    with open(path) as file:
        for line in file:
            fields = line.split()
            if len(fields) == 3:
                stamps.append(tuple(int(field) for field in fields))
    return stamps


def assign(presents, start, dues, lateness):
    """Frame index (len(dues) = after the end) for each present."""
    frames = []
    for returned in presents:
        at = (returned - start) / 1e9 - lateness
        # dues ascend: a binary search for the nearest.
        low, high = 0, len(dues) - 1
        while low < high:
            middle = (low + high) // 2
            if dues[middle] < at:
                low = middle + 1
            else:
                high = middle
        if low > 0 and at - dues[low - 1] < dues[low] - at:
            low -= 1
        frames.append(low)
    return frames


def kept_from_csv(rows, kept, stamps, start):
    """Frame -> stamp by drec play's own rows: each present it reports is
    matched to the outside stamp nearest to it, once the constant offset of
    its clock (taken from the frames placed by time) is taken out."""
    pairs = [(kept[f][0] / 1e9, present) for f, _due, present, dropped in rows
             if not dropped and f in kept]
    offset = statistics.median(outside - inside for outside, inside in pairs)
    returns = [s[0] / 1e9 for s in stamps if s[0] > start]
    matched = {}
    for f, _due, present, dropped in rows:
        if dropped:
            continue
        at = present + offset
        index = min(range(len(returns)), key=lambda i: abs(returns[i] - at))
        if abs(returns[index] - at) < 0.001:
            matched[f] = next(s for s in stamps if s[0] / 1e9 == returns[index])
    return matched


def run_figures(times, stamps, first_is_start, csv_rows=None):
    count = len(times)
    # Due time of frame f's present, and one more: the end.
    dues = [0.0] + times[: count - 1] + [times[count - 1]]
    start = stamps[0][0]
    # Frame 0 is the first present after the start (a player draws it at
    # once, however late that makes it); the others are placed by time.
    first = 1 if first_is_start else 0
    presents = stamps[first + 1:]
    lateness = 0.0
    for _ in range(2):
        frames = assign([p[0] for p in presents], start, dues[1:], lateness)
        frames = [f + 1 for f in frames]
        late = [(p[0] - start) / 1e9 - dues[f] for p, f in zip(presents, frames) if f < count]
        lateness = statistics.median(late) if late else 0.0
    kept = {0: stamps[first]}
    extra = 0
    after_end = 0
    for present, frame in zip(presents, frames):
        if frame >= count:
            after_end += 1
            continue
        if frame in kept:
            extra += 1
            distance = lambda p: abs((p[0] - start) / 1e9 - lateness - dues[frame])
            if distance(present) >= distance(kept[frame]):
                continue
        kept[frame] = present
    by_time_dropped = [f for f in range(count) if f not in kept]
    if csv_rows:
        kept = kept_from_csv(csv_rows, kept, stamps, start)
    dropped = [f for f in range(count) if f not in kept]
    errors = []
    for f in range(2, count):
        if f in kept and f - 1 in kept:
            interval = (kept[f][0] - kept[f - 1][0]) / 1e9
            errors.append(abs(interval - (dues[f] - dues[f - 1])) * 1000.0)
    shown = sorted(f for f in kept if f >= 1)
    begin, end = kept[shown[0]], kept[shown[-1]]
    wall = (end[0] - begin[0]) / 1e9
    cpu = (end[2] - begin[2]) / 1e9
    return {
        "frames": count,
        "presented": len(kept),
        "dropped": len(dropped),
        "dropped_frames": dropped[:20],
        "dropped_by_time": by_time_dropped[:20],
        "extra_presents": extra,
        "presents_after_end": after_end,
        "interval_error_ms": spread(errors),
        "lateness_p50_ms": statistics.median(
            ((kept[f][0] - start) / 1e9 - dues[f]) * 1000.0 for f in shown),
        "cpu_over_wall": cpu / wall if wall > 0 else float("nan"),
        "swap_p50_ms": statistics.median((kept[f][0] - kept[f][1]) / 1e6 for f in shown),
        "kept": kept,
    }


def read_csv(path):
    rows = []
    with open(path) as file:
        next(file)
        for line in file:
            frame, _recorded, due, present, dropped = line.strip().split(",")
            rows.append((int(frame), float(due), float(present) if present else None, dropped == "1"))
    return rows


def compare_csv(rows, kept):
    """How drec play's own rows agree with the outside stamps."""
    pairs = [(kept[f][0] / 1e9, present) for f, _due, present, dropped in rows
             if not dropped and f in kept]
    offset = statistics.median(outside - inside for outside, inside in pairs)
    differences = [abs(outside - inside - offset) * 1000.0 for outside, inside in pairs]
    own_dropped = {f for f, _due, _present, dropped in rows if dropped}
    outside_dropped = {f for f, *_ in rows if f not in kept}
    return {
        "csv_rows": len(rows),
        "csv_dropped": sorted(own_dropped)[:20],
        "dropped_agree": own_dropped == outside_dropped,
        # The program reads its clock after the swap returns; the wrapper
        # stamps the return itself: a constant offset, taken out.
        "present_difference_max_ms": max(differences) if differences else float("nan"),
        "present_difference_p50_ms": statistics.median(differences) if differences else float("nan"),
    }


def read_report(path):
    """drec play --report: its interval error, drops and cpu / wall."""
    figures = {}
    with open(path) as file:
        for line in file:
            words = line.split()
            if line.startswith("interval error"):
                figures["interval_error_ms"] = {
                    "p50": float(words[3]), "p95": float(words[5]),
                    "p99": float(words[7]), "max": float(words[9])}
            elif line.startswith("frames presented"):
                figures["dropped"] = int(words[4])
            elif line.startswith("cpu / wall"):
                figures["cpu_over_wall"] = float(words[3])
    return figures


def read_time(path):
    """/usr/bin/time -f '%e %U %S': the whole process, start-up included."""
    with open(path) as file:
        for line in file:
            fields = line.split()
            if len(fields) == 3:
                try:
                    wall, user, system = (float(field) for field in fields)
                except ValueError:
                    continue
                return {"wall_s": wall, "cpu_over_wall": (user + system) / wall if wall > 0 else 0.0}
    return None


def command_run(arguments):
    times = read_times(arguments.times)
    stamps = read_stamps(arguments.stamps)
    result = {"label": arguments.label}
    if len(stamps) < 4:
        result["error"] = "only %d time stamps" % len(stamps)
    else:
        rows = read_csv(arguments.csv) if arguments.csv else None
        figures = run_figures(times, stamps, not arguments.first_is_frame, rows)
        kept = figures.pop("kept")
        result.update(figures)
        if rows:
            result["csv"] = compare_csv(rows, kept)
            result["csv"]["dropped_by_time_agree"] = figures["dropped_by_time"] == result["csv"]["csv_dropped"]
        if arguments.report:
            result["own_report"] = read_report(arguments.report)
    if arguments.time:
        whole = read_time(arguments.time)
        if whole:
            result["process"] = whole
    print(json.dumps(result, sort_keys=True))


def range_text(values, digits=3):
    if not values:
        return "-"
    values = sorted(values)
    median = statistics.median(values)
    if len(values) == 1:
        return "%.*f" % (digits, median)
    return "%.*f (%.*f-%.*f)" % (digits, median, digits, values[0], digits, values[-1])


def command_table(arguments):
    groups = {}
    order = []
    with open(arguments.results) as file:
        for line in file:
            if not line.strip():
                continue
            result = json.loads(line)
            label = result["label"]
            if label not in groups:
                groups[label] = []
                order.append(label)
            groups[label].append(result)
    print("Median of the runs, (lowest-highest) beside it; ms unless said.\n")
    print("| program, threads, recording | runs | interval error p50 | p95 | p99 | max "
          "| dropped (frames) | cpu / wall | lateness p50 | swap p50 |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for label in order:
        results = [r for r in groups[label] if "error" not in r]
        failed = len(groups[label]) - len(results)
        error = lambda key: [r["interval_error_ms"][key] for r in results]
        dropped_sets = sorted({",".join(str(f) for f in r["dropped_frames"]) or "none" for r in results})
        drops = "%s (%s)" % (range_text([r["dropped"] for r in results], 0), "; ".join(dropped_sets))
        print("| %s | %d%s | %s | %s | %s | %s | %s | %s | %s | %s |" % (
            label, len(results), " (%d failed)" % failed if failed else "",
            range_text(error("p50")), range_text(error("p95")), range_text(error("p99")),
            range_text(error("max")), drops,
            range_text([r["cpu_over_wall"] for r in results]),
            range_text([r["lateness_p50_ms"] for r in results], 2),
            range_text([r["swap_p50_ms"] for r in results], 2)))
    own = [(label, r) for label in order for r in groups[label] if "own_report" in r]
    if own:
        print("\ndrec play's own --report against the outside figures, run by run:\n")
        print("| program, threads, recording | own p50 / outside | own p99 / outside "
              "| own cpu / wall / outside | drops agree | present: own clock - outside, p50 / max "
              "| extra presents |")
        print("|---|---|---|---|---|---|---|")
        for label, r in own:
            report = r["own_report"]
            csv = r.get("csv", {})
            print("| %s | %.3f / %.3f | %.3f / %.3f | %.3f / %.3f | %s | %.3f / %.3f | %d |" % (
                label, report["interval_error_ms"]["p50"], r["interval_error_ms"]["p50"],
                report["interval_error_ms"]["p99"], r["interval_error_ms"]["p99"],
                report["cpu_over_wall"], r["cpu_over_wall"],
                "yes" if csv.get("dropped_agree") and csv.get("dropped_by_time_agree")
                else "NO (own %s, by time %s)" % (csv.get("csv_dropped"), r.get("dropped_by_time")),
                csv.get("present_difference_p50_ms", float("nan")),
                csv.get("present_difference_max_ms", float("nan")), r["extra_presents"]))


def command_targets(arguments):
    """drec play's targets on the light recording, against the other
    programs of the same round (a round starts at each light sleeper run)."""
    rounds = []
    with open(arguments.results) as file:
        for line in file:
            if not line.strip():
                continue
            result = json.loads(line)
            if result["label"] == "sleeper, -, light" or not rounds:
                rounds.append({})
            rounds[-1][result["label"]] = result
    play_label = "drec play, %s, light" % arguments.threads
    player_label = "drec-player, %s, light" % arguments.player_threads
    print("drec play (LP_NUM_THREADS %s) against drec-player (%s) and the bare sleeper, light "
          "recording, ms:\n" % (arguments.threads, arguments.player_threads))
    print("| round | p50 < 0.15 and <= player's / 4 | p99 <= max(2, sleeper's) and <= player's "
          "| at most the first frame dropped | cpu / wall < 0.1 |")
    print("|---|---|---|---|---|")
    verdict = lambda ok: "met" if ok else "MISSED"
    for number, runs in enumerate(rounds, 1):
        play, player, sleeper = runs.get(play_label), runs.get(player_label), runs.get("sleeper, -, light")
        if not (play and player and sleeper) or any("error" in r for r in (play, player, sleeper)):
            print("| %d | - | - | - | - |" % number)
            continue
        p50, p99 = play["interval_error_ms"]["p50"], play["interval_error_ms"]["p99"]
        player50, player99 = player["interval_error_ms"]["p50"], player["interval_error_ms"]["p99"]
        sleeper99 = sleeper["interval_error_ms"]["p99"]
        drops = play["dropped_frames"]
        print("| %d | %.3f, player %.3f: %s | %.3f, sleeper %.3f, player %.3f: %s | %s: %s "
              "| %.3f: %s |" % (
                  number, p50, player50, verdict(p50 < 0.15 and p50 <= player50 / 4),
                  p99, sleeper99, player99, verdict(p99 <= max(2.0, sleeper99) and p99 <= player99),
                  ",".join(str(f) for f in drops) or "none", verdict(set(drops) <= {1}),
                  play["cpu_over_wall"], verdict(play["cpu_over_wall"] < 0.1)))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    run = commands.add_parser("run", help="figures of one run, as a JSON line")
    run.add_argument("times")
    run.add_argument("stamps")
    run.add_argument("--label", default="")
    run.add_argument("--first-is-frame", action="store_true",
                     help="the first stamp is frame 0 (bare_sleeper), not a start present")
    run.add_argument("--csv", help="drec play --report-csv FILE of the run")
    run.add_argument("--report", help="drec play --report text of the run")
    run.add_argument("--time", help="/usr/bin/time -f '%%e %%U %%S' output of the run")
    table = commands.add_parser("table", help="tables of collected runs")
    table.add_argument("results")
    targets = commands.add_parser("targets", help="drec play's targets, round by round")
    targets.add_argument("results")
    targets.add_argument("--threads", default="unset", help="drec play's LP_NUM_THREADS label")
    targets.add_argument("--player-threads", default="unset", help="drec-player's")
    arguments = parser.parse_args()
    if arguments.command == "run":
        command_run(arguments)
    elif arguments.command == "table":
        command_table(arguments)
    else:
        command_targets(arguments)
    return 0


if __name__ == "__main__":
    sys.exit(main())
