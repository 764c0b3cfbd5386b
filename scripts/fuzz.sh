#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang 19 (ASan + UBSan) in
# build-fuzz/ and runs the named ones (all when none is named) one after the
# other, each on one core for SECONDS (default 60).
#
# The seed corpus fuzz/corpus/TARGET is only read. What a run finds goes to
# build-fuzz/corpus/TARGET, and crashing inputs to build-fuzz/crashes/TARGET/.
# A target stops at its first finding; with --keep-going it runs in libFuzzer's
# fork mode (one child at a time) and goes on past crashes, timeouts and
# out-of-memory inputs, collecting them all. With --merge, inputs of the work
# corpus that add coverage are copied into the seed corpus afterwards; review
# them before committing.
#
# Usage: scripts/fuzz.sh [TARGET...] [--time SECONDS] [--keep-going] [--merge]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
merge=0
mode=()
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --time) seconds=$2; shift 2 ;;
    --merge) merge=1; shift ;;
    --keep-going) mode=(-fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1); shift ;;
    -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
    *) targets+=("$1"); shift ;;
  esac
done
if [ ${#targets[@]} -eq 0 ]; then
  targets=($(ls fuzz/corpus))
fi

bash scripts/install-deps.sh
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-19 -DBACKFILL_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz --target "${targets[@]/#/fuzz_}"

export UBSAN_OPTIONS=print_stacktrace=1
export ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-19/bin/llvm-symbolizer
failed=()
for target in "${targets[@]}"; do
  work=build-fuzz/corpus/$target
  crashes=build-fuzz/crashes/$target
  mkdir -p "$work" "$crashes"
  echo "== $target: ${seconds}s"
  # -timeout: a small input that takes seconds is a finding, not a slow machine.
  if ! build-fuzz/fuzz/fuzz_"$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    "${mode[@]}" -artifact_prefix="$crashes/" "$work" "fuzz/corpus/$target"; then
    failed+=("$target")
    continue
  fi
  if [ "$merge" -eq 1 ]; then
    build-fuzz/fuzz/fuzz_"$target" -merge=1 "fuzz/corpus/$target" "$work"
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "findings in: ${failed[*]} (inputs in build-fuzz/crashes/)"
  exit 1
fi
