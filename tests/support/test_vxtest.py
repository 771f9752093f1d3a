"""The drivers' helper package itself: its readers of crash files on bytes made here, and the exit
codes of its entry, which ctest and the emulated machine take as verdicts."""
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

import vxtest
from vxtest import crash_files, test_list, xdisplay
from vxtest.crash_files import Minidump, inflate_package, jpeg_size

ENTRY = os.path.dirname(os.path.abspath(vxtest.__file__))


def package_of(*pieces):
    return crash_files.PACKAGE_MAGIC + b"".join(
        struct.pack("<I", len(z)) + z for z in (zlib.compress(p, 9) for p in pieces))


def minidump_of(streams, flags=0x8):
    """A minidump of header, directory and the streams' bytes, in the order given."""
    header_size, entry_size = 32, 12
    at = header_size + entry_size * len(streams)
    directory, data = b"", b""
    for kind, payload in streams:
        directory += struct.pack("<III", kind, len(payload), at + len(data))
        data += payload
    header = struct.pack("<4sIIIIIQ", b"MDMP", 0xA793, len(streams), header_size, 0, 0, flags)
    return header + directory + data


class PackageReader(unittest.TestCase):
    def test_pieces_inflate_in_order(self):
        first, second = os.urandom(crash_files.PACKAGE_PIECE), b"tail of the dump"
        self.assertEqual(inflate_package(package_of(first, second)), (first + second, 2))

    def test_damaged_packages_are_refused(self):
        whole = package_of(b"x" * 100)
        for name, package in [("magic", b"VGZ\x00\x02" + whole[5:]), ("cut", whole[:-3]),
                              ("cut length", whole + b"\x01\x00"), ("empty stream", whole + b"\x00\x00\x00\x00"),
                              ("oversized piece", package_of(b"y" * (crash_files.PACKAGE_PIECE + 1)))]:
            with self.subTest(name), self.assertRaises((ValueError, zlib.error)):
                inflate_package(package)


class MinidumpReader(unittest.TestCase):
    def test_streams_exception_and_user_streams(self):
        exception = struct.pack("<IIIIQQ", 0x1234, 0, 0xC0000005, 0, 0, 0x401000)
        dump = Minidump(minidump_of([(crash_files.EXCEPTION_STREAM, exception), (0, b""),
                                     (crash_files.EXTRA_INFO_STREAM, b"extra"),
                                     (crash_files.USER_TEXT_STREAMS[0], b"")]))
        self.assertEqual(dump.flags, 0x8)
        self.assertEqual(dump.exception(), (0x1234, 0xC0000005, 0x401000))
        self.assertEqual(dump.user_streams(), {crash_files.EXTRA_INFO_STREAM: b"extra",
                                               crash_files.USER_TEXT_STREAMS[0]: b""})
        self.assertNotIn(0, dump.streams, "unused directory entries are no streams")

    def test_damaged_minidumps_are_refused(self):
        whole = minidump_of([(crash_files.EXTRA_INFO_STREAM, b"extra")])
        for name, data in [("signature", b"MDMX" + whole[4:]), ("short header", whole[:20]),
                           ("directory cut", whole[:36]), ("stream cut", whole[:-2])]:
            with self.subTest(name), self.assertRaises(ValueError):
                Minidump(data)


class JpegSize(unittest.TestCase):
    def test_size_from_the_frame_header_after_other_segments(self):
        app0 = b"\xff\xe0" + struct.pack(">H", 16) + b"JFIF\x00" + bytes(9)
        sof0 = b"\xff\xc0" + struct.pack(">HBHHB", 11, 8, 768, 1366, 1) + bytes(3)
        self.assertEqual(jpeg_size(b"\xff\xd8" + app0 + sof0 + b"\xff\xd9"), (1366, 768))

    def test_no_frame_header(self):
        self.assertIsNone(jpeg_size(b"\xff\xd8\xff\xd9"))


class TestList(unittest.TestCase):
    def test_reads_the_build_list(self):
        listed = {"wine_programs": [{"name": "a_test", "file": "a_test.exe", "own_prefix": True,
                                     "environment": {"WINEDLLOVERRIDES": "d3d9=n"}}],
                  "drivers": [{"name": "e2e_client", "file": "e2e/test_client.py", "host": True, "emu32": False}]}
        with tempfile.TemporaryDirectory() as bin_dir:
            with open(os.path.join(bin_dir, test_list.FILE_NAME), "w") as f:
                json.dump(listed, f)
            self.assertEqual(test_list.wine_programs(bin_dir), listed["wine_programs"])
            self.assertEqual(test_list.drivers(bin_dir), listed["drivers"])


class VirtualDisplay(unittest.TestCase):
    def test_stopping_the_display_ends_xvfb_itself(self):
        if shutil.which("Xvfb") is None:
            self.skipTest("no Xvfb (tools/setup.sh installs it)")
        xvfb, display = xdisplay.start_xvfb("320x200x24", 60)
        self.assertRegex(display, r"^:\d+$")
        children = subprocess.run(["ps", "-o", "pid=", "--ppid", str(xvfb.pid)], capture_output=True, text=True,
                                  timeout=10).stdout.split()
        self.assertEqual(len(children), 1, "timeout runs Xvfb as its one child")
        xdisplay.stop_xvfb(xvfb)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            try:
                os.kill(int(children[0]), 0)
            except ProcessLookupError:
                return
            time.sleep(0.1)
        self.fail("Xvfb %s outlived its display" % children[0])


class EntryExitCodes(unittest.TestCase):
    """A driver run through the entry: its exit code is the verdict ctest reads."""

    def run_driver(self, body, *args):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "test_sample.py")
            with open(path, "w") as f:
                f.write("import unittest\nimport vxtest\n\n\nclass Sample(unittest.TestCase):\n" + body +
                        "\n\nif __name__ == '__main__':\n    vxtest.main()\n")
            return subprocess.run([sys.executable, ENTRY, path, *args], capture_output=True, text=True, timeout=60)

    def test_pass_fail_skip_and_nothing_run(self):
        cases = [("passed", "    def test_a(self):\n        self.assertTrue(True)", 0),
                 ("failed", "    def test_a(self):\n        self.fail('no')", 1),
                 ("failed beside a skip", "    def test_a(self):\n        self.fail('no')\n"
                  "    def test_b(self):\n        self.skipTest('no tool')", 1),
                 ("skipped", "    def test_a(self):\n        pass\n"
                  "    def test_b(self):\n        self.skipTest('no tool')", vxtest.EXIT_SKIPPED),
                 ("no case", "    pass", 1)]
        for name, body, code in cases:
            with self.subTest(name):
                completed = self.run_driver(body)
                self.assertEqual(completed.returncode, code, completed.stderr)
        self.assertIn("SKIPPED", self.run_driver(cases[3][1]).stderr)

    def test_one_case_alone(self):
        completed = self.run_driver("    def test_a(self):\n        pass\n"
                                    "    def test_b(self):\n        self.fail('no')", "Sample.test_a")
        self.assertEqual(completed.returncode, 0, completed.stderr)
        self.assertIn("Ran 1 test", completed.stderr)


if __name__ == "__main__":
    vxtest.main()
