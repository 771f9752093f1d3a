#!/usr/bin/env python3
"""Crash benchmark: time from the fault to the end of the process, split into minidump,
compression and send, with the package size and ratio.

    python3 tests/vxtest benchmarks/crash/run_crash_bench.py [--runs 3] [--timeout 600]

The programs come from the test helpers' settings (VXIDENT_BIN, VXIDENT_COLLECTOR, VXIDENT_WINE;
by default the tree's build/win64 and build/native) and the Wine prefix from WINEPREFIX (by default
build/win64/wineprefix, the one ctest uses).

Two configurations: the default crash flags (S A E, MiniDumpFilterMemory) in a small host, and a
full-memory minidump (no S, no N) of a host holding 64 MiB of heap. Each run is one crash of
crash_bench_host.exe under wine64 in a fresh folder, with the collector listening; the figures
are medians over the runs. "fault to end" is measured from the host's clock just before the fault
to the driver seeing the process gone, so it includes Wine's own teardown.
"""
import argparse
import os
import shutil
import statistics
import tempfile
import time

from vxtest.collector import Collector
from vxtest.hosts import benchmark_prefix, run_host, write_conf

CONFIGS = [("default flags (S A E), small host", 0, "10101"),
           ("full memory, 64 MiB heap", 64, "10100")]


def one_run(args, heap_mib, flags):
    work = tempfile.mkdtemp(prefix="vx-crash-bench-")
    collector = Collector(os.path.join(work, "collected"))
    try:
        write_conf(work, ServerHost="127.0.0.1:%d" % collector.port)
        child = run_host("crash_bench_host.exe", [heap_mib, flags], work, timeout=args.timeout,
                         env={"WINEPREFIX": args.prefix, "WINEDEBUG": "-all"})
        ended_us = time.time() * 1e6
        values = {k: int(v) for k, v in child.results if v.strip().isdigit()}
        reports = collector.events(1, timeout=10, event="crash_report")
        values["exit_code"] = child.returncode
        values["fault_to_end_us"] = ended_us - values["fault_us"]
        values["fault_to_hook_us"] = values["hook_us"] - values["fault_us"]
        values["collector_chunks"] = reports[0].get("chunks", 0)
        return values
    finally:
        collector.close()
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--timeout", type=int, default=600)
    args = parser.parse_args()
    args.prefix = benchmark_prefix()

    for title, heap_mib, flags in CONFIGS:
        runs = [one_run(args, heap_mib, flags) for _ in range(args.runs)]
        med = lambda key: statistics.median(r[key] for r in runs)  # noqa: E731
        print("%s (%d runs, medians)" % (title, len(runs)))
        print("  exit codes          %s" % sorted(set(r["exit_code"] for r in runs)))
        print("  fault to end        %8.0f ms" % (med("fault_to_end_us") / 1000))
        print("  fault to exit hook  %8.0f ms" % (med("fault_to_hook_us") / 1000))
        print("    minidump          %8.0f ms" % (med("minidump_us") / 1000))
        print("    compression       %8.0f ms" % (med("compress_us") / 1000))
        print("    send              %8.1f ms" % (med("send_us") / 1000))
        dump, package = med("minidump_bytes"), med("package_bytes")
        print("  minidump            %10.0f bytes" % dump)
        print("  package             %10.0f bytes in %d chunks, ratio %.3f (%.1f:1)" %
              (package, med("chunks"), package / dump, dump / package))
        print("  compression speed   %8.1f MB/s" % (dump / med("compress_us")))
        print("  sent                %10.0f bytes (collector saw %d chunks)" % (med("sent_bytes"), med("collector_chunks")))


if __name__ == "__main__":
    main()
