"""Runs the end-to-end drivers inside the emulated machine, one after another in this one boot.

Usage: guest_run.py TESTS_DIR
Every tests/*/test_*.py built on the end-to-end harness (tests/e2e/vxharness.py) runs as its own
unittest program with a time limit, as ctest runs them on the host. A Windows program is kept idle
in the background first, so that each program start finds Wine's services already running. Prints one line per driver and a
closing "N passed, N failed" line; exits 0 only when every driver passed.
"""
import glob
import os
import shlex
import subprocess
import sys
import time

DRIVER_LIMIT = 900  # seconds per driver file; a hung driver fails, the others still run

# Drivers that do not fit this machine: it has no display for those that start Xvfb.
LEFT_OUT = {
    "crashcapture/test_crash_box.py": "needs a display",
}


def start_idle_host():
    """Starts the idle host and waits until it runs: from then on Wine's services are up."""
    wine = shlex.split(os.environ["VXIDENT_WINE"])
    idle = subprocess.Popen(wine + [os.path.join(os.environ["VXIDENT_BIN"], "emu32_idle_host.exe")],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, cwd="/tmp")
    started = time.monotonic()
    # A blocking read is safe: the job as a whole runs under the machine's time limit.
    line = idle.stdout.readline().decode("latin-1").strip()
    if line != "idle host running":
        raise RuntimeError("idle host did not start: %r" % line)
    print("emu32: Wine's services up in %.1f s" % (time.monotonic() - started), flush=True)
    return idle


def drivers(tests_dir):
    """Every driver that runs Windows programs: those built on the end-to-end harness."""
    found = []
    for path in sorted(glob.glob(os.path.join(tests_dir, "*", "test_*.py"))):
        name = os.path.relpath(path, tests_dir)
        if name in LEFT_OUT:
            print("emu32: %s left out: %s" % (name, LEFT_OUT[name]), flush=True)
            continue
        with open(path, encoding="utf-8") as f:
            if "import vxharness" in f.read():
                found.append(path)
    return found


def run_driver(path):
    """True when the driver's unittest program passed within its limit; its output goes to ours."""
    started = time.monotonic()
    try:
        completed = subprocess.run([sys.executable, path, "-v"], cwd="/tmp", timeout=DRIVER_LIMIT)
        passed = completed.returncode == 0
        verdict = "passed" if passed else "FAILED (exit %d)" % completed.returncode
    except subprocess.TimeoutExpired:
        passed, verdict = False, "FAILED (no end within %d s)" % DRIVER_LIMIT
    name = os.path.relpath(path, os.path.dirname(os.path.dirname(path)))
    print("emu32: %s %s in %.1f s" % (name, verdict, time.monotonic() - started), flush=True)
    return passed


def main():
    tests_dir = sys.argv[1]
    idle = start_idle_host()
    try:
        results = [run_driver(path) for path in drivers(tests_dir)]
    finally:
        idle.kill()
    passed = sum(results)
    print("emu32: %d passed, %d failed" % (passed, len(results) - passed), flush=True)
    return 0 if results and all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
