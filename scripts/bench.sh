#!/usr/bin/env bash
# Times the command against the cost of reading the records, on generated
# workspaces of 10,000 and 100,000 records (3,000 topics, 40 goals), in a
# Release build: the read floor (every record file read once), the dry run, the
# first real run and a second run with the derived files present; then the
# ratio of each to the floor (the first run also to the read floor plus a write
# floor: tar writing the same output files into an empty folder on the same
# disk, then `sync -f` there), the growth from 10,000 to 100,000 records and
# the peak resident memory; then the first and second runs at 100,000 records
# with bodies of about 4 KB. Then the record cache at 10,000 and 100,000
# records: runs where nothing changed, where one record was saved again with
# nothing changed that matters, and where one and ten records were edited,
# against the read floor, with peaks and the cache's size, and the stage
# times of a one-edit run. A last case files 50,000 records into
# one goal with a section, where goal-file work must stay linear.
# Every run starts on a fresh copy that is flushed to disk first, so the copy's
# write-back does not land in the measured run. The workspaces go below
# $BENCH_DIR (default: the system's temporary directory); the file system
# there matters, since a run creates thousands of files.
# With BENCH_BEFORE=BINARY, the first and second runs at 100,000 records are
# also timed with that binary (an earlier build) in the same hyperfine runs,
# alternating, with the peak memory of both, so a change is measured against
# what it replaces under the same disk and load.
# Needs hyperfine and python3 (Debian packages). Usage: scripts/bench.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-5}
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-release >/dev/null
binary=$(pwd)/build-release/backfill-workspace

work=$(mktemp -d -p "${BENCH_DIR:-${TMPDIR:-/tmp}}")
trap 'rm -rf "$work"' EXIT
# Every copy is a workspace of its own to the record cache: theirs go with
# the copies.
export XDG_CACHE_HOME=$work/cache

# Median seconds of one command over the runs, each prepared by `prepare`.
median() {
  local name=$1 prepare=$2 command=$3
  hyperfine --warmup 1 --runs "$runs" --style none --export-json "$work/$name.json" \
    --prepare "$prepare" "$command" >/dev/null
  python3 -c 'import json,sys; print("%.3f" % json.load(open(sys.argv[1]))["results"][0]["median"])' \
    "$work/$name.json"
}

# Peak resident memory in MB of one run on a fresh copy of `template`.
peak_mb() {
  local template=$1; shift
  rm -rf "$work/ws" && cp -r "$template" "$work/ws" && sync
  /usr/bin/time -f %M "$binary" --root "$work/ws" "$@" 2>&1 >/dev/null | tail -n 1 |
    awk '{printf "%.0f", $1 / 1024}'
}

declare -A first_run
echo "file system: $(df -T "$work" | awk 'NR == 2 {print $2}'), $(nproc) cores"
printf '| Records | Read floor | Write floor | Dry run | First run | Second run | Peak memory (first / second) |\n'
printf '|---|---|---|---|---|---|---|\n'
for records in 10000 100000; do
  template=$work/template-$records
  second=$work/second-$records
  python3 scripts/gen-workspace.py "$template" "$records" 3000 40
  cp -r "$template" "$second" && "$binary" --root "$second" >/dev/null

  floor=$(median floor true "tar cf - -C '$template' . | cat >/dev/null")
  # The write floor: the files one run writes, written by tar into an empty
  # folder on the same disk and flushed there, as the run flushes its own.
  tar cf "$work/output.tar" -C "$second" .system summary
  write_floor=$(median write "rm -rf '$work/out' && mkdir '$work/out' && sync" \
    "tar xf '$work/output.tar' -C '$work/out' && sync -f '$work/out'")
  rm -rf "$work/out" "$work/output.tar"
  dry=$(median dry "rm -rf '$work/ws' && cp -r '$template' '$work/ws' && sync" "$binary --root '$work/ws' --dry-run")
  first=$(median first "rm -rf '$work/ws' && cp -r '$template' '$work/ws' && sync" "$binary --root '$work/ws'")
  again=$(median second "rm -rf '$work/ws' && cp -r '$second' '$work/ws' && sync" "$binary --root '$work/ws'")
  peak_first=$(peak_mb "$template")
  peak_second=$(peak_mb "$second")
  first_run[$records]=$first
  ratio() { python3 -c "import sys; print(f'{float(sys.argv[1]) / float(sys.argv[2]):.1f}×')" "$1" "$floor"; }
  # The first run against the read floor, and against the read and the write floor.
  both=$(python3 -c "import sys; print(f'{float(sys.argv[1]) / (float(sys.argv[2]) + float(sys.argv[3])):.2f}× read+write')" \
    "$first" "$floor" "$write_floor")
  printf '| %s | %s s | %s s | %s s (%s) | %s s (%s; %s) | %s s (%s) | %s MB / %s MB |\n' "$records" \
    "$floor" "$write_floor" "$dry" "$(ratio "$dry")" "$first" "$(ratio "$first")" "$both" "$again" \
    "$(ratio "$again")" "$peak_first" "$peak_second"
  rm -rf "$template" "$second"
