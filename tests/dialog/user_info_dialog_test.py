#!/usr/bin/env python3
"""The user-description dialog under Wine on a virtual X display.

For each scenario of dialog_scenarios.h, dialog_host.exe shows the dialog through
ShowUserInfoDialogFor and dialog_presser.exe plays the user: it checks the controls, tries Esc and
the close commands, types and presses the button; the host then checks what it received. A PNG of
each dialog, as it stood before the button was pressed, is left in the artifacts folder.

The programs run in a Wine prefix of their own, because a Wine desktop keeps the display it was
started with, and under a Chinese locale, so that the ANSI code page is 936 as on the players'
machines (Wine passes an ANSI dialog's texts through that code page).
"""
import argparse
import os
import shutil
import subprocess
import sys
import threading
import unittest

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
SCENARIOS = ["all", "long", "only3", "blank", "nofields", "chinese"]
CHILD_TIMEOUT = 60  # seconds for any one program

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


def make_prefix(prefix, base_env):
    if not os.path.isfile(os.path.join(prefix, "system.reg")):
        run([WINE, "wineboot", "--init"], 300, env=base_env)
        run([WINESERVER, "-w"], 120, env=base_env)
    # Without a window manager nobody draws a decorated window's caption; let Wine draw it.
    run([WINE, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Decorated", "/d", "N", "/f"], 120,
        env=base_env)
    if not os.path.isfile(os.path.join(prefix, "system.reg")):
        sys.exit("wineboot made no prefix in " + prefix)


def start_xvfb():
    """An X server on a free display number, ended by timeout even if this driver is killed."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["timeout", "900", "Xvfb", "-displayfd", str(write_end), "-screen", "0",
                             "1280x1024x24", "-nolisten", "tcp"],
                            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        display = pipe.readline().strip()
    if not display:
        xvfb.kill()
        sys.exit("Xvfb did not start")
    return xvfb, ":" + display


class UserInfoDialog(unittest.TestCase):
    def run_scenario(self, name):
        host = subprocess.Popen([WINE, os.path.join(args.bin, "dialog_host.exe"), name],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, env=env)
        presser = subprocess.Popen([WINE, os.path.join(args.bin, "dialog_presser.exe"), name, "--shot"],
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                   text=True, env=env)
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
            host_out, _ = host.communicate(timeout=CHILD_TIMEOUT)
        finally:
            watchdog.cancel()
            for child in (presser, host):
                if child.poll() is None:
                    child.kill()
                    child.wait()
                for stream in (child.stdin, child.stdout):
                    if stream is not None:
                        stream.close()
        print("\n".join(["[%s] presser: %s" % (name, l) for l in presser_lines]))
        print("\n".join(["[%s] host: %s" % (name, l[:120]) for l in host_out.splitlines()]))
        self.assertEqual(presser.returncode, 0, "the presser found a fault")
        self.assertEqual(host.returncode, 0, "the host did not receive what was typed")
        self.assertIn("shown=1", host_out)
        if picture is not None:
            self.check_picture(picture)

    def take_picture(self, name, left, top, width, height):
        if shutil.which("import") is None:
            print("[%s] no ImageMagick import: no picture" % name)
            return None
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


def add_scenario_tests():
    for name in SCENARIOS:
        setattr(UserInfoDialog, "test_" + name, lambda self, n=name: self.run_scenario(n))


def main():
    global args, env
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True, help="folder of dialog_host.exe and dialog_presser.exe")
    parser.add_argument("--work", required=True, help="folder for the prefix and the locale")
    parser.add_argument("--artifacts", required=True, help="folder for the pictures")
    args, rest = parser.parse_known_args()
    os.makedirs(args.work, exist_ok=True)
    os.makedirs(args.artifacts, exist_ok=True)

    prefix = os.path.join(args.work, "wineprefix")
    base_env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
    base_env.pop("DISPLAY", None)
    make_prefix(prefix, base_env)
    locale_root = make_locale(args.work)
    xvfb, display = start_xvfb()
    env = dict(base_env, DISPLAY=display, LOCPATH=locale_root, LC_ALL="zh_CN.UTF-8")
    try:
        add_scenario_tests()
        program = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
        ok = program.result.wasSuccessful() and program.result.testsRun == len(SCENARIOS)
    finally:
        run([WINESERVER, "-k"], 60, env=base_env)
        xvfb.terminate()
        xvfb.wait(timeout=30)
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
