#!/usr/bin/env python3
"""A crash through VXIdent.dll while window hooks fault and handle their own faults.

hook_crash_host.exe installs fault_catching_hooks.dll's hooks on every thread of the desktop, then
crashes the way dll_crash_host.exe does. The crash path shows the user-description dialog on its
worker thread, inside a guarded region, and every window created and message fetched there calls
a hook that reads unreadable memory through IsBadReadPtr. Those faults belong to IsBadReadPtr's own
handler: the dialog must come up, take what the presser types, and the report must arrive at the
collector whole, as in the dialog driver's own crash case, which this one runs with the hooked host.

Usage: guard_dialog_test.py --bin BIN --work DIR --artifacts DIR --collector COLLECTOR [unittest args]
"""
import argparse
import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "dialog"))
import user_info_dialog_test as dialog  # noqa: E402

HOST = "hook_crash_host.exe"


class CrashWithFaultCatchingHooks(dialog.CrashThroughDialog):
    def run_pair(self, name, host_command, presser_args, cwd=None):
        host_out, presser_lines = super().run_pair(name, host_command, presser_args, cwd)
        self.host_out = host_out
        return host_out, presser_lines

    def test_crash_report_holds_the_typed_texts(self):
        super().test_crash_report_holds_the_typed_texts()
        # The hooks did run and fault on the crash path's own thread, not only on the host's.
        host_thread = re.search(r"^tid=(\d+)$", self.host_out, re.M)
        probes = re.findall(r"^hook_probe_thread=(\d+) bad=(\d)$", self.host_out, re.M)
        self.assertIsNotNone(host_thread, self.host_out)
        self.assertIn("hooks=1", self.host_out.splitlines())
        crash_path_probes = [bad for thread, bad in probes if thread != host_thread.group(1)]
        self.assertTrue(crash_path_probes, "no hook ran on another thread: %r" % probes)
        self.assertEqual(set(crash_path_probes), {"1"}, "IsBadReadPtr answered that reserved memory is readable")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True, help="folder of the host, the hooks DLL and dialog_presser.exe")
    parser.add_argument("--work", required=True, help="folder for the prefix and the locale")
    parser.add_argument("--artifacts", required=True, help="folder for the pictures")
    parser.add_argument("--collector", required=True, help="the native collector")
    args, rest = parser.parse_known_args()
    dialog.args = argparse.Namespace(bin=os.path.abspath(args.bin), work=os.path.abspath(args.work),
                                     artifacts=os.path.abspath(args.artifacts),
                                     collector=os.path.abspath(args.collector), crash_host=HOST,
                                     expect_screenshot=False)
    os.makedirs(dialog.args.work, exist_ok=True)
    os.makedirs(dialog.args.artifacts, exist_ok=True)

    # The dialog driver's setting: a prefix of its own, a Chinese locale, a virtual display.
    base_env = dict(os.environ, WINEPREFIX=os.path.join(dialog.args.work, "wineprefix"), WINEDEBUG="-all")
    base_env.pop("DISPLAY", None)
    dialog.make_prefix(base_env)
    locale_root = dialog.make_locale(dialog.args.work)
    xvfb, display = dialog.xdisplay.start_xvfb("%dx%dx24" % dialog.SCREEN, 900)
    dialog.env = dict(base_env, DISPLAY=display, LOCPATH=locale_root, LC_ALL="zh_CN.UTF-8")
    try:
        program = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
        ok = program.result.wasSuccessful() and program.result.testsRun == 1
    finally:
        subprocess.run([dialog.WINESERVER, "-k"], timeout=60, env=base_env)
        xvfb.terminate()
        xvfb.wait(timeout=30)
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
