#!/usr/bin/env bash
# The slower tiers, run by test.sh when CI=true (after it has built the
# project, run the suite and started Xvfb with DISPLAY exported):
#   1. every fuzz target for DREC_FUZZ_SECONDS seconds (30 by default),
#      built with clang's libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer;
#   2. the whole project built with AddressSanitizer and UndefinedBehaviorSanitizer
#      in its own build folder, and every unit and end-to-end test run on it
#      (the windowed ones too), with zero sanitizer reports.
# Each tier prints how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
fuzz_seconds=${DREC_FUZZ_SECONDS:-30}
tier_start=$SECONDS

# --- 1. Short fuzz runs -------------------------------------------------------
CC=clang-14 CXX=clang++-14 cmake -S . -B build-ci-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDREC_SANITIZE=address,undefined -DDREC_BUILD_FUZZ=ON -DDREC_BUILD_TESTS=OFF \
  -DDREC_BUILD_BENCH=OFF >/dev/null
cmake --build build-ci-fuzz --target player_fuzzer bmp_fuzzer header_fuzzer
for target in player bmp header; do
  # New inputs go to a scratch folder; the committed corpus is only read.
  scratch=$(mktemp -d)
  echo "Fuzzing $target for $fuzz_seconds s"
  if ! ASAN_OPTIONS=halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
       "build-ci-fuzz/fuzz/${target}_fuzzer" -max_total_time="$fuzz_seconds" -rss_limit_mb=512 \
       -malloc_limit_mb=64 -timeout=1 -print_final_stats=1 \
       -artifact_prefix="build-ci-fuzz/${target}-" "$scratch" "fuzz/corpus/$target" \
       >"build-ci-fuzz/${target}-fuzz.log" 2>&1; then
    tail -n 60 "build-ci-fuzz/${target}-fuzz.log"
    echo "*** fuzz target $target found a fault: input saved as build-ci-fuzz/${target}-*"
    rm -rf "$scratch"
    exit 1
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' \
    "build-ci-fuzz/${target}-fuzz.log" || true
  rm -rf "$scratch"
done
echo "Fuzz tier: $((SECONDS - tier_start)) s"

# --- 2. The whole suite under the sanitizers ----------------------------------
tier_start=$SECONDS
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDREC_SANITIZE=address,undefined -DDREC_BUILD_BENCH=OFF >/dev/null
cmake --build build-sanitize
reports="$root/build-sanitize/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
# Reports go to files as well as failing the program, so that a report from a
# player that a test runs as a child process is seen even where the test
# accepts the player's own failure status. The exit code 86 is none of ours.
common="halt_on_error=1:exitcode=86:log_path=$reports/report"
export ASAN_OPTIONS="$common:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="$common:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$root/tools/lsan.supp:print_suppressions=0"
status=0
ctest --test-dir build-sanitize --output-on-failure -j2 --timeout 900 || status=$?
if compgen -G "$reports/report*" >/dev/null; then
  echo "*** sanitizer reports:"
  for report in "$reports"/report*; do
    echo "--- $report"
    head -n 80 "$report"
  done
  status=1
fi
echo "Sanitizer tier: $((SECONDS - tier_start)) s"
exit "$status"
