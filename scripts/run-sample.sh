#!/usr/bin/env bash
# Installs what is missing, builds the command in Release and runs it on a copy
# of the bundled sample workspace (the checkout itself stays untouched).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --release
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
cmake --build build-release

out=out/sample
rm -rf "$out"
mkdir -p "$out"
cp -r examples/workspace "$out/workspace"
(cd "$out" && ../../build-release/backfill-workspace --root workspace --emit-golden golden)

echo
echo "results: $(pwd)/$out/workspace/.system, $(pwd)/$out/workspace/summary"
echo "golden expected set: $(pwd)/$out/golden/workspace"
