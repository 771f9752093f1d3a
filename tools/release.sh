#!/usr/bin/env bash
# release.sh [--win32 DIR] [--win64 DIR] [--out DIR]
# Makes the release a studio unpacks: builds VXIdent.dll for x86 (the win32 flavour) and x64 (the
# win64 flavour), installs both into OUT/VXIdent-<version>/ and archives that folder as
# OUT/VXIdent-<version>-windows.zip. The build folders default to build/win32 and build/win64 and
# are configured the way tools/build.sh does when they do not exist yet; OUT defaults to
# build/release. Prints the archive's path last.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
win32=$root/build/win32 win64=$root/build/win64 out=$root/build/release
while [ $# -gt 0 ]; do
  case "$1" in
    --win32) win32=$2; shift 2 ;;
    --win64) win64=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) echo "usage: $0 [--win32 DIR] [--win64 DIR] [--out DIR]" >&2; exit 2 ;;
  esac
done

quietly() { # command...: its output only when it fails
  local log
  log=$(mktemp)
  "$@" >"$log" 2>&1 || { cat "$log"; rm -f "$log"; echo "release.sh: failed: $*" >&2; exit 1; }
  rm -f "$log"
}

build() { # folder, toolchain flavour
  local dir=$1 flavour=$2
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    quietly cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$flavour.cmake"
  fi
  quietly cmake --build "$dir" --target VXIdent -j "$(nproc)"
}
build "$win32" win32
build "$win64" win64

stage=$out/stage
rm -rf "$stage"
mkdir -p "$stage"
quietly cmake --install "$win32" --prefix "$stage/tree"
quietly cmake --install "$win64" --prefix "$stage/tree"
version=$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' "$stage/tree/cmake/VXIdentConfigVersion.cmake")
[ -n "$version" ] || { echo "release.sh: no version in the installed package" >&2; exit 1; }
name=VXIdent-$version

rm -rf "${out:?}/$name" "$out/$name-windows.zip"
mv "$stage/tree" "$out/$name"
rmdir "$stage"
# A zip, which Windows opens without extra tools; CMake writes it, so no zip program is needed.
(cd "$out" && quietly cmake -E tar cf "$name-windows.zip" --format=zip "$name")
echo "$out/$name-windows.zip"
