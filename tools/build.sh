#!/usr/bin/env bash
# Builds the three flavours into build/native, build/win64 and build/win32.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
configure() { # folder, extra cmake arguments
  local dir=$root/build/$1; shift
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$root/build/configure-$(basename "$dir").log" 2>&1 \
    || { cat "$root/build/configure-$(basename "$dir").log"; return 1; }
}
mkdir -p "$root/build"
configure native
cmake --build "$root/build/native" -j "$jobs"
configure win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-win32.cmake"
cmake --build "$root/build/win32" -j "$jobs"
# The win64 tests need the native collector and the win32 DLL for its static checks.
configure win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-win64.cmake" \
  -DVXIDENT_NATIVE_BUILD="$root/build/native" -DVXIDENT_WIN32_BUILD="$root/build/win32"
cmake --build "$root/build/win64" -j "$jobs"