done
python3 -c "import sys; print(f'Growth 10,000 → 100,000 records (first run): {float(sys.argv[2]) / float(sys.argv[1]):.1f}×')" \
  "${first_run[10000]}" "${first_run[100000]}"

# 100,000 records with bodies of about 4 KB (390 MB of records): only their
# snippets outlive the scan, so the peak must stay near the one above.
long=$work/long
python3 scripts/gen-workspace.py "$long-template" 100000 3000 40 --body-bytes 4096
cp -r "$long-template" "$long-second" && "$binary" --root "$long-second" >/dev/null
long_first=$(median long-first "rm -rf '$work/ws' && cp -r '$long-template' '$work/ws' && sync" \
  "$binary --root '$work/ws'")
long_second=$(median long-second "rm -rf '$work/ws' && cp -r '$long-second' '$work/ws' && sync" \
  "$binary --root '$work/ws'")
echo "100,000 records with 4 KB bodies: first run $long_first s ($(peak_mb "$long-template") MB)," \
  "second run $long_second s ($(peak_mb "$long-second") MB)"
rm -rf "$long-template" "$long-second"

# Before and after, in one hyperfine run per case.
if [ -n "${BENCH_BEFORE:-}" ]; then
  template=$work/template-compare
  second=$work/second-compare
  python3 scripts/gen-workspace.py "$template" 100000 3000 40
  cp -r "$template" "$second" && "$BENCH_BEFORE" --root "$second" >/dev/null
  echo
  echo "Before ($BENCH_BEFORE) and after, 100,000 records, medians of $runs runs:"
  for case in first second; do
    source_dir=$template
    [ "$case" = second ] && source_dir=$second
    hyperfine --warmup 1 --runs "$runs" --style none --export-json "$work/compare-$case.json" \
      --prepare "rm -rf '$work/ws' && cp -r '$source_dir' '$work/ws' && sync" \
      -n before "$BENCH_BEFORE --root '$work/ws'" -n after "$binary --root '$work/ws'" >/dev/null
    python3 -c 'import json,sys
r = {x["command"]: x["median"] for x in json.load(open(sys.argv[1]))["results"]}
print("%s run: before %.3f s, after %.3f s (%+.1f %%)" % (sys.argv[2], r["before"], r["after"], 100 * (r["after"] / r["before"] - 1)))' \
      "$work/compare-$case.json" "$case"
    before_mb=$(binary=$BENCH_BEFORE peak_mb "$source_dir")
    after_mb=$(peak_mb "$source_dir")
    echo "$case run peak memory: before $before_mb MB, after $after_mb MB"
  done
  rm -rf "$template" "$second"
fi

# The record cache, in place on one workspace whose files are dated back (a
# file changed less than 2 s before a run is read again): a run where nothing
# changed; a run after one record was saved again with a line more, which
# changes no record (read again, found the same, nothing else done); a run
# after one record was edited (its time moved by a minute, the size kept) and
# one after ten records in ten months were, against that workspace's read
# floor, with peaks and the cache's size; then the stage times of a run after
# one edit at 100,000 records. BENCH_CACHE_RECORDS lists the sizes (default
# "10000 100000"; the README's 1,000,000 row was measured by hand with it).
cat >"$work/edit.py" <<'EDIT'
import re, sys
# Moves the first time heading of each file by a minute, back and forth.
for path in sys.argv[1:]:
    text = open(path, encoding="utf-8").read()
    flip = lambda m: m.group(1) + str(int(m.group(2)) ^ 1)
    open(path, "w", encoding="utf-8").write(re.sub(r"(?m)^(## \d\d:\d)(\d)", flip, text, count=1))
