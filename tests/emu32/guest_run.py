"""Runs the drivers inside the emulated machine, one after another in this one boot.

Usage: python3 TESTS_DIR/vxtest TESTS_DIR/emu32/guest_run.py
The drivers are those the win32 build lists for this machine (VXIDENT_BIN/test_programs.json);
each runs as its own unittest program with a time limit, as ctest runs them on the host. A Windows
program is kept idle in the background first, so that each program start finds Wine's services
already running. Prints one line per driver and a closing "N passed, N skipped, N failed" line;
exits 0 only when no driver failed.
"""
import os
import subprocess
import sys
import time

from vxtest import EXIT_SKIPPED, settings, test_list

DRIVER_LIMIT = 1200  # seconds per driver file; a hung driver fails, the others still run
TESTS_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def start_idle_host():
    """Starts the idle host and waits until it runs: from then on Wine's services are up."""
    idle = subprocess.Popen(settings.WINE + [settings.program("emu32_idle_host.exe")],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, cwd="/tmp")
    started = time.monotonic()
    # A blocking read is safe: the job as a whole runs under the machine's time limit.
    line = idle.stdout.readline().decode("latin-1").strip()
    if line != "idle host running":
        raise RuntimeError("idle host did not start: %r" % line)
    print("emu32: Wine's services up in %.1f s" % (time.monotonic() - started), flush=True)
    return idle


def run_driver(driver):
    """"passed", "skipped" or "failed", by the driver's exit code within its limit."""
    started = time.monotonic()
    entry = os.path.join(TESTS_DIR, "vxtest")
    try:
        completed = subprocess.run([sys.executable, entry, driver["file"], "-v"], cwd="/tmp", timeout=DRIVER_LIMIT)
        verdict = {0: "passed", EXIT_SKIPPED: "skipped"}.get(completed.returncode, "failed")
        detail = "" if verdict != "failed" else " (exit %d)" % completed.returncode
    except subprocess.TimeoutExpired:
        verdict, detail = "failed", " (no end within %d s)" % DRIVER_LIMIT
    print("emu32: %s %s%s in %.1f s" % (driver["file"], verdict.upper() if verdict != "passed" else verdict, detail,
                                        time.monotonic() - started), flush=True)
    return verdict


def main():
    drivers = [d for d in test_list.drivers() if d["emu32"]]
    for left_out in (d for d in test_list.drivers() if not d["emu32"]):
        print("emu32: %s not run here (host only)" % left_out["file"], flush=True)
    idle = start_idle_host()
    try:
        verdicts = [run_driver(driver) for driver in drivers]
    finally:
        idle.kill()
    counts = {v: verdicts.count(v) for v in ("passed", "skipped", "failed")}
    print("emu32: %(passed)d passed, %(skipped)d skipped, %(failed)d failed" % counts, flush=True)
    return 0 if verdicts and counts["failed"] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
