"""The user-description dialog under Wine on a virtual X display.

For each scenario of dialog_scenarios.h, dialog_host.exe shows the dialog through
ShowUserInfoDialogFor and dialog_presser.exe plays the user: it checks the controls, tries Esc and
the close commands, types and presses the button; the host then checks what it received. A PNG of
each dialog, as it stood before the button was pressed, is left in the artifacts folder and must
show a painted dialog.

A host also crashes through VXIdent.dll (dll_crash_host.exe) with Format_CrashDump "SH123" and a
prompt of two lines; the presser fills the dialog and dismisses the final message box, and the
minidump and the collector's crash report must hold the three texts and a JPEG of the screen.

The programs run in a Wine prefix of their own under VXIDENT_WORK, because a Wine desktop keeps the
display it was started with, and under a Chinese locale, so that the ANSI code page is 936 as on the
players' machines (Wine passes an ANSI dialog's texts through that code page).
"""
import json
import os
import re
import shutil
import subprocess
import tempfile
import threading
import unittest

import vxtest
from vxtest import crash_files, settings, xdisplay
from vxtest.collector import Collector
from vxtest.crash_files import Minidump, jpeg_size
from vxtest.hosts import write_conf
from vxtest.xdisplay import WINE, WINESERVER

SCENARIOS = ["all", "long", "only3", "blank", "nofields", "chinese", "unanswered"]
CHILD_TIMEOUT = 60  # seconds for any one program
SCREEN = (1024, 768)
CRASH_HOST = "dll_crash_host.exe"
NO_IMAGEMAGICK = "ImageMagick's import and identify are missing (tools/setup.sh installs them): " \
                 "the picture of the dialog was not checked"

# Made by setUpModule for every case: the prefix's environment with the display and the locale.
env = None
base_env = None
xvfb = None


def run(command, timeout, **kwargs):
    return subprocess.run(command, timeout=timeout, capture_output=True, text=True, **kwargs)


def make_locale(work):
    """glibc needs the locale for Wine to take code page 936 from it; build it here if absent."""
    root = os.path.join(work, "locale")
    if not os.path.isdir(os.path.join(root, "zh_CN.UTF-8")):
        os.makedirs(root, exist_ok=True)
        result = run(["localedef", "-i", "zh_CN", "-f", "UTF-8", os.path.join(root, "zh_CN.UTF-8")], 120)
        if not os.path.isdir(os.path.join(root, "zh_CN.UTF-8")):
            raise RuntimeError("cannot build the zh_CN.UTF-8 locale: " + result.stderr)
    return root


