"""The C runtime's own ends of a process under wine64: abort, pure virtual calls, invalid parameters.

runtime_crash_host.exe is a MinGW host (msvcrt.dll) that goes through VXIdent.dll as a game does;
with "ucrt" it also loads ucrtbase.dll and ends through that runtime's exports, as code built by
Visual C++ does. Each case runs under a time limit in a fresh folder with a collector listening.
"""
import os

import vxtest
from vxtest.crash_case import FILTER_MEMORY, CrashCase

HOST = "runtime_crash_host.exe"
ABORT = 0xE0565801
PURE_CALL = 0xE0565802
INVALID_PARAMETER = 0xE0565803
HOST_HANDLER_EXIT = 7


class RuntimeCrashes(CrashCase):

    def crash(self, args):
        return self.run_crash(args, name=HOST)

    def fresh_folder(self):
        """No files of the crash before, so that each report is checked on its own."""
        for name in ("TempDump.dmp", "TempDump.vgz"):
            if os.path.exists(os.path.join(self.dir, name)):
                os.remove(os.path.join(self.dir, name))

    def assert_runtime_report(self, args, code):
        r = self.crash(args)
        self.assertEqual(r.values("returned"), [], "the host went on after its runtime ended it")
        self.assert_report(r, FILTER_MEMORY, code=code, exit_hook=False)

    def test_abort(self):
        self.assert_runtime_report(["init", "abort"], ABORT)

    def test_pure_virtual_call_which_mingws_runtime_ends_in_abort(self):
        self.assert_runtime_report(["init", "purevirtual"], ABORT)

    def test_invalid_parameter_to_a_checked_function_of_msvcrt(self):
        r = self.crash(["init", "invalid"])
        if r.values("msvcrt_sets_invalid_parameter_handler") != [1]:
            # Wine's msvcrt.dll has no _set_invalid_parameter_handler (Windows' has since Vista),
            # and its strcpy_s only logs the invalid parameter and answers EINVAL: nothing ends.
            self.assertEqual((r.returncode, r.values("strcpy_s")), (0, [22]), r.stderr)
            self.skipTest("this msvcrt.dll lets an invalid parameter return EINVAL and offers no handler "
                          "to set: the ucrtbase case checks the handler")
        self.assertEqual(r.values("returned"), [])
        self.assert_report(r, FILTER_MEMORY, code=INVALID_PARAMETER, exit_hook=False)

    def test_the_same_three_through_ucrtbase(self):
        for end, code in (("ucrtabort", ABORT), ("ucrtpurecall", PURE_CALL), ("ucrtinvalid", INVALID_PARAMETER)):
            with self.subTest(end):
                self.fresh_folder()
                self.assert_runtime_report(["ucrt", "init", end], code)


class HostHandlers(CrashCase):
    """A handler the host set before Init stays; one it sets after Init replaces ours."""

    def assert_host_handler_ran(self, args, handler):
        r = self.run_crash(args, name=HOST)
        self.assertEqual(r.returncode, HOST_HANDLER_EXIT, r.stderr)
        self.assertEqual(r.values(handler), [1])
        self.assertEqual(self.package_datagrams(1.0), [])

    def test_abort_handler_before_and_after_init(self):
        for args in (["ownabort", "init", "abort"], ["init", "ownabort", "abort"]):
            with self.subTest(args=args):
                self.assert_host_handler_ran(args, "host_abort_handler")

    def test_ucrt_handlers_before_and_after_init(self):
        for own, end, handler in (("ucrtownpurecall", "ucrtpurecall", "host_purecall_handler"),
                                  ("ucrtowninvalid", "ucrtinvalid", "host_invalid_parameter_handler")):
            for args in (["ucrt", own, "init", end], ["ucrt", "init", own, end]):
                with self.subTest(args=args):
                    self.assert_host_handler_ran(args, handler)


if __name__ == "__main__":
    vxtest.main()
