#!/bin/sh
# The test boot's job, run inside the emulated machine as /share/job.sh. The host offers the win32
# bin folder, the native collector's folder, the source tree's tests folder and, when made, the
# release's 32-bit hosts read-only; the drivers find them through the same variables as on the
# host, pointed at 32-bit Wine.
set -u
for part in bin collector tests; do
  mkdir -p /vx/$part
  mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,ro vx$part /vx/$part || exit 2
done
# Wine maps programs from 9p only partly right: an 8 MB test program started from the share
# faults at once on a page of zeros, and the same file runs from a local copy.
cp -a /vx/bin /tmp/vxbin || exit 2
# The 32-bit hosts built against the release, when the host offers them (tests/release).
mkdir -p /vx/release
if mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,ro vxrelease /vx/release 2>/dev/null; then
  mkdir -p /tmp/vxrelease && cp -a /vx/release /tmp/vxrelease/x86 || exit 2
  export VXIDENT_RELEASE_HOSTS=/tmp/vxrelease VXIDENT_RELEASE_ARCH=x86
fi
# The lossy relay of the native build, when the host offers it (the crash's whole packages).
mkdir -p /vx/relay
if mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,ro vxrelay /vx/relay 2>/dev/null; then
  export VXIDENT_LOSSY_RELAY=/vx/relay/lossy_relay
fi
# The drivers as they were when the boot began, whatever changes in the tree meanwhile.
cp -a /vx/tests /tmp/vxtests || exit 2
export WINEARCH=win32 WINEPREFIX=/root/.wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export VXIDENT_BIN=/tmp/vxbin VXIDENT_WINE=wine VXIDENT_COLLECTOR=/vx/collector/collector
# Every program start costs seconds here, about ten times what it costs on the host.
export VXIDENT_HOST_TIMEOUT=300
export PYTHONDONTWRITEBYTECODE=1 PYTHONUNBUFFERED=1
exec python3 /tmp/vxtests/vxtest /tmp/vxtests/emu32/guest_run.py