def make_prefix(prefix_env):
    xdisplay.make_prefix(prefix_env)
    # Without a window manager nobody draws a decorated window's caption; let Wine draw it.
    run([WINE, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Decorated", "/d", "N", "/f"], 120,
        env=prefix_env)


def setUpModule():
    global env, base_env, xvfb
    work = settings.work_dir("dialog")
    base_env = dict(os.environ, WINEPREFIX=os.path.join(work, "wineprefix"), WINEDEBUG="-all")
    base_env.pop("DISPLAY", None)
    make_prefix(base_env)
    locale_root = make_locale(work)
    xvfb, display = xdisplay.start_xvfb("%dx%dx24" % SCREEN, 900)
    env = dict(base_env, DISPLAY=display, LOCPATH=locale_root, LC_ALL="zh_CN.UTF-8")


def tearDownModule():
    run([WINESERVER, "-k"], 60, env=base_env)
    xdisplay.stop_xvfb(xvfb)


def have_imagemagick():
    return shutil.which("import") is not None and shutil.which("identify") is not None


class DialogCase(unittest.TestCase):
    def run_pair(self, name, host_command, presser_args, cwd=None):
        """Runs a host and the presser side by side; the presser must find no fault, and the picture
        taken while the dialog stood must show it painted."""
        # The host's output goes to a file: a crash echoes its whole package in hex, more than a pipe
        # holds while nobody reads it, and a blocked crash path is ended by its watchdog.
        host_log = tempfile.TemporaryFile(mode="w+")
        host = subprocess.Popen([WINE] + host_command, stdout=host_log, stderr=subprocess.STDOUT, text=True,
                                env=env, cwd=cwd)
        presser = subprocess.Popen([WINE, settings.program("dialog_presser.exe")] + presser_args,
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                   text=True, env=env)
        self.host = host
        # The presser's own waits are bounded; this ends both should Wine itself hang.
        watchdog = threading.Timer(3 * CHILD_TIMEOUT, lambda: [c.kill() for c in (presser, host)])
        watchdog.start()
        try:
            presser_lines = []
            shot, picture = False, None
            for line in presser.stdout:
                presser_lines.append(line.rstrip())
                if line.startswith("SHOT "):
                    shot = True
                    picture = self.take_picture(name, *map(int, line.split()[1:5]))
                    presser.stdin.write("go\n")
                    presser.stdin.flush()
            presser.wait(timeout=CHILD_TIMEOUT)
            host.wait(timeout=CHILD_TIMEOUT)
            host_log.seek(0)
            host_out = host_log.read()
        finally:
            watchdog.cancel()
            for child in (presser, host):
                if child.poll() is None:
                    child.kill()
                    child.wait()
                for stream in (child.stdin, child.stdout):
                    if stream is not None:
                        stream.close()
            host_log.close()
        print("\n".join(["[%s] presser: %s" % (name, line) for line in presser_lines]))
        # Not the transport's hex echo of a package.
        lines = [line for line in host_out.splitlines() if not re.fullmatch(r"[0-9a-f ]+", line)]
        print("\n".join(["[%s] host: %s" % (name, line[:120]) for line in lines]))
        print("[%s] host exit code %s" % (name, host.returncode))
        self.assertEqual(presser.returncode, 0, "the presser found a fault")
        self.assertTrue(shot, "the presser never got to the picture")
        return host_out, picture

    def take_picture(self, name, left, top, width, height):
        """The dialog's rectangle of the screen as a PNG in the artifacts; None without ImageMagick."""
        if not have_imagemagick():
            return None
        path = os.path.join(settings.artifacts_dir("dialog"), "dialog-%s.png" % name)
        if os.path.exists(path):
            os.remove(path)
        run(["import", "-display", env["DISPLAY"], "-window", "root", "-crop",
             "%dx%d+%d+%d" % (width, height, left, top), "+repage", path], CHILD_TIMEOUT)
        print("[%s] picture: %s" % (name, path))
        return path

    def check_picture(self, path):
        """Last of a case's checks: without ImageMagick the case is skipped, saying why."""
        if path is None:
            self.skipTest(NO_IMAGEMAGICK)
        self.assertTrue(os.path.isfile(path), "no picture was written")
        colours = run(["identify", "-format", "%k", path], CHILD_TIMEOUT).stdout.strip()
        # A painted dialog has text and frames in many shades; an empty or black grab has one.
        self.assertGreater(int(colours or 0), 8, "the picture shows no painted dialog")


class UserInfoDialog(DialogCase):
    def run_scenario(self, name):
        host_out, picture = self.run_pair(name, [settings.program("dialog_host.exe"), name], [name, "--shot"])
        self.assertEqual(self.host.returncode, 0, "the host did not receive what was typed")
        self.assertIn("shown=1", host_out)
        self.check_picture(picture)


for scenario in SCENARIOS:
    setattr(UserInfoDialog, "test_" + scenario, lambda self, name=scenario: self.run_scenario(name))


class CrashThroughDialog(DialogCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vxident-dialog-")
        self.collector = Collector(os.path.join(self.dir, "collected"))
        write_conf(self.dir, ServerHost="127.0.0.1:%d" % self.collector.port)

    def tearDown(self):
        self.collector.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def crash_through(self, scenario):
        """A crash through the scenario's dialog: the user streams it wrote, the collector's report
        of what arrived, the texts wanted, and the picture taken while the dialog stood."""
        presser = [WINE, settings.program("dialog_presser.exe")]
        written = run(presser + [scenario, "--write-settings", "HVModule.dat"], CHILD_TIMEOUT, env=env, cwd=self.dir)
        self.assertEqual(written.returncode, 0, written.stdout + written.stderr)
        wants = dict(line.split("=", 1) for line in written.stdout.split() if line.startswith("want"))

        _, picture = self.run_pair(scenario, [settings.program(CRASH_HOST)],
                                   [scenario, "--shot", "--dismiss", "Velmor"], cwd=self.dir)
        self.assertEqual(self.host.returncode, 1, "a crash ends the process with exit code 1")
        with open(os.path.join(self.dir, "TempDump.dmp"), "rb") as f:
            streams = Minidump(f.read()).user_streams()
        report = self.collector.events(1, timeout=30, event="crash_report")[0]
        print("[%s] report: %s" % (scenario, json.dumps(report)[:400]))
        self.assertGreater(report["package_bytes"], 0)
        return streams, report, wants, picture

    def assert_texts_arrived(self, report, wants, streams):
        """The report of the package holds the typed texts, unless the send's cut took them: a
        package is sent cut at 64512 bytes, and the user streams come last in the minidump; when
        the cut took them, the report says so and has no texts to compare."""
        if report["truncated"]:
            print("the package was cut at %d bytes; the minidump's user streams lie beyond the cut"
                  % report["package_bytes"])
            return
        self.assertTrue(report["minidump_valid"], report)
        for i, kind in enumerate(crash_files.USER_TEXT_STREAMS, 1):
            if kind in streams:
                got = report.get("user_info%d" % i, "").encode("latin-1").hex().upper()
                self.assertEqual(got, wants["want%d" % i], "user_info%d" % i)

    def test_crash_report_holds_the_typed_texts_and_the_screen(self):
        streams, report, wants, picture = self.crash_through("crash")
        for i, kind in enumerate(crash_files.USER_TEXT_STREAMS, 1):
            self.assertEqual(streams.get(kind, b"").hex().upper(), wants["want%d" % i], "user stream 0x%x" % kind)
        self.assertIn(crash_files.SCREENSHOT_STREAM, streams, "no screenshot stream")
        shot = streams[crash_files.SCREENSHOT_STREAM]
        self.assertEqual(jpeg_size(shot), SCREEN)
        with open(os.path.join(settings.artifacts_dir("dialog"), "crash-screenshot.jpg"), "wb") as f:
            f.write(shot)  # the screen at the fault, before the dialog came up
        self.assert_texts_arrived(report, wants, streams)
        if not report["truncated"]:
            shot_report = report.get("screenshot", {})
            self.assertEqual((shot_report.get("jpeg_width"), shot_report.get("jpeg_height")), SCREEN, shot_report)
        self.check_picture(picture)

    def test_crash_whose_dialog_nobody_answers_goes_on_with_what_was_typed(self):
        streams, report, wants, picture = self.crash_through("crash_unanswered")
        # Fields 1 and 3 were asked for and typed into; the button was never pressed.
        self.assertEqual({k: v.hex().upper() for k, v in streams.items()},
                         {crash_files.USER_TEXT_STREAMS[0]: wants["want1"],
                          crash_files.USER_TEXT_STREAMS[2]: wants["want3"]})
        self.assert_texts_arrived(report, wants, streams)
        self.check_picture(picture)


if __name__ == "__main__":
    vxtest.main()
