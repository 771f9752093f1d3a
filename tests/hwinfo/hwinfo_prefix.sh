#!/usr/bin/env bash
# hwinfo_prefix.sh start|stop PREFIX: the Wine prefix of the registry test alone, which writes and
# deletes the keys the probes read.
set -eu
export WINEPREFIX=$2 WINEDEBUG=-all
case "$1" in
  start)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
      # The registry reaches the disk only when the server wineboot started has gone.
      /usr/lib/wine/wineserver -w || true
    fi
    /usr/lib/wine/wineserver -p 600 >/dev/null 2>&1 || true
    # Start the prefix's services here, with their output going nowhere: started by the test, they
    # would inherit its output pipe and hold it open for as long as the server lives.
    /usr/lib/wine/wine64 wineboot >/dev/null 2>&1 || true
    test -f "$WINEPREFIX/system.reg"
    ;;
  stop)
    /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    ;;
esac
