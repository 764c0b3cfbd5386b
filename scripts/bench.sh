#!/usr/bin/env bash
# Times a real run on a generated workspace (default: 100,000 records, 3,000
# topics, 40 goals). Needs hyperfine (Debian package) and a Release build.
# Usage: scripts/bench.sh [RECORDS] [--july]
set -euo pipefail
cd "$(dirname "$0")/.."

records=${1:-100000}
shift || true
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-release >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 scripts/gen-workspace.py "$work/template" "$records" 3000 40 "$@"
binary=$(pwd)/build-release/backfill-workspace

# Each timed run starts from the untouched template, so every run does the same work.
hyperfine --warmup 1 --runs 5 --export-json "$work/times.json" \
  --prepare "rm -rf '$work/ws' && cp -r '$work/template' '$work/ws'" \
  "$binary --root '$work/ws'"
python3 -c "import json,sys; r=json.load(open(sys.argv[1]))['results'][0]; print(f'median: {r[\"median\"]:.3f} s over {len(r[\"times\"])} runs')" "$work/times.json"
/usr/bin/time -v "$binary" --root "$work/ws" 2>&1 >/dev/null | grep -E "Maximum resident|Elapsed"
