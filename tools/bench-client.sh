#!/usr/bin/env bash
# The client's cost per report under Wine, against raw sendto. Needs a build (tools/build.sh).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/win64/bin}
"$root/tools/wine-prefix.sh" start "$root/build/wineprefix"
work=$(mktemp -d)
# The transport echoes each datagram on standard output: to /dev/null, as in a game without a console.
(cd "$work" && "$root/tools/wine64-run" "$bin/client_bench.exe" >/dev/null)
rm -rf "$work"
