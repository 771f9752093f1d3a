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
      # The server writes the registry files when it exits: wait for that.
      /usr/lib/wine/wineserver -w >/dev/null 2>&1 || true
    fi
    /usr/lib/wine/wineserver -p 600 >/dev/null 2>&1 || true
    # The first program of a server starts Wine's own services, which live on holding whatever
    # output that program had: let it be this one, with nothing to hold.
    /usr/lib/wine/wine64 cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
    # A prefix that wineboot could not make is a setup failure, not a pass.
    test -f "$WINEPREFIX/system.reg"
    ;;
  stop)
    /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    ;;
esac
