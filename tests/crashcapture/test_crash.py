"""Crashes of a host process under wine64: exit code, files, package, datagram, minidump, timing.

Each case runs crash_host.exe (the library's objects linked into a host) or dll_crash_host.exe (the
real DLL) in a fresh folder with a collector listening, under a time limit: a host that hangs
fails its case instead of hanging the run.
"""
import os
import subprocess
import time

import vxtest
from vxtest import crash_files
from vxtest.crash_case import (CRASH_TIMEOUT, FILTER_MEMORY, FULL_MEMORY, HOST, NORMAL, SLOW_MACHINE, STALL_BOUND,
                               CrashCase)
from vxtest.crash_files import Minidump, inflate_package
from vxtest.hosts import run_host, write_conf

# Wine's full-memory minidump of even a small host is about 190 MB.
FULL_MEMORY_TIMEOUT = max(240, CRASH_TIMEOUT + 60)
MODULE_EXCEPTION = 0xFFFF0002
STACK_OVERFLOW = 0xC00000FD
EXTRA_TEXT = b"extra information from the host"


class Crashes(CrashCase):

    def test_access_violation_in_the_only_thread_with_each_minidump_type(self):
        for flags, dump_type in ((0x10001, FILTER_MEMORY), (0x10002, NORMAL), (0x10000, FULL_MEMORY)):
            with self.subTest(flags=hex(flags)):
                if dump_type == FULL_MEMORY and SLOW_MACHINE:
                    # About 190 MB of minidump written and packed by emulated code: minutes a run.
                    self.skipTest("a full-memory dump on a slow machine: run under wine64")
                for name in ("TempDump.dmp", "TempDump.vgz", "exit_hook.txt"):
                    if os.path.exists(os.path.join(self.dir, name)):
                        os.remove(os.path.join(self.dir, name))
                r = self.run_crash(["init", "ids", "hook", "format", "%x" % flags, "extra", "av"],
                                   timeout=FULL_MEMORY_TIMEOUT if dump_type == FULL_MEMORY else CRASH_TIMEOUT)
                md = self.assert_report(r, dump_type, extra=EXTRA_TEXT)
                asked_for_only = {crash_files.SCREENSHOT_STREAM, *crash_files.USER_TEXT_STREAMS}
                self.assertEqual(set(md.streams) & asked_for_only, set())
                self.assertEqual(crash_files.MEMORY64_LIST_STREAM in md.streams, dump_type == FULL_MEMORY)

    def test_user_texts_and_screenshot_that_fail_without_a_display(self):
        # S H L 1 2 3: no display, so no screenshot stream; the dialog cannot run, so the three
        # asked-for texts travel empty; with E but an empty LastMessage no 0x10001.
        r = self.run_crash(["init", "ids", "hook", "format", "e5001", "av"])
        md = self.assert_report(r, FILTER_MEMORY)
        self.assertEqual({k: len(v) for k, v in md.streams.items() if k > 0x10000},
                         {0x10003: 0, 0x10004: 0, 0x10005: 0})

    def test_through_the_dll_with_default_flags(self):
        r = self.run_crash([], name="dll_crash_host.exe")
        self.assert_report(r, FILTER_MEMORY, exit_hook=False)

    def test_eight_other_threads_some_reporting_are_frozen_and_do_not_stop_the_report(self):
        r = self.run_crash(["init", "ids", "hook", "threads", "8", "av"])
        md = self.assert_report(r, FILTER_MEMORY)
        # The eight and the faulting thread; the library's worker and watchdog are left out.
        self.assertEqual(sorted(md.thread_ids()), sorted(r.values("made_tid") + r.values("tid")))

    def test_software_exception_of_the_exception_level_carries_its_line(self):
        r = self.run_crash(["init", "ids", "hook", "exception"])
        self.assert_report(r, FILTER_MEMORY, code=MODULE_EXCEPTION, extra=b"the host raised its error")

    def test_a_second_fault_while_the_worker_runs_is_parked(self):
        r = self.run_crash(["init", "ids", "hook", "format", "10001", "secondfault", "av"])
        self.assert_report(r, FILTER_MEMORY, extra=EXTRA_TEXT)
        self.assertEqual(r.values("second_fault_thread_ended"), [0])

    def test_two_threads_faulting_at_once_give_one_report(self):
        r = self.run_crash(["init", "ids", "hook", "twofaults"])
        self.assert_report(r, FILTER_MEMORY, fault_thread=r.values("fault_tid"))

    def test_stack_overflow_is_reported(self):
        r = self.run_crash(["init", "ids", "hook", "overflow"])
        self.assert_report(r, FILTER_MEMORY, code=STACK_OVERFLOW)

    def test_no_new_thread_at_the_fault_is_reported_by_the_worker_made_at_init(self):
        r = self.run_crash(["init", "ids", "hook", "nothread", "av"])
        self.assertEqual(r.values("threads_refused"), [1])
        self.assert_report(r, FILTER_MEMORY)

    def test_stack_overflow_on_a_thread_with_a_64_kib_stack_is_reported(self):
        r = self.run_crash(["init", "ids", "hook", "smallstackoverflow"])
        self.assert_report(r, FILTER_MEMORY, code=STACK_OVERFLOW, fault_thread=r.values("fault_tid"))

    def test_crash_while_another_thread_is_inside_the_echo(self):
        r = self.run_crash(["init", "ids", "hook", "echoheld", "av"])
        self.assertEqual(r.values("blocked_in_echo"), [1])
        self.assert_report(r, FILTER_MEMORY)

    def test_crash_while_another_thread_holds_client_lock(self):
        r = self.run_crash(["init", "ids", "hook", "clientlock", "av"])
        self.assertEqual(r.values("blocked_in_clientlock"), [1])
        self.assert_report(r, FILTER_MEMORY)

    def test_crash_while_another_thread_holds_the_stdio_lock(self):
        r = self.run_crash(["init", "ids", "hook", "stdioheld", "av"])
        self.assertEqual(r.values("stdio_held"), [1])
        self.assert_report(r, FILTER_MEMORY)
        self.assertLess(r.seconds, STALL_BOUND)


