#!/usr/bin/env python3
"""The screenshot under Wine on a virtual X display of 1366x768 (3 x 1366 bytes a row is not a
multiple of 4, so the bitmap's rows carry pad bytes).

screenshot_probe.exe paints cells of solid colour over the whole screen, captures it in several
rectangles and checks what needs no decoding; screenshot_check (native) decodes each JPEG and finds
every cell's colour where it was drawn, then leaves a PNG of each capture in the artifacts folder.

The probe runs in a Wine prefix of its own: a Wine desktop keeps the X display it was started with,
and the suite's shared prefix has none.
"""
import argparse
import os
import shutil
import subprocess
import sys

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
SCREEN = "1366x768x24"
CHILD_TIMEOUT = 120  # seconds for any one program
PREFIX_TIMEOUT = 300  # the first wineboot of a prefix is slow


def start_xvfb():
    """An X server on a free display; `timeout` ends it even if this driver is killed."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["timeout", "600", "Xvfb", "-displayfd", str(write_end), "-screen", "0", SCREEN,
                             "-nolisten", "tcp"], pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        display = pipe.readline().strip()
    if not display:
        xvfb.kill()
        sys.exit("Xvfb did not start")
    return xvfb, ":" + display


def wine_path(path):
    """Wine maps the Unix root to drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--probe", required=True, help="screenshot_probe.exe")
    parser.add_argument("--check", required=True, help="the native screenshot_check")
    parser.add_argument("--work", required=True, help="folder for the prefix and the captures")
    parser.add_argument("--artifacts", required=True, help="folder for the PNGs")
    args = parser.parse_args()
    args.work, args.artifacts = os.path.abspath(args.work), os.path.abspath(args.artifacts)
    for program in (args.probe, args.check):
        if not os.path.isfile(program):
            sys.exit("missing " + program)
    captures = os.path.join(args.work, "captures")
    shutil.rmtree(captures, ignore_errors=True)
    os.makedirs(captures)
    os.makedirs(args.artifacts, exist_ok=True)

    xvfb, display = start_xvfb()
    env = dict(os.environ, WINEPREFIX=os.path.join(args.work, "prefix"), WINEDEBUG="-all", DISPLAY=display)
    try:
        if not os.path.isfile(os.path.join(env["WINEPREFIX"], "system.reg")):
            subprocess.run([WINE, "wineboot", "--init"], env=env, timeout=PREFIX_TIMEOUT, capture_output=True)
        probe = subprocess.run([WINE, args.probe, wine_path(captures)], env=env, timeout=CHILD_TIMEOUT,
                               capture_output=True, text=True)
        print(probe.stdout, end="")
        print(probe.stderr, end="", file=sys.stderr)
    finally:
        # The prefix's server would otherwise outlive this display.
        subprocess.run([WINESERVER, "-k"], env=env, timeout=CHILD_TIMEOUT, capture_output=True)
        xvfb.kill()
        xvfb.wait()

    check = subprocess.run([args.check, captures, args.artifacts], timeout=CHILD_TIMEOUT, capture_output=True,
                           text=True)
    print(check.stdout, end="")
    print(check.stderr, end="", file=sys.stderr)
    print("pictures in " + args.artifacts)
    if probe.returncode != 0:
        sys.exit("the probe failed (exit code %d)" % probe.returncode)
    if check.returncode != 0:
        sys.exit("the captures do not show the pattern")


if __name__ == "__main__":
    main()
