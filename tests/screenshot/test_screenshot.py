"""The screenshot under Wine on a virtual X display of 1366x768 (3 x 1366 bytes a row is not a
multiple of 4, so the bitmap's rows carry pad bytes).

screenshot_probe.exe paints cells of solid colour over the whole screen, captures it in several
rectangles and checks what needs no decoding; screenshot_check (native, VXIDENT_SCREENSHOT_CHECK)
decodes each JPEG and finds every cell's colour where it was drawn, then leaves a PNG of each
capture in the artifacts folder.

The probe runs in a Wine prefix of its own under VXIDENT_WORK: a Wine desktop keeps the X display
it was started with, and the suite's shared prefix has none.
"""
import os
import shutil
import subprocess
import unittest

import vxtest
from vxtest import settings, xdisplay
from vxtest.xdisplay import WINE, WINESERVER

SCREEN = "1366x768x24"
CHILD_TIMEOUT = 120  # seconds for any one program


def wine_path(path):
    """Wine maps the Unix root to drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Screenshot(unittest.TestCase):
    def test_captures_show_the_pattern(self):
        probe_exe = settings.program("screenshot_probe.exe")
        for program in (probe_exe, settings.SCREENSHOT_CHECK):
            self.assertTrue(os.path.isfile(program), "missing " + program)
        work = settings.work_dir("screenshot")
        artifacts = settings.artifacts_dir("screenshot")
        captures = os.path.join(work, "captures")
        shutil.rmtree(captures, ignore_errors=True)
        os.makedirs(captures)

        xvfb, display = xdisplay.start_xvfb(SCREEN, 600)
        env = dict(os.environ, WINEPREFIX=os.path.join(work, "prefix"), WINEDEBUG="-all", DISPLAY=display)
        try:
            xdisplay.make_prefix(env)
            probe = subprocess.run([WINE, probe_exe, wine_path(captures)], env=env, timeout=CHILD_TIMEOUT,
                                   capture_output=True, text=True)
            print(probe.stdout + probe.stderr)
        finally:
            # The prefix's server would otherwise outlive this display.
            subprocess.run([WINESERVER, "-k"], env=env, timeout=CHILD_TIMEOUT, capture_output=True)
            xdisplay.stop_xvfb(xvfb)
        self.assertEqual(probe.returncode, 0, "the probe failed")

        check = subprocess.run([settings.SCREENSHOT_CHECK, captures, artifacts], timeout=CHILD_TIMEOUT,
                               capture_output=True, text=True)
        print(check.stdout + check.stderr)
        print("pictures in " + artifacts)
        self.assertEqual(check.returncode, 0, "the captures do not show the pattern")


if __name__ == "__main__":
    vxtest.main()
