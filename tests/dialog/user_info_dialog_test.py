#!/usr/bin/env python3
"""The user-description dialog under Wine on a virtual X display.

For each scenario of dialog_scenarios.h, dialog_host.exe shows the dialog through
ShowUserInfoDialogFor and dialog_presser.exe plays the user: it checks the controls, tries Esc and
the close commands, types and presses the button; the host then checks what it received. A PNG of
each dialog, as it stood before the button was pressed, is left in the artifacts folder.

With --collector, a host also crashes through VXIdent.dll with Format_CrashDump "SH123" and a
prompt of two lines; the presser fills the dialog and dismisses the final message box, and the
collector's crash report must hold the three texts (and a JPEG of the screen's size when the
screenshot is built: --expect-screenshot). A second crash shows a dialog that the presser types
into but never presses: after its time limit (Format_UserInfo_Timeout) the report goes on with
what was typed.

The programs run in a Wine prefix of their own, because a Wine desktop keeps the display it was
started with, and under a Chinese locale, so that the ANSI code page is 936 as on the players'
machines (Wine passes an ANSI dialog's texts through that code page).
"""
import argparse
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import xdisplay  # noqa: E402
from xdisplay import WINE, WINESERVER  # noqa: E402

SCENARIOS = ["all", "long", "only3", "blank", "nofields", "chinese", "unanswered"]
CHILD_TIMEOUT = 60  # seconds for any one program
SCREEN = (1024, 768)

args = None
env = None


def run(command, timeout, **kwargs):
    return subprocess.run(command, timeout=timeout, capture_output=True, text=True, **kwargs)


def make_locale(work):
    """glibc needs the locale for Wine to take code page 936 from it; build it here if absent."""
    root = os.path.join(work, "locale")
    if not os.path.isdir(os.path.join(root, "zh_CN.UTF-8")):
        os.makedirs(root, exist_ok=True)
        result = run(["localedef", "-i", "zh_CN", "-f", "UTF-8", os.path.join(root, "zh_CN.UTF-8")], 120)
        if not os.path.isdir(os.path.join(root, "zh_CN.UTF-8")):
            sys.exit("cannot build the zh_CN.UTF-8 locale: " + result.stderr)
    return root