EDIT
echo
echo "Record cache:"
printf '| Records | Read floor | Nothing changed | One record saved again | One record edited | Ten records edited | Peak (nothing / edited) | Cache |\n'
printf '|---|---|---|---|---|---|---|---|\n'
for records in ${BENCH_CACHE_RECORDS:-10000 100000}; do
  # Only this workspace's cache, for its size: the copies above left theirs.
  rm -rf "$XDG_CACHE_HOME/backfill-workspace"
  cached=$work/cached
  python3 scripts/gen-workspace.py "$cached" "$records" 3000 40
  "$binary" --root "$cached" >/dev/null
  # Settles the workspace, fills the cache and, with a last run that writes
  # nothing and finds nothing recent, leaves the key of an unchanged run.
  for pass in 1 2 3; do
    find "$cached" -exec touch -d '-1 hour' {} +
    "$binary" --root "$cached" >/dev/null
  done
  record=$(find "$cached" -path '*/20*/*.md' | sort | sed -n 1p)
  # One record in each of ten months.
  ten=$(for month in $(find "$cached" -mindepth 2 -maxdepth 2 -type d -path '*/20*' | sort | head -n 10); do
    find "$month" -name '*.md' | sort | sed -n 1p
  done | tr '\n' ' ')
  cached_floor=$(median cached-floor true "tar cf - -C '$cached' . | cat >/dev/null")
  noop=$(median noop true "$binary --root '$cached'")
  noop_mb=$(/usr/bin/time -f %M "$binary" --root "$cached" 2>&1 >/dev/null | tail -n 1 | awk '{printf "%.0f", $1 / 1024}')
  saved=$(median one-saved "echo >> '$record'" "$binary --root '$cached'")
  one=$(median one-record "python3 '$work/edit.py' '$record'" "$binary --root '$cached'")
  python3 "$work/edit.py" "$record"
  one_mb=$(/usr/bin/time -f %M "$binary" --root "$cached" 2>&1 >/dev/null | tail -n 1 | awk '{printf "%.0f", $1 / 1024}')
  tens=$(median ten-records "python3 '$work/edit.py' $ten" "$binary --root '$cached'")
  if [ "$records" = 100000 ]; then
    python3 "$work/edit.py" "$record"
    stage_times=$(BACKFILL_STAGE_TIMES=1 "$binary" --root "$cached" 2>&1 >/dev/null | grep '^\[time\]')
  fi
  python3 -c 'import sys
n, floor, noop, saved, one, ten = sys.argv[1], *map(float, sys.argv[2:7])
print(f"| {n} | {floor:.3f} s | {noop:.3f} s ({noop / floor:.2f}×) | {saved:.3f} s ({saved / floor:.2f}×) "
      f"| {one:.3f} s ({one / floor:.2f}×) | {ten:.3f} s ({ten / floor:.2f}×) "
      f"| {sys.argv[7]} MB / {sys.argv[8]} MB | {sys.argv[9]} |")' \
    "$records" "$cached_floor" "$noop" "$saved" "$one" "$tens" "$noop_mb" "$one_mb" \
    "$(du -k "$XDG_CACHE_HOME/backfill-workspace" | tail -n 1 | cut -f1) KB"
  rm -rf "$cached" "$XDG_CACHE_HOME/backfill-workspace"
done
if [ -n "${stage_times:-}" ]; then
  echo
  echo "Stages of a run after one edit at 100,000 records (seconds from the first stage's start):"
  echo "$stage_times"
fi

# One goal with a section holding all 50,000 records.
python3 scripts/gen-workspace.py "$work/one-goal" 50000 100 1 --one-goal
echo "50,000 records in one goal, first run: $(median one-goal \
  "rm -rf '$work/ws' && cp -r '$work/one-goal' '$work/ws' && sync" "$binary --root '$work/ws'") s"

# A longer run of the test that holds cached runs to full ones: with
# BENCH_DIFF_STEPS=N, N random steps (seed BENCH_DIFF_SEED, else a random one,
# printed by the test when it fails) in the test build; CI runs 40 steps of
# seed 20261210.
if [ -n "${BENCH_DIFF_STEPS:-}" ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build --target backfill_tests backfill-workspace >/dev/null
  seed=${BENCH_DIFF_SEED:-$RANDOM}
  echo
  echo "Differential test, $BENCH_DIFF_STEPS steps, seed $seed:"
  BACKFILL_DIFF_STEPS=$BENCH_DIFF_STEPS BACKFILL_DIFF_SEED=$seed \
    build/tests/backfill_tests --gtest_filter='CacheDifferentialTest.*' | tail -n 3
fi
