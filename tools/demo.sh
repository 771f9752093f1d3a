#!/usr/bin/env bash
# The main job: builds everything, starts the collector on 127.0.0.1:12345 (the client's default)
# and runs the demo host under Wine in a fresh folder; the collector prints each datagram decoded,
# stores them and the crash, and serves the crash's page, its stack symbolized from the demo
# host's debug information. The collector stays up for ten minutes after the last datagram so
# that the page can be looked at; the last line printed is the page's address.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
"$root/tools/build.sh"
"$root/tools/wine-prefix.sh" start "$root/build/wineprefix"

work=$(mktemp -d /tmp/vxident-demo.XXXXXX)
cat >"$work/HVInfo.conf" <<CONF
[HVINFO]
ServerHost=127.0.0.1
ServerPort=12345
CycleGatherOption=1
ClientRepeatSend=1
CrashSummary=1
CrashPackageWhole=1
CrashPackageRate=128
CrashPackageLimit=2048
CONF
# A normal minidump with the extra-information text. The crash summary goes first; the package
# goes as the key-17 blob (cut at 64512 bytes) and then whole in parts, which the collector puts
# back together.
cat >"$work/HVModule.dat" <<CONF
[VXException]
Format_MessageBox_Title=VXIdent demo
Format_CrashDump=NAE
[Common]
Product=Demo
Series=Alpha
CONF
printf '[Common]\r\nVersion=1.0.0\r\n' >"$work/Version.dat"
http_port=${DEMO_HTTP_PORT:-8080}
"$root/build/native/collector/collector" --listen 127.0.0.1:12345 --out "$work/collected" --idle-timeout 600 \
  --http "127.0.0.1:$http_port" --symbols "$root/build/win64/bin" >"$work/collector.jsonl" 2>"$work/collector.err" &
collector=$!
trap 'kill $collector 2>/dev/null || true' EXIT
sleep 0.5
kill -0 $collector 2>/dev/null || { cat "$work/collector.err"; exit 1; }

echo "== demo host (its echo of each datagram is in $work/host-stdout.txt) =="
# Without a display Wine's message box returns at once, so the crash ends the host by itself.
status=0
(cd "$work" && DISPLAY= timeout 120 "$root/tools/wine64-run" "$root/build/win64/bin/demo_host.exe" >host-stdout.txt) \
  || status=$?
echo "demo host ended with exit code $status (1 after a crash report)"
# The crash worker unpacks, analyses and stores the package after its datagram's line.
for _ in $(seq 60); do
  grep -q '"event":"crash_report".*"wire_id"' "$work/collector.jsonl" && break
  sleep 1
done
echo "== collector: one line per datagram =="
cat "$work/collector.jsonl"
echo "== files in $work =="
ls -R "$work/collected" 2>/dev/null || true
ls -l "$work"/TempDump.* 2>/dev/null || true
page=$(grep -o '"page":"[^"]*"' "$work/collector.jsonl" | tail -1 | cut -d'"' -f4)
trap - EXIT
echo "== the collector serves the pages for ten minutes more (kill $collector to stop it)"
if [ -z "$page" ]; then
  echo "no crash report arrived (TempDump.dmp above says whether a dump was written); the crash groups:"
  page="http://127.0.0.1:$http_port/"
fi
echo "$page"
