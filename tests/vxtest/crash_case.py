"""The base of the crash cases: a host that crashes in a fresh folder with a collector listening,
and what a finished crash report must leave behind."""
import os
import struct
import time

from vxtest import crash_files, settings
from vxtest.collector import raw
from vxtest.crash_files import Minidump, inflate_package
from vxtest.e2e import E2ETest

HOST = "crash_host.exe"
# Any crash case: a minute on this machine, or the slower machine's own limit for one program (the
# emulated machine starts each program ten times slower, and slower still when its host is busy).
CRASH_TIMEOUT = max(60, settings.HOST_TIMEOUT)
# A machine that raises one program's limit (the emulated one) runs programs ten times slower.
SLOW_MACHINE = settings.HOST_TIMEOUT > 60
STALL_BOUND = 40            # a stalled crash ends within the watchdog's 10 s plus Wine's start-up

FILTER_MEMORY, NORMAL, FULL_MEMORY = 0x8, 0x0, 0x2
ACCESS_VIOLATION = 0xC0000005
KIND_BLOB = 4
BLOB_PAYLOAD_OFFSET = 43    # 35-byte header, then key and length


class CrashCase(E2ETest):

    def run_crash(self, args, name=HOST, timeout=CRASH_TIMEOUT, env=None):
        self.conf()
        start = time.monotonic()
        result = self.host(args, name=name, timeout=timeout, env=env)
        result.seconds = time.monotonic() - start
        return result

    def file(self, name):
        path = os.path.join(self.dir, name)
        if not os.path.isfile(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def package_datagrams(self, timeout=5.0):
        """Payloads of the blob datagrams that carry a package."""
        blobs = []
        for item in self.collector.quiet(timeout):
            if item.get("event") != "datagram":
                continue
            data = raw(item)
            kind, = struct.unpack_from(">I", data, 4)
            payload = data[BLOB_PAYLOAD_OFFSET:]
            if kind == KIND_BLOB and payload.startswith(crash_files.PACKAGE_MAGIC):
                blobs.append(payload)
        return blobs

    def assert_report(self, result, dump_type, fault_thread=None, code=ACCESS_VIOLATION, extra=None,
                      exit_hook=True):
        """Everything a finished crash report leaves: files, package, datagram, minidump, hook."""
        self.assertEqual(result.returncode, 1, result.stderr)
        dump, package = self.file("TempDump.dmp"), self.file("TempDump.vgz")
        self.assertIsNotNone(dump, "TempDump.dmp missing")
        self.assertIsNotNone(package, "TempDump.vgz missing")
        inflated, chunks = inflate_package(package)
        self.assertEqual(inflated, dump)
        self.assertEqual(chunks, (len(dump) + crash_files.PACKAGE_PIECE - 1) // crash_files.PACKAGE_PIECE)
        blobs = self.package_datagrams()
        self.assertEqual(len(blobs), 1)
        self.assertEqual(blobs[0], package[:crash_files.SEND_LIMIT])
        md = Minidump(dump)
        self.assertEqual(md.flags, dump_type)
        thread_id, got_code, _address = md.exception()
        if fault_thread is None:
            fault_thread = result.values("tid")[0]
        self.assertIn(thread_id, fault_thread if isinstance(fault_thread, list) else [fault_thread])
        self.assertEqual(got_code, code)
        if extra is None:
            self.assertNotIn(crash_files.EXTRA_INFO_STREAM, md.streams)
        else:
            self.assertIn(extra, md.streams[crash_files.EXTRA_INFO_STREAM])
            self.assertFalse(md.streams[crash_files.EXTRA_INFO_STREAM].endswith(b"\x00"))
        self.assertEqual(self.file("exit_hook.txt") is not None, exit_hook)
        return md

    def assert_ended_without_report(self, result):
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertLess(result.seconds, STALL_BOUND)
        self.assertEqual(self.package_datagrams(1.0), [])
