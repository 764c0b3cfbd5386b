#!/usr/bin/env bash
# Installs what is missing, fails on any unformatted line (scripts/format.sh),
# builds everything and runs every test, with warnings as errors in every
# build: with g++ in build/, there a second time with
# BACKFILL_PORTABLE_FALLBACKS=1, with clang 19 under AddressSanitizer and
# UndefinedBehaviorSanitizer in build-asan/, and for Windows with MinGW-w64 in
# build-windows/, run under wine (the fuzz corpora run in each). Then packs
# the Windows zip and checks it (scripts/package-windows.sh), and builds the
# Debian package from build/ and checks it (scripts/package.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
bash scripts/format.sh --check
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=g++ -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
cmake --build build
ctest --test-dir build --output-on-failure -j2
# The same build once more on the fallbacks other systems run (no syncfs,
# no no-replace rename, no malloc_trim); the tests' child processes, the
# command and the fault runner, inherit the switch.
BACKFILL_PORTABLE_FALLBACKS=1 ctest --test-dir build --output-on-failure -j2

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-19 -DBACKFILL_SANITIZE=ON -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
cmake --build build-asan
UBSAN_OPTIONS=print_stacktrace=1 ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-19/bin/llvm-symbolizer \
  ctest --test-dir build-asan --output-on-failure -j2

bash scripts/build-windows.sh --tests
# Wine now and then fails to start a process when the machine is loaded (a
# test that dies before printing anything): a failed test runs once more, and
# a real fault fails both times.
ctest --test-dir build-windows --output-on-failure -j2 --repeat until-pass:2
bash scripts/package-windows.sh

bash scripts/package.sh build
