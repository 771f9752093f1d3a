#!/usr/bin/env bash
# build_hosts.sh TREE OUT
# Builds, against the unpacked release TREE, the programs that prove a studio can link it, for
# both architectures: the MSVC-style hosts without a C runtime (clang and lld-link against
# VXIdent.lib, tests/release/hosts) and the find_package consumer (MinGW, tests/release/consumer).
# Each architecture's programs land in OUT/<arch>/ beside a copy of the tree's DLL, as a game ships
# them; the build folders are OUT/build-*. Fails on the first step that fails, showing its output.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
tree=$(cd "$1" && pwd)
out=$2
mkdir -p "$out"
out=$(cd "$out" && pwd)

step() { # description, command...
  local what=$1; shift
  local log=$out/last-step.log
  if ! "$@" >"$log" 2>&1; then
    echo "build_hosts.sh: $what failed:"
    cat "$log"
    exit 1
  fi
}

for arch in x86 x64; do
  case $arch in x86) flavour=win32 ;; x64) flavour=win64 ;; esac
  rm -rf "${out:?}/$arch" "$out/build-nocrt-$arch" "$out/build-consumer-$arch"
  mkdir -p "$out/$arch"
  step "configuring the $arch hosts without a runtime" cmake -S "$here/hosts" -B "$out/build-nocrt-$arch" \
    -DVXIDENT_TREE="$tree" -DVXIDENT_ARCH=$arch -DVXIDENT_HOSTS_OUT="$out/$arch"
  step "building the $arch hosts without a runtime" cmake --build "$out/build-nocrt-$arch"
  step "configuring the $arch find_package consumer" cmake -S "$here/consumer" -B "$out/build-consumer-$arch" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$flavour.cmake" -DCMAKE_PREFIX_PATH="$tree" \
    -DCMAKE_RUNTIME_OUTPUT_DIRECTORY="$out/$arch"
  step "building the $arch find_package consumer" cmake --build "$out/build-consumer-$arch"
  # The no-runtime hosts find the DLL beside them too; the consumer's build copied it already.
  cp "$tree/bin/$arch/VXIdent.dll" "$out/$arch/"
  echo "$arch: $(cd "$out/$arch" && ls | tr '\n' ' ')"
done
rm -f "$out/last-step.log"
