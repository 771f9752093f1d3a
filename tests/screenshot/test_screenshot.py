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

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import xdisplay  # noqa: E402
from xdisplay import WINE, WINESERVER  # noqa: E402

SCREEN = "1366x768x24"
CHILD_TIMEOUT = 120  # seconds for any one program


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

    xvfb, display = xdisplay.start_xvfb(SCREEN, 600)
    env = dict(os.environ, WINEPREFIX=os.path.join(args.work, "prefix"), WINEDEBUG="-all", DISPLAY=display)
    try:
        xdisplay.make_prefix(env)
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
