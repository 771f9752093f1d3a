"""A crash through VXIdent.dll while window hooks fault and handle their own faults, without a display.

hook_crash_host.exe installs fault_catching_hooks.dll's hooks on every thread, then crashes. The
crash path asks for the user-description dialog and ends with its message box; each window it makes
calls a hook that reads unreadable memory through IsBadReadPtr, inside the crash path's guarded
region. Without a display Wine makes no window and returns at once, but the hooks still run on the
crash path's thread: their faults belong to IsBadReadPtr's own handler, so the crash path goes on
past them (first case) and the report arrives whole (second case). test_guard_dialog.py runs the
same host in front of a real dialog on a virtual display; this driver needs none, so it also runs in
the emulated 32-bit machine.
"""
import os
import re

import vxtest
from vxtest.crash_case import FILTER_MEMORY, CrashCase

HOST = "hook_crash_host.exe"
# The filtered memory dump (S) and the three user texts (1, 2, 3), which bring up the dialog.
CRASH_SETTINGS = "[VXException]\r\nFormat_CrashDump=S123\r\n"


class CrashPathUnderFaultCatchingHooks(CrashCase):
    def crash(self):
        # A display would bring up a dialog that nobody here answers.
        os.environ.pop("DISPLAY", None)
        with open(os.path.join(self.dir, "HVModule.dat"), "w", newline="") as f:
            f.write(CRASH_SETTINGS)
        result = self.run_crash([], name=HOST)
        self.assertEqual(result.values("hooks"), [1], result.stderr)
        return result

    def test_the_hooks_keep_their_faults_and_the_crash_path_goes_on(self):
        result = self.crash()
        self.assertEqual(result.returncode, 1, result.stderr)
        # The hooks ran on the crash path's thread, not only on the host's, and each got its answer
        # from IsBadReadPtr: the fault inside stayed IsBadReadPtr's and did not end the dump.
        host_thread = str(result.values("tid")[0])
        probes = re.findall(r"^hook_probe_thread=(\d+) bad=(\d)$", result.stderr, re.M)
        crash_path_probes = [bad for thread, bad in probes if thread != host_thread]
        self.assertTrue(crash_path_probes, "no hook answered on another thread: %r" % probes)
        self.assertEqual(set(crash_path_probes), {"1"}, "IsBadReadPtr answered that reserved memory is readable")

    def test_the_report_arrives_whole(self):
        self.assert_report(self.crash(), FILTER_MEMORY, exit_hook=False)


if __name__ == "__main__":
    vxtest.main()
