#!/usr/bin/env bash
# run-scenarios.sh WIN32_BIN COLLECTOR_DIR WORK_DIR [RELEASE_HOSTS_X86]
# Runs the end-to-end drivers against the win32 build inside the emulated machine, in one boot:
# the machine (tools/emu32/image.sh, built on first use) gets the win32 bin folder, the native
# collector's folder and the tests folder read-only, and WORK_DIR as its /share. RELEASE_HOSTS_X86,
# when given, is the folder of 32-bit hosts built against the release (tests/release), offered too.
# Prints the job's output; on failure, everything the machine printed.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$1 collector=$2 work=$3 release=${4:-}
limit=${VXIDENT_EMU32_LIMIT:-2400}

for needed in "$bin/VXIdent.dll" "$bin/emu32_idle_host.exe" "$collector/collector"; do
  [ -f "$needed" ] || { echo "run-scenarios.sh: $needed is missing: build the win32 and native flavours" >&2; exit 1; }
done
image=$("$here/image.sh")
rm -rf "$work"
mkdir -p "$work"
cp "$root/tests/emu32/guest-job.sh" "$work/job.sh"

offered=(--ro "vxbin=$bin" --ro "vxcollector=$collector" --ro "vxtests=$root/tests")
[ -n "$release" ] && offered+=(--ro "vxrelease=$release")
# The native lossy relay beside the collector's build, for the crash's whole-package cases.
relay_dir=$(cd "$collector/.." && pwd)/benchmarks/wire
[ -f "$relay_dir/lossy_relay" ] && offered+=(--ro "vxrelay=$relay_dir")
status=0
"$here/boot.sh" "${offered[@]}" "$image" "$work" "$limit" || status=$?
if [ "$status" -eq 0 ]; then
  cat "$work/job.log"
elif [ -f "$work/console.log" ] && [ "$status" -ne 125 ]; then
  # boot.sh has printed the console already when the machine reported nothing at all.
  echo "emu32: the job failed with exit code $status; the machine's console:"
  cat "$work/console.log"
fi
exit "$status"
