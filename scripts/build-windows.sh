#!/usr/bin/env bash
# Cross-compiles the Windows build with Debian's MinGW-w64 (posix threads) into
# build-windows/: backfill-workspace.exe, one static file. With --tests, also
# the test suite, which ctest runs under wine (ctest --test-dir build-windows).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --windows
testing=OFF
[ "${1:-}" = --tests ] && testing=ON
cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DBUILD_TESTING=$testing \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
cmake --build build-windows
echo "built $(pwd)/build-windows/backfill-workspace.exe"
