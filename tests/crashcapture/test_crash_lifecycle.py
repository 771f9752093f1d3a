"""The crash path over the library's life in the host: a minidump writer that fails, a library the
host frees and goes on without, a host whose threads all end. Each case runs a host program under
Wine in a fresh folder with a collector listening, under a time limit."""
import os
import shutil

import vxtest
from vxtest import crash_files, settings
from vxtest.crash_case import FILTER_MEMORY, HOST, CrashCase


class FailedMinidump(CrashCase):

    def test_sends_nothing_and_leaves_no_earlier_package(self):
        # The host and a dbghelp.dll whose writer fails, together in the crash's folder, with an
        # earlier crash's package there.
        host = os.path.join(self.dir, HOST)
        shutil.copy(settings.program(HOST), host)
        shutil.copy(os.path.join(settings.BIN, "failing_dbghelp", "dbghelp.dll"), self.dir)
        earlier = crash_files.PACKAGE_MAGIC + b"an earlier crash's package"
        with open(os.path.join(self.dir, "TempDump.vgz"), "wb") as f:
            f.write(earlier)
        # Wine would take its own dbghelp before one beside the program; Windows looks there first.
        r = self.run_crash(["init", "ids", "hook", "av"], name=host, env={"WINEDLLOVERRIDES": "dbghelp=n"})
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertEqual(self.package_datagrams(), [])
        self.assertIsNone(self.file("TempDump.vgz"))
        self.assertEqual(self.file("TempDump.dmp"), b"")  # created, and the writer wrote nothing
        self.assertIsNotNone(self.file("exit_hook.txt"))


class Unloading(CrashCase):
    """A host that frees the library and goes on: handlers and threads of the library must not be
    left pointing into unmapped memory."""

    def test_exceptions_handled_by_the_host_after_the_library_was_freed(self):
        for args in (["free", "handled"], ["init", "fin", "free", "handled"]):
            with self.subTest(args=args):
                r = self.run_crash(args, name="unload_host.exe")
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(r.values("handled"), [3])
                self.assertEqual(r.values("end"), [0])

    def test_a_crash_after_the_library_was_freed_is_still_reported(self):
        r = self.run_crash(["init", "fin", "free", "av"], name="unload_host.exe")
        self.assertEqual(r.values("freed"), [1])
        self.assertEqual(r.values("still_loaded"), [1])  # pinned once Init installed its handlers
        self.assert_report(r, FILTER_MEMORY, exit_hook=False)


class HostThreadsEnd(CrashCase):
    """A host without a C runtime ends when its last thread does, with that thread's exit code: the
    library's own threads, started by VXIdent_Init, must not keep it alive."""

    def setUp(self):
        if not os.path.isfile(settings.program("thread_end_host.exe")):
            self.skipTest("thread_end_host.exe is built for x64 only: a 32-bit entry point without a "
                          "runtime needs a decorated name")
        super().setUp()

    def test_an_entry_point_that_returns_ends_the_process_with_its_code(self):
        r = self.run_crash(["1"], name="thread_end_host.exe", timeout=settings.HOST_TIMEOUT)
        self.assertEqual(r.values("init"), [0])
        self.assertEqual(r.values("entry_returns"), [7])
        self.assertEqual(r.returncode, 7, r.stderr)

    def test_the_process_lives_until_its_last_host_thread_ends(self):
        r = self.run_crash(["2"], name="thread_end_host.exe", timeout=settings.HOST_TIMEOUT)
        self.assertEqual(r.values("second_thread"), [1])
        self.assertEqual(r.values("second_thread_ends"), [5])
        self.assertEqual(r.returncode, 5, r.stderr)


if __name__ == "__main__":
    vxtest.main()