def make_prefix(base_env):
    xdisplay.make_prefix(base_env)
    # Without a window manager nobody draws a decorated window's caption; let Wine draw it.
    run([WINE, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Decorated", "/d", "N", "/f"], 120,
        env=base_env)


class DialogCase(unittest.TestCase):
    def run_pair(self, name, host_command, presser_args, cwd=None):
        """Runs a host and the presser side by side; the presser must find no fault."""
        # The host's output goes to a file: a crash echoes its whole package in hex, more than a pipe
        # holds while nobody reads it, and a blocked crash path is ended by its watchdog.
        host_log = tempfile.TemporaryFile(mode="w+")
        host = subprocess.Popen([WINE] + host_command, stdout=host_log, stderr=subprocess.STDOUT, text=True,
                                env=env, cwd=cwd)
        presser = subprocess.Popen([WINE, os.path.join(args.bin, "dialog_presser.exe")] + presser_args,
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                   text=True, env=env)
        self.host = host
        # The presser's own waits are bounded; this ends both should Wine itself hang.
        watchdog = threading.Timer(3 * CHILD_TIMEOUT, lambda: [c.kill() for c in (presser, host)])
        watchdog.start()
        try:
            presser_lines = []
            picture = None
            for line in presser.stdout:
                presser_lines.append(line.rstrip())
                if line.startswith("SHOT "):
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
        print("\n".join(["[%s] presser: %s" % (name, l) for l in presser_lines]))
        # Not the transport's hex echo of a package.
        lines = [l for l in host_out.splitlines() if not re.fullmatch(r"[0-9a-f ]+", l)]
        print("\n".join(["[%s] host: %s" % (name, l[:120]) for l in lines]))
        print("[%s] host exit code %s" % (name, host.returncode))
        self.assertEqual(presser.returncode, 0, "the presser found a fault")
        self.assertIsNotNone(picture, "the presser never got to the picture")
        if picture:
            self.check_picture(picture)
        return host_out, presser_lines

    def take_picture(self, name, left, top, width, height):
        if shutil.which("import") is None:
            print("[%s] no ImageMagick import: no picture" % name)
            return ""
        path = os.path.join(args.artifacts, "dialog-%s.png" % name)
        run(["import", "-display", env["DISPLAY"], "-window", "root", "-crop",
             "%dx%d+%d+%d" % (width, height, left, top), "+repage", path], CHILD_TIMEOUT)
        print("[%s] picture: %s" % (name, path))
        return path

    def check_picture(self, path):
        self.assertTrue(os.path.isfile(path), "no picture was written")
        colours = run(["identify", "-format", "%k", path], CHILD_TIMEOUT).stdout.strip()
        # A painted dialog has text and frames in many shades; an empty or black grab has one.
        self.assertGreater(int(colours or 0), 8, "the picture shows no painted dialog")


class UserInfoDialog(DialogCase):
    def run_scenario(self, name):
        host = [os.path.join(args.bin, "dialog_host.exe"), name]
        host_out, _ = self.run_pair(name, host, [name, "--shot"])
        self.assertEqual(self.host.returncode, 0, "the host did not receive what was typed")
        self.assertIn("shown=1", host_out)


class CrashThroughDialog(DialogCase):
    def setUp(self):
        if not args.collector:
            self.skipTest("no collector given")
        sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
        os.environ["VXIDENT_COLLECTOR"] = args.collector
        import vxharness
        self.dir = tempfile.mkdtemp(prefix="vxident-dialog-")
        self.collector = vxharness.Collector(os.path.join(self.dir, "collected"))
        vxharness.write_conf(self.dir, ServerHost="127.0.0.1:%d" % self.collector.port)

    def tearDown(self):
        self.collector.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def crash_through(self, scenario):
        """A crash through the scenario's dialog: what it wrote, what arrived and what was wanted."""
        presser = [WINE, os.path.join(args.bin, "dialog_presser.exe")]
        settings = run(presser + [scenario, "--write-settings", "HVModule.dat"], CHILD_TIMEOUT, env=env,
                       cwd=self.dir)
        self.assertEqual(settings.returncode, 0, settings.stdout + settings.stderr)
        wants = dict(line.split("=", 1) for line in settings.stdout.split() if line.startswith("want"))

        self.run_pair(scenario, [os.path.join(args.bin, args.crash_host)],
                      [scenario, "--shot", "--dismiss", "Velmor"], cwd=self.dir)
        self.assertEqual(self.host.returncode, 1, "a crash ends the process with exit code 1")

        # What the crash wrote: the user streams of the minidump left in the working folder.
        with open(os.path.join(self.dir, "TempDump.dmp"), "rb") as f:
            streams = user_streams(f.read())
        report = self.collector.events(1, timeout=30, event="crash_report")[0]
        print("[%s] report: %s" % (scenario, json.dumps(report)[:400]))
        self.assertGreater(report["package_bytes"], 0)
        return streams, report, wants

    def assert_texts_arrived(self, report, wants, streams):
        """The report of the package holds the typed texts, unless the send's cut took them.

        A package is sent cut at 64512 bytes, and the user streams come last in the minidump: when
        the cut took them, the report says so and has no texts to compare."""
        if report["truncated"]:
            print("the package was cut at %d bytes; the minidump's user streams lie beyond the cut"
                  % report["package_bytes"])
            return
        self.assertTrue(report["minidump_valid"], report)
        for i in (1, 2, 3):
            if 0x10002 + i in streams:
                got = report.get("user_info%d" % i, "").encode("latin-1").hex().upper()
                self.assertEqual(got, wants["want%d" % i], "user_info%d" % i)

    def test_crash_report_holds_the_typed_texts(self):
        streams, report, wants = self.crash_through("crash")
        for i in (1, 2, 3):
            self.assertEqual(streams.get(0x10002 + i, b"").hex().upper(), wants["want%d" % i],
                             "user stream 0x%x" % (0x10002 + i))
        if args.expect_screenshot:
            self.assertIn(0x10002, streams, "no screenshot stream")
        if 0x10002 in streams:
            self.assertEqual(jpeg_size(streams[0x10002]), SCREEN)
            with open(os.path.join(args.artifacts, "crash-screenshot.jpg"), "wb") as f:
                f.write(streams[0x10002])  # the screen at the fault, before the dialog came up
        self.assert_texts_arrived(report, wants, streams)
        if 0x10002 in streams and not report["truncated"]:
            shot = report.get("screenshot", {})
            self.assertEqual((shot.get("jpeg_width"), shot.get("jpeg_height")), SCREEN, shot)

    def test_crash_whose_dialog_nobody_answers_goes_on_with_what_was_typed(self):
        streams, report, wants = self.crash_through("crash_unanswered")
        # Fields 1 and 3 were asked for and typed into; the button was never pressed.
        self.assertEqual({k: v.hex().upper() for k, v in streams.items()},
                         {0x10003: wants["want1"], 0x10005: wants["want3"]})
        self.assert_texts_arrived(report, wants, streams)


def user_streams(dump):
    """{type: bytes} of the streams of type 0x10000 and above, read from the stream directory."""
    signature, _, count, directory = struct.unpack_from("<4sIII", dump, 0)
    if signature != b"MDMP":
        raise AssertionError("not a minidump")
    streams = {}
    for i in range(count):
        kind, size, offset = struct.unpack_from("<III", dump, directory + 12 * i)
        if kind >= 0x10000:
            streams[kind] = dump[offset:offset + size]
    return streams


def jpeg_size(jpeg):
    """(width, height) from the first start-of-frame marker."""
    pos = 2
    while pos + 9 <= len(jpeg) and jpeg[pos] == 0xFF:
        marker, length = jpeg[pos + 1], struct.unpack_from(">H", jpeg, pos + 2)[0]
        if 0xC0 <= marker <= 0xC3:
            height, width = struct.unpack_from(">HH", jpeg, pos + 5)
            return width, height
        pos += 2 + length
    return None


def add_scenario_tests():
    for name in SCENARIOS:
        setattr(UserInfoDialog, "test_" + name, lambda self, n=name: self.run_scenario(n))


def main():
    global args, env
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True, help="folder of dialog_host.exe and dialog_presser.exe")
    parser.add_argument("--work", required=True, help="folder for the prefix and the locale")
    parser.add_argument("--artifacts", required=True, help="folder for the pictures")
    parser.add_argument("--collector", help="the native collector: also run a crash through the dialog")
    parser.add_argument("--crash-host", default="dll_crash_host.exe", help="a host in --bin that crashes")
    parser.add_argument("--expect-screenshot", action="store_true", help="the crash report must hold one")
    args, rest = parser.parse_known_args()
    args.bin, args.work, args.artifacts = map(os.path.abspath, (args.bin, args.work, args.artifacts))
    if args.collector:
        args.collector = os.path.abspath(args.collector)
    os.makedirs(args.work, exist_ok=True)
    os.makedirs(args.artifacts, exist_ok=True)

    prefix = os.path.join(args.work, "wineprefix")
    base_env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
    base_env.pop("DISPLAY", None)
    make_prefix(base_env)
    locale_root = make_locale(args.work)
    xvfb, display = xdisplay.start_xvfb("%dx%dx24" % SCREEN, 900)
    env = dict(base_env, DISPLAY=display, LOCPATH=locale_root, LC_ALL="zh_CN.UTF-8")
    try:
        add_scenario_tests()
        program = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
        ok = program.result.wasSuccessful() and program.result.testsRun == len(SCENARIOS) + 2
    finally:
        run([WINESERVER, "-k"], 60, env=base_env)
        xvfb.terminate()
        xvfb.wait(timeout=30)
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
