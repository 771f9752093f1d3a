#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, and nothing when it is all there.
set -eu
packages=(
  cmake make g++ python3 binutils
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev
  googletest libgtest-dev libbenchmark-dev zlib1g-dev libturbojpeg0-dev
  wine64 xvfb xauth x11-utils
  locales fonts-wqy-microhei imagemagick
  qemu-system-x86 debootstrap  # the emulated machine that runs the win32 build (tools/emu32)
  # the collector: its store, pages, command lines (also the lossy relay's), crash analysis
  # (llvm-symbolizer), fuzzers, and the browser its pages are tested in
  pkg-config libsqlite3-dev libcpp-httplib-dev libcli11-dev nlohmann-json3-dev llvm libclang-rt-14-dev chromium
  clang lld  # MSVC import libraries and MSVC-style hosts (lld-link), the analysis tests' PDB sample
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd=sudo
  $sudo_cmd apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
