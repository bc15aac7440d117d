#!/usr/bin/env bash
# Sets everything up, builds every fuzz target (fuzz/<name>_fuzz.cc) with clang
# and runs each for a while: scripts/fuzz.sh [seconds per target, default 5]
#
# Each target starts from a scratch copy of its seeds (fuzz/corpus/<name>/), so
# the inputs it finds stay out of the repository. A crash, a sanitizer report
# or a leak fails the run; the input that caused it is kept in
# build-fuzz/artifacts/ (reproduce with: build-fuzz/fuzz/<name>_fuzz FILE).
# BK_FUZZ_BUILD_DIR names another build directory.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-5}
scripts/setup.sh

dir=${BK_FUZZ_BUILD_DIR:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBK_FUZZ=ON >/dev/null
cmake --build "$dir" --target fuzz_targets --parallel "$(nproc)" >&2

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$dir/artifacts"

failed=()
for target in "$dir"/fuzz/*_fuzz; do
  [ -x "$target" ] || continue
  name=$(basename "$target" _fuzz)
  corpus="$scratch/$name"
  mkdir -p "$corpus"
  if [ -d "fuzz/corpus/$name" ]; then cp -R "fuzz/corpus/$name/." "$corpus/"; fi
  echo "== fuzz $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
    -artifact_prefix="$dir/artifacts/$name-" "$corpus" >"$scratch/$name.log" 2>&1; then
    tail -n 60 "$scratch/$name.log"
    failed+=("$name")
  else
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)' "$scratch/$name.log" || true
  fi
done

if ((${#failed[@]})); then
  echo "fuzzing failed: ${failed[*]}" >&2
  exit 1
fi
