#!/usr/bin/env bash
# Packs the Windows build into a zip (build-windows/backfill-workspace-VERSION-windows-x86_64.zip):
# the .exe, the README, the manual page as text and the licence notes; then
# checks the zip by running the .exe from it under wine on a copy of the
# sample workspace, which must end as the Linux run does.
# Usage: scripts/package-windows.sh (after scripts/build-windows.sh)
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-windows
exe=$build/backfill-workspace.exe
test -f "$exe" || { echo "$exe is missing: run scripts/build-windows.sh first" >&2; exit 1; }
version=$(sed -n 's/^project(backfill_workspace VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=backfill-workspace-$version-windows-x86_64
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/$name"
cp "$exe" "$stage/$name/"
cp README.md "$stage/$name/README.md"
# Overstrikes (bold, underline) come out as "x\bx" when man writes to a pipe.
sed "s/@PROJECT_VERSION@/$version/" doc/backfill-workspace.1 >"$stage/page.1"
LC_ALL=C.UTF-8 MANWIDTH=80 man -E UTF-8 -l "$stage/page.1" 2>/dev/null |
  sed -e 's/.\x08//g' >"$stage/$name/backfill-workspace.txt"
cp cmake/debian/copyright "$stage/$name/LICENSES.txt"
zip=$(pwd)/$build/$name.zip
rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip "$name")
echo "zip: $zip ($(du -k "$zip" | cut -f1) KB)"

check=$stage/check
mkdir "$check"
(cd "$check" && cmake -E tar xf "$zip")
cp -r examples/workspace "$check/workspace"
last=$(cd "$check" && WINEDEBUG=-all wine "$name/backfill-workspace.exe" --root workspace | tail -n 1)
echo "$last"
[ "$last" = "✅ 补全完成。" ] || { echo "the zipped command did not complete the sample" >&2; exit 1; }
