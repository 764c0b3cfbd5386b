#!/usr/bin/env bash
# Formats the C++ sources with clang-format 19 and the project's .clang-format;
# with --check, changes nothing and fails on any unformatted line.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t sources < <(git ls-files 'src/*.cpp' 'src/*.hpp' 'tests/*.cpp' 'tests/*.hpp' 'fuzz/*.cpp' 'fuzz/*.hpp')
if [ "${1:-}" = --check ]; then
  clang-format-19 --dry-run --Werror "${sources[@]}"
else
  clang-format-19 -i "${sources[@]}"
fi
