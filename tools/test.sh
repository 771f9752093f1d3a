#!/usr/bin/env bash
# Installs, builds and runs every test: the native suite, then the Windows suite under wine64
# (which also checks the win32 DLL statically).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
"$root/tools/build.sh"
status=0
ctest --test-dir "$root/build/native" --output-on-failure -j 2 || status=1
ctest --test-dir "$root/build/win64" --output-on-failure || status=1
exit $status
