#!/usr/bin/env bash
# The slower tiers, run by test.sh when CI=true (after it has built the
# project, run the suite and started Xvfb with DISPLAY exported):
#   1. every fuzz target for DREC_FUZZ_SECONDS seconds (20 by default),
#      built with clang's libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer;
#   2. the whole project built with AddressSanitizer and UndefinedBehaviorSanitizer
#      in its own build folder, and every unit and end-to-end test run on it
#      (the windowed ones too), with zero sanitizer reports;
#   3. the whole project, tests and benchmarks included, built in Release
#      (-O3) with clang, warnings as errors, so that a warning that only one
#      compiler finds fails CI (built, not run: the suite has run above).
#      test.sh's own build is the same with GCC.
# Each tier prints how long it took. DREC_FUZZ_BUILD, DREC_SANITIZE_BUILD and
# DREC_RELEASE_CLANG_BUILD name the build folders (build-ci-fuzz,
# build-sanitize and build-ci-release-clang by default).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
fuzz_seconds=${DREC_FUZZ_SECONDS:-20}
fuzz_build=${DREC_FUZZ_BUILD:-build-ci-fuzz}
sanitize_build=${DREC_SANITIZE_BUILD:-build-sanitize}
release_clang_build=${DREC_RELEASE_CLANG_BUILD:-build-ci-release-clang}

# --- 1. Short fuzz runs (DREC_FUZZ_SECONDS=0 skips them) ------------------------
tier_start=$SECONDS
if [ "$fuzz_seconds" -gt 0 ]; then
  CC=clang-14 CXX=clang++-14 cmake -S . -B "$fuzz_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DDREC_SANITIZE=address,undefined -DDREC_BUILD_FUZZ=ON -DDREC_BUILD_TESTS=OFF \
    -DDREC_BUILD_BENCH=OFF -DDREC_WERROR=ON >/dev/null
  cmake --build "$fuzz_build" --target player_fuzzer bmp_fuzzer header_fuzzer hash_list_fuzzer
  for target in player bmp header hash_list; do
    # New inputs go to a scratch folder; the committed corpus is only read.
    scratch=$(mktemp -d)
    log="$fuzz_build/$target-fuzz.log"
    echo "Fuzzing $target for $fuzz_seconds s"
    if ! ASAN_OPTIONS=halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
         "$fuzz_build/fuzz/${target}_fuzzer" -max_total_time="$fuzz_seconds" -rss_limit_mb=512 \
         -malloc_limit_mb=64 -timeout=1 -print_final_stats=1 \
         -artifact_prefix="$fuzz_build/$target-" "$scratch" "fuzz/corpus/$target" >"$log" 2>&1; then
      tail -n 60 "$log"
      echo "*** fuzz target $target found a fault: the input is saved as $fuzz_build/$target-*"
      rm -rf "$scratch"
      exit 1
    fi
    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || true
    rm -rf "$scratch"
  done
fi
echo "Fuzz tier: $((SECONDS - tier_start)) s"

# --- 2. The whole suite under the sanitizers ----------------------------------
tier_start=$SECONDS
# Line tables are all the sanitizers' reports need (-g1), and they build in
# a fraction of the time of full debug information.
cmake -S . -B "$sanitize_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
  -DDREC_SANITIZE=address,undefined -DDREC_BUILD_BENCH=OFF -DDREC_WERROR=ON >/dev/null
cmake --build "$sanitize_build"
reports="$root/$sanitize_build/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
# Reports go to files as well as failing the program, so that a report from a
# player that a test runs as a child process is seen even where the test
# accepts the player's own failure status. The exit code 86 is none of ours.
common="halt_on_error=1:exitcode=86:log_path=$reports/report"
export ASAN_OPTIONS="$common:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="$common:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$root/tools/lsan.supp:print_suppressions=0"
# The GL libraries and Mesa's driver are loaded and unloaded again by every
# program that opens a window or an offscreen context; once unloaded, what
# their globals still point to looks leaked, from a module that can no longer
# be named. Loaded from the start they stay until the program ends. They come
# before the sanitizer runtime then, which it accepts with
# verify_asan_link_order=0; programs without the sanitizers (xwd, run by the
# screenshot tests) are left as they are.
preload=""
for library in libGL.so.1 libGLX_mesa.so.0 libEGL.so.1 libEGL_mesa.so.0 dri/swrast_dri.so; do
  path=$(compgen -G "/usr/lib/*/$library" | head -n 1 || true)
  if [ -n "$path" ]; then preload="$preload $path"; fi
done
export LD_PRELOAD="${preload# }"
export ASAN_OPTIONS="$ASAN_OPTIONS:verify_asan_link_order=0"
# A failed test runs once more: the sanitizers slow every program down
# several times, and a test that samples a terminal or a window at a moment
# can miss it. A sanitizer report still fails the tier through its file.
status=0
ctest --test-dir "$sanitize_build" --output-on-failure -j2 --timeout 900 --repeat until-pass:2 ||
  status=$?
if compgen -G "$reports/report*" >/dev/null; then
  echo "*** sanitizer reports:"
  for report in "$reports"/report*; do
    echo "--- $report"
    head -n 80 "$report"
  done
  status=1
fi
echo "Sanitizer tier: $((SECONDS - tier_start)) s"

# --- 3. Release build with clang -------------------------------------------------
tier_start=$SECONDS
# The sanitizer tier's preloads and options are not for the compiler.
unset LD_PRELOAD ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS
CC=clang-14 CXX=clang++-14 cmake -S . -B "$release_clang_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DDREC_WERROR=ON >/dev/null
cmake --build "$release_clang_build"
echo "Release build tier: $((SECONDS - tier_start)) s"
exit "$status"
