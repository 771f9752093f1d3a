#!/usr/bin/env bash
# Runs every fuzzer for 10^7 inputs (or RUNS), one after the other, with ASan and UBSan: the
# collector's datagram, package and minidump readers, the crash analysis, the pages' text handling
# and the client's text parsers. Not part of CI, which runs each for a few seconds (ctest -R fuzz_).
# Findings are left in build/fuzz/corpus/NAME.findings/.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-10000000}
build=$root/build/fuzz
CC=clang CXX=clang++ cmake -S "$root/tests/collector/fuzz" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)"
status=0
for name in datagram package minidump analysis page_text client_config letter_codes expand_template; do
  seeds=$root/tests/collector/fuzz/seeds/$name
  [ -d "$seeds" ] || seeds=$root/tests/collector/data
  echo "== fuzz_$name: $runs inputs"
  "$root/tests/collector/fuzz/run_fuzzer.sh" "$build/fuzz_$name" "$build/corpus/$name" "$seeds" -runs="$runs" \
    || status=1
done
exit $status
