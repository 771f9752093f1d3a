#!/usr/bin/env python3
"""Crash summary benchmark: time from the fault to the crash summary on the wire, beside the time
to the key-17 blob (the package, the only crash datagram without CrashSummary) in the same runs.

    python3 tests/vxtest benchmarks/crash/run_summary_bench.py [--runs 10] [--timeout 120]

Each run is one crash of crash_bench_host.exe under wine64 (default crash flags, small host) in a
fresh folder with CrashSummary=1, sending to a UDP socket of this script that stamps each datagram
as it arrives. The fault time is the host's clock just before its fault; Wine's clock is this
machine's, so the two differences are comparable. Goal: the summary within 50 ms of the fault.
"""
import argparse
import shutil
import socket
import statistics
import struct
import tempfile
import threading
import time

from vxtest.hosts import benchmark_prefix, run_host, write_conf

KIND_BLOB, KIND_CRASH_SUMMARY = 4, 8
GOAL_MS = 50


class StampingReceiver:
    """Arrival time (microseconds since 1970) of each datagram's kind, first arrival only."""

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.settimeout(0.2)
        self.port = self.sock.getsockname()[1]
        self.first = {}
        self.stop = False
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        while not self.stop:
            try:
                data = self.sock.recv(70000)
            except socket.timeout:
                continue
            now = time.time() * 1e6
            if len(data) >= 8:
                self.first.setdefault(struct.unpack_from(">I", data, 4)[0], now)

    def close(self):
        self.stop = True
        self.thread.join()
        self.sock.close()


def one_run(args):
    work = tempfile.mkdtemp(prefix="vx-summary-bench-")
    receiver = StampingReceiver()
    try:
        write_conf(work, ServerHost="127.0.0.1:%d" % receiver.port, CrashSummary=1)
        child = run_host("crash_bench_host.exe", [0, "10101"], work, timeout=args.timeout,
                         env={"WINEPREFIX": args.prefix, "WINEDEBUG": "-all"})
        time.sleep(0.3)
        values = dict(child.results)
        fault_us = int(values["fault_us"])
        summary_us = receiver.first.get(KIND_CRASH_SUMMARY)
        blob_us = receiver.first.get(KIND_BLOB)
        return {"exit_code": child.returncode, "summary_bytes": int(values.get("summary_bytes", 0)),
                "to_summary": None if summary_us is None else summary_us - fault_us,
                "to_blob": None if blob_us is None else blob_us - fault_us}
    finally:
        receiver.close()
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--timeout", type=int, default=120)
    args = parser.parse_args()
    args.prefix = benchmark_prefix()
    runs = [one_run(args) for _ in range(args.runs)]
    arrived = [r for r in runs if r["to_summary"] is not None]
    print("crash summary, %d runs: exit codes %s, summary arrived in %d, %d bytes" %
          (len(runs), sorted(set(r["exit_code"] for r in runs)), len(arrived),
           statistics.median(r["summary_bytes"] for r in runs)))
    for key, title in (("to_summary", "fault to summary"), ("to_blob", "fault to key-17 blob (reference)")):
        figures = sorted(r[key] / 1000 for r in runs if r[key] is not None)
        if not figures:
            print("  %-34s none arrived" % title)
            continue
        print("  %-34s median %7.1f ms   min %7.1f   max %7.1f" %
              (title, statistics.median(figures), figures[0], figures[-1]))
    print("  goal: fault to summary <= %d ms" % GOAL_MS)


if __name__ == "__main__":
    main()
