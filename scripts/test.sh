#!/usr/bin/env bash
# Sets everything up, then builds and runs every test: plainly, under
# AddressSanitizer with UndefinedBehaviorSanitizer, and under ThreadSanitizer;
# then runs every fuzz target for a few seconds (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

for variant in plain address thread; do
  echo "== $variant build"
  dir=$(scripts/build.sh "$variant" | tail -n 1)
  echo "== $variant tests"
  ctest --test-dir "$dir" --output-on-failure --parallel "$(nproc)" --timeout 300
done

echo "== fuzz targets"
scripts/fuzz.sh 5
