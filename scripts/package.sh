#!/usr/bin/env bash
# Builds the Debian package from a build directory (default: a Release build in
# build-release/), checks it with lintian (no error allowed), renders its
# manual page through man with warnings on, checks what a plain install puts
# under its prefix, and runs the packaged command on a copy of the sample
# workspace. Usage: scripts/package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-release}
bash scripts/install-deps.sh --package
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
fi
cmake --build "$build" --target backfill-workspace
rm -f "$build"/backfill-workspace_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/backfill-workspace_*.deb)
echo "package: $deb"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
lintian --fail-on error --suppress-tags-from-file /dev/null "$deb"

check=$(mktemp -d)
trap 'rm -rf "$check"' EXIT
dpkg-deb -x "$deb" "$check/root"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l \
  "$check/root/usr/share/man/man1/backfill-workspace.1.gz" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
  echo "the manual page renders with warnings:" >&2
  echo "$warnings" >&2
  exit 1
fi
# A plain install puts the same three files under its prefix, the manual page uncompressed.
cmake --install "$build" --prefix "$check/prefix" >/dev/null
for file in bin/backfill-workspace share/man/man1/backfill-workspace.1 \
  share/doc/backfill-workspace/README.md; do
  test -f "$check/prefix/$file" || { echo "cmake --install left out $file" >&2; exit 1; }
done
cp -r examples/workspace "$check/workspace"
"$check/root/usr/bin/backfill-workspace" --root "$check/workspace" | tail -n 1