class Stalls(CrashCase):

    def test_heap_lock_held_by_a_frozen_thread_ends_in_bounded_time(self):
        r = self.run_crash(["init", "ids", "hook", "heaplock", "av"])
        self.assertEqual(r.values("heap_held"), [1])
        self.assert_ended_without_report(r)

    def test_thread_asleep_in_dllmain_ends_in_bounded_time(self):
        r = self.run_crash(["init", "ids", "hook", "dllmain", "av"])
        self.assertEqual(r.values("in_dllmain"), [1])
        self.assert_ended_without_report(r)
        # The worker made at Init gets past the freeze and creates the minidump's file; Wine's
        # MiniDumpWriteDump then waits on the loader lock (its module lookups take it) before it
        # writes a byte, and the watchdog ends the process.
        self.assertEqual(self.file("TempDump.dmp"), b"")

    def test_no_worker_thread_ends_at_once_without_files(self):
        # No thread can be made from before Init on: neither the sleeping worker nor one at the fault.
        r = self.run_crash(["nothread", "init", "ids", "hook", "av"])
        self.assertEqual(r.values("threads_refused"), [1])
        self.assert_ended_without_report(r)
        self.assertIsNone(self.file("TempDump.dmp"))
        self.assertIsNone(self.file("TempDump.vgz"))

    def test_unwritable_directory_leaves_no_files_and_ends(self):
        ro = os.path.join(self.dir, "ro")
        os.mkdir(ro)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", ro],
                          stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("needs a read-only mount (root)")
        try:
            write_conf(ro, ServerHost="127.0.0.1:%d" % self.collector.port)
            subprocess.run(["mount", "-o", "remount,ro", ro], check=True)
            start = time.monotonic()
            r = run_host(HOST, ["init", "ids", "hook", "av"], ro, timeout=CRASH_TIMEOUT)
            r.seconds = time.monotonic() - start
            self.assertEqual(sorted(os.listdir(ro)), ["HVInfo.conf"])
        finally:
            subprocess.run(["umount", ro])
        self.assert_ended_without_report(r)


class Dumps(CrashCase):

    def test_user_dump_from_the_dump_level_goes_on(self):
        r = self.run_crash(["init", "ids", "dumplevel", "userdump"])
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.values("dumplevel_returned"), [1])
        self.assertEqual(r.values("userdump"), [1])
        self.assertEqual(r.values("end"), [0])
        blobs = self.package_datagrams()
        self.assertEqual(len(blobs), 2)
        dump, package = self.file("TempDump.dmp"), self.file("TempDump.vgz")
        self.assertEqual(inflate_package(package)[0], dump)
        md = Minidump(dump)
        self.assertNotIn(crash_files.EXCEPTION_STREAM, md.streams)  # no exception pointers, no record
        self.assertIn(b"the host asked for a dump", md.streams[crash_files.EXTRA_INFO_STREAM])


if __name__ == "__main__":
    vxtest.main()
