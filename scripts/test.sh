#!/usr/bin/env bash
# Runs every test of the project: the include rules and the formatting of the
# sources, unit and end-to-end tests in a normal build,
# again under AddressSanitizer+UndefinedBehaviorSanitizer, the threaded core
# tests under ThreadSanitizer, and each fuzzer for a bounded time.
#   FUZZ_SECONDS  seconds per fuzzer (default 45)
#   HX_SKIP       space-separated stages to skip: checks normal asan tsan fuzz
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
FUZZ_SECONDS=${FUZZ_SECONDS:-45}
HX_SKIP=${HX_SKIP:-}
skip() { [[ " $HX_SKIP " == *" $1 "* ]]; }
stage() { echo; echo "=== $* ==="; }

if ! skip checks; then
  stage "include rules and formatting"
  scripts/check-includes.sh
  scripts/check-format.sh
fi
if ! skip normal; then
  stage "normal build and tests"
  cmake --preset ci >/dev/null
  cmake --build --preset ci
  ctest --preset ci
fi
if ! skip asan; then
  stage "AddressSanitizer + UndefinedBehaviorSanitizer"
  cmake --preset asan >/dev/null
  cmake --build --preset asan
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --preset asan
fi
if ! skip tsan; then
  stage "ThreadSanitizer"
  # The tests labelled "threads" in tests/CMakeLists.txt: the parts that run
  # threads, the libusb driver's event thread among them.
  cmake --preset tsan >/dev/null
  cmake --build --preset tsan --target threaded_tests
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --preset tsan -L '^threads$'
fi
if ! skip fuzz; then
  stage "fuzzers, ${FUZZ_SECONDS}s each"
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz
  for fuzzer in build-fuzz/bin/fuzz_*; do
    [ -x "$fuzzer" ] || continue
    name=$(basename "$fuzzer"); name=${name#fuzz_}
    corpus=$(mktemp -d)
    [ -d "tests/fuzz/corpus/$name" ] && cp -r "tests/fuzz/corpus/$name/." "$corpus/"
    # Whole data files and recordings are larger than records and text files.
    max_len=4096
    case "$name" in datafile|analysis) max_len=17060 ;; esac
    echo "--- $name"
    # A finding is shown whole (stack and the input that caused it), a clean run by its last lines.
    out=$(mktemp)
    if ! "$fuzzer" -max_total_time="$FUZZ_SECONDS" -max_len="$max_len" -print_final_stats=1 \
        -artifact_prefix="$corpus/" "$corpus" >"$out" 2>&1; then
      grep -v -E '^#[0-9]+\s+(NEW|REDUCE|pulse|INITED)' "$out" | tail -n 150
      for input in "$corpus"/crash-* "$corpus"/leak-* "$corpus"/timeout-* "$corpus"/oom-*; do
        [ -f "$input" ] && { echo "input $(basename "$input"):"; od -A d -c "$input" | head -n 40; }
      done
      exit 1
    fi
    tail -n 4 "$out"
    rm -rf "$corpus" "$out"
  done
fi
echo; echo "All tests passed."
