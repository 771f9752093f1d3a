#!/usr/bin/env bash
# wine-prefix.sh start|stop PREFIX: makes the test prefix once and keeps a wine server running
# across the test programs (each start otherwise pays for Wine's services again).
set -eu
action=$1
export WINEPREFIX=$2 WINEDEBUG=-all
case "$action" in
  start)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
    fi
    /usr/lib/wine/wineserver -p 600 >/dev/null 2>&1 || true
    # A prefix that wineboot could not make is a setup failure, not a pass.
    test -f "$WINEPREFIX/system.reg"
    ;;
  stop)
    /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    ;;
esac
