#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing:
# with --release only what a Release build of the command needs; with
# --windows only what the Windows build and its tests need; with --package
# also what building and checking the Debian package needs. Runs apt-get as
# root, or through sudo for anyone else.
set -euo pipefail

headers=(nlohmann-json3-dev rapidjson-dev libfmt-dev libxxhash-dev)
packages=(g++ cmake ninja-build pkg-config "${headers[@]}")
# The Windows build (scripts/build-windows.sh): MinGW-w64 with posix threads,
# the same header-only libraries, GoogleTest's sources, and wine to run the
# tests; man renders the manual page into the zip (scripts/package-windows.sh).
windows=(g++-mingw-w64-x86-64-posix wine wine64 googletest man-db groff-base)
if [ "${1:-}" = --windows ]; then
  packages=(cmake ninja-build "${headers[@]}" "${windows[@]}")
elif [ "${1:-}" != --release ]; then
  # GoogleTest for the tests; ICU, the Unicode Character Database and python3
  # for the tests that hold the command's Unicode tables to ICU and regenerate
  # them (the command itself uses neither); clang 19 with its sanitizer and libFuzzer runtimes
  # builds the sanitizer and fuzz builds; llvm-19 brings the symbolizer that
  # puts function names and lines into their reports. fusefat and dosfstools
  # make and mount the FAT32 image the FAT tests run on, where /dev/fuse exists;
  # clang-format-19 checks the formatting.
  packages+=(libgtest-dev libicu-dev unicode-data python3 clang-19 libclang-rt-19-dev llvm-19 fusefat dosfstools clang-format-19 "${windows[@]}")
fi
if [ "${1:-}" = --package ]; then
  # dpkg-shlibdeps (dpkg-dev) finds the runtime dependencies; cpack needs `file`
  # for it; man renders the manual page.
  packages+=(dpkg-dev file lintian man-db groff-base)
fi
missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
