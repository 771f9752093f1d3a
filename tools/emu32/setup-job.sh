#!/bin/sh
# The setup boot's job: makes the 32-bit Wine prefix inside the image. It cannot be made on the
# host, whose kernel does not run 32-bit programs.
export WINEARCH=win32 WINEPREFIX=/root/.wine WINEDEBUG=-all
# No display and no network: the Mono and Gecko installers would only wait for an answer.
export WINEDLLOVERRIDES="mscoree,mshtml="
set -x
wineboot --init
wineserver -w
test -f "$WINEPREFIX/system.reg"
# The prefix must be a 32-bit one, or every test would run the wrong loader.
grep -q '^#arch=win32' "$WINEPREFIX/system.reg"
