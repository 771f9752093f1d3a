#!/usr/bin/env python3
"""The crash matrix: every crash scenario a game meets, run N times each, and what came of it.

    python3 tests/vxtest benchmarks/crash/crash_matrix.py [--runs 20] [--only NAME,...]
        [--timeout 120] [--whole] [--summary]

Each run is one crash of a host under Wine in a fresh folder with the collector listening. A run
counts as:
  exit 1    the process ended with the crash path's exit code (anything else is a wrong code)
  whole     the collector wrote a package that inflates, byte for byte, to the TempDump.dmp the
            crash left in its folder
  cut       the collector reported a crash, but its package is not all of the minidump (the
            one-datagram package is cut at 64512 bytes)
  summary   the collector printed the crash summary (only with --summary)
  nothing   the collector reported no crash at all
  hung      the process was still running at --timeout and was killed
The last column is the median time from the fault (the host's clock, printed just before it
faults) to the process's end as this driver sees it, Wine's teardown included.

--whole and --summary turn on the library's CrashPackageWhole and CrashSummary settings. The
programs and the Wine come from the drivers' settings (tests/vxtest/settings.py): build/win64 and
wine64 by default; in the emulated machine its job points them at the win32 build and 32-bit Wine,
where the scenarios marked 32-bit only also run.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from vxtest import settings
from vxtest.collector import Collector
from vxtest.crash_files import inflate_package
from vxtest.hosts import run_host, write_conf

CRASH = ["init", "ids", "hook"]


def unwritable(folder):
    """A read-only mount inside the folder, with the settings in it: file permissions do not stop
    root, and the drivers run as root here. Returns where the host runs, or None without one."""
    ro = os.path.join(folder, "ro")
    os.mkdir(ro)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", ro], stderr=subprocess.DEVNULL).returncode:
        return None
    shutil.copy(os.path.join(folder, "HVInfo.conf"), ro)
    subprocess.run(["mount", "-o", "remount,ro", ro], check=True)
    return ro


def unmount_if_mounted(folder):
    ro = os.path.join(folder, "ro")
    if os.path.ismount(ro):
        subprocess.run(["umount", ro])


# name, host program, arguments, extra preparation of the folder, architectures it runs on.
SCENARIOS = [
    ("access violation, only thread", "crash_host.exe", CRASH + ["av"], None, "both"),
    ("64 threads reporting", "crash_host.exe", CRASH + ["threads", "64", "av"], None, "both"),
    ("Exception level 0xFFFF0002", "crash_host.exe", CRASH + ["exception"], None, "both"),
    ("stack overflow, default stack", "crash_host.exe", CRASH + ["overflow"], None, "both"),
    ("stack overflow, 64 KiB stack", "crash_host.exe", CRASH + ["smallstackoverflow"], None, "both"),
    ("two threads fault at once", "crash_host.exe", CRASH + ["twofaults"], None, "both"),
    ("fault while the worker runs", "crash_host.exe", CRASH + ["format", "10001", "secondfault", "av"], None, "both"),
    ("frozen thread holds the heap lock", "crash_host.exe", CRASH + ["heaplock", "av"], None, "both"),
    ("frozen thread holds the stdout lock", "crash_host.exe", CRASH + ["stdioheld", "av"], None, "both"),
    ("frozen thread holds the loader lock", "crash_host.exe", CRASH + ["dllmain", "av"], None, "both"),
    ("frozen thread holds ClientLock", "crash_host.exe", CRASH + ["clientlock", "av"], None, "both"),
    ("unwritable folder", "crash_host.exe", CRASH + ["av"], unwritable, "both"),
    ("identities incomplete", "crash_host.exe", ["init", "hook", "av"], None, "both"),
    ("after unloading", "unload_host.exe", ["init", "fin", "free", "av"], None, "both"),
    ("fault handled inside a guarded region", "hook_crash_host.exe", [], None, "both"),
    ("abort()", "runtime_crash_host.exe", ["init", "abort"], None, "both"),
    ("pure virtual call", "runtime_crash_host.exe", ["init", "purevirtual"], None, "both"),
    ("invalid parameter", "runtime_crash_host.exe", ["ucrt", "init", "ucrtinvalid"], None, "both"),
    ("address space exhausted", "crash_host.exe", CRASH + ["noaddressspace", "av"], None, "x86"),
]


class Outcome:
    def __init__(self):
        self.runs = self.exit1 = self.whole = self.cut = self.summary = self.nothing = self.hung = 0
        self.fault_to_end_ms = []
        self.unprepared = False  # the scenario's folder could not be made (no read-only mount)


def collector_packages(events, out_dir):
    """The packages the collector wrote for its crash reports, as (whole flag, bytes)."""
    for event in events:
        if event.get("event") != "crash_report" or "dir" not in event:
            continue
        # The folder as the collector names it: under its --out folder, or a full path.
        path = os.path.join(out_dir, event["dir"], "package.vgz")
        if os.path.isfile(path):
            with open(path, "rb") as f:
                yield f.read()


def arrived_whole(packages, dump):
    for package in packages:
        try:
            if dump is not None and inflate_package(package)[0] == dump:
                return True
        except ValueError:
            pass
    return False


def one_run(scenario, args, outcome):
    _name, host, host_args, prepare, _arch = scenario
    work = tempfile.mkdtemp(prefix="vx-crash-matrix-")
    out_dir = tempfile.mkdtemp(prefix="vx-crash-matrix-out-")
    collector = Collector(out_dir)
    outcome.runs += 1
    try:
        conf = {"ServerHost": "127.0.0.1:%d" % collector.port}
        if args.whole:
            conf["CrashPackageWhole"] = 1
        if args.summary:
            conf["CrashSummary"] = 1
        write_conf(work, **conf)
        run_in = work
        if prepare:
            run_in = prepare(work)
            if run_in is None:
                outcome.runs -= 1
                outcome.unprepared = True
                return
        try:
            result = run_host(host, host_args, run_in, timeout=args.timeout)
        except subprocess.TimeoutExpired:
            outcome.hung += 1
            return
        ended_ms = time.time() * 1000
        outcome.exit1 += result.returncode == 1
        faults = result.values("fault_ms")
        if faults:
            outcome.fault_to_end_ms.append(ended_ms - faults[-1])
        # Whatever is still on its way: the whole package may go on after the process.
        events = collector.quiet(args.settle)
        dump_path = os.path.join(run_in, "TempDump.dmp")
        dump = open(dump_path, "rb").read() if os.path.isfile(dump_path) else None
        reports = [e for e in events if e.get("event") == "crash_report"]
        outcome.summary += any(e.get("event") == "crash_summary" for e in events)
        if arrived_whole(collector_packages(events, out_dir), dump):
            outcome.whole += 1
        elif reports:
            outcome.cut += 1
        else:
            outcome.nothing += 1
    finally:
        collector.close()
        unmount_if_mounted(work)
        shutil.rmtree(work, ignore_errors=True)
        shutil.rmtree(out_dir, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("--only", default="", help="comma-separated scenario names (or parts of them)")
    parser.add_argument("--timeout", type=float, default=120)
    parser.add_argument("--settle", type=float, default=3.0, help="seconds to wait for late datagrams")
    parser.add_argument("--whole", action="store_true")
    parser.add_argument("--summary", action="store_true")
    parser.add_argument("--arch", default="x64", choices=("x64", "x86"))
    args = parser.parse_args()
    wanted = [w.strip() for w in args.only.split(",") if w.strip()]

    rows = []
    for scenario in SCENARIOS:
        name, host, _args, _prepare, arch = scenario
        if wanted and not any(w in name for w in wanted):
            continue
        if arch not in ("both", args.arch):
            continue
        if not os.path.isfile(settings.program(host)):
            print("%s: %s is not built, skipped" % (name, host), file=sys.stderr)
            continue
        outcome = Outcome()
        for _ in range(args.runs):
            one_run(scenario, args, outcome)
        if outcome.unprepared:
            print("%s: needs a read-only mount (root), skipped" % name, file=sys.stderr)
            continue
        rows.append((name, outcome))
        print("%-40s done" % name, file=sys.stderr, flush=True)

    header = "%-40s %5s %6s %6s %5s %8s %8s %5s %14s" % (
        "scenario", "runs", "exit 1", "whole", "cut", "summary", "nothing", "hung", "fault->end ms")
    print(header)
    print("-" * len(header))
    for name, o in rows:
        median = "%.0f" % statistics.median(o.fault_to_end_ms) if o.fault_to_end_ms else "-"
        summary = str(o.summary) if args.summary else "-"
        print("%-40s %5d %6d %6d %5d %8s %8d %5d %14s" % (
            name, o.runs, o.exit1, o.whole, o.cut, summary, o.nothing, o.hung, median))


if __name__ == "__main__":
    main()
