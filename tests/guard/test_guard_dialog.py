"""A crash through VXIdent.dll while window hooks fault and handle their own faults.

hook_crash_host.exe installs fault_catching_hooks.dll's hooks on every thread of the desktop, then
crashes the way dll_crash_host.exe does. The crash path shows the user-description dialog on its
worker thread, inside a guarded region, and every window created and message fetched there calls
a hook that reads unreadable memory through IsBadReadPtr. Those faults belong to IsBadReadPtr's own
handler: the dialog must come up, take what the presser types, and the report must arrive at the
collector whole, as in the dialog driver's own crash case, which this one runs with the hooked host
on the dialog driver's prefix, locale and virtual display.
"""
import re

import vxtest
from dialog import test_user_info_dialog as dialog

HOST = "hook_crash_host.exe"


def setUpModule():
    dialog.CRASH_HOST = HOST
    dialog.setUpModule()


def tearDownModule():
    dialog.tearDownModule()


class CrashWithFaultCatchingHooks(dialog.CrashThroughDialog):
    def run_pair(self, name, host_command, presser_args, cwd=None):
        host_out, picture = super().run_pair(name, host_command, presser_args, cwd)
        self.host_out = host_out
        return host_out, picture

    def test_crash_report_holds_the_typed_texts_and_the_screen(self):
        super().test_crash_report_holds_the_typed_texts_and_the_screen()
        # The hooks did run and fault on the crash path's own thread, not only on the host's.
        host_thread = re.search(r"^tid=(\d+)$", self.host_out, re.M)
        probes = re.findall(r"^hook_probe_thread=(\d+) bad=(\d)$", self.host_out, re.M)
        self.assertIsNotNone(host_thread, self.host_out)
        self.assertIn("hooks=1", self.host_out.splitlines())
        crash_path_probes = [bad for thread, bad in probes if thread != host_thread.group(1)]
        self.assertTrue(crash_path_probes, "no hook ran on another thread: %r" % probes)
        self.assertEqual(set(crash_path_probes), {"1"}, "IsBadReadPtr answered that reserved memory is readable")


if __name__ == "__main__":
    vxtest.main()
