"""A crash inside the shipped VXIdent.dll resolves to function, file and line from the release's symbols.

unterminated_text_host.exe (x64, built against the release by build_hosts.sh, beside the release's
DLL) hands VXIdent_Set_Str a text that runs into unreadable memory. The fault happens inside the
DLL, its crash handler writes TempDump.dmp, and the test reads the fault address and the stack from
the minidump and resolves them with llvm-symbolizer against symbols/x64/VXIdent.dll.debug: the
faulting instruction, in the C runtime's strnlen that is linked into the DLL, and the first return
address into the library's own code, ReportText at its strnlen call. The 32-bit DLL's symbols are
checked without a crash in test_tree.py: this machine cannot run it.

  VXIDENT_RELEASE_TREE   the unpacked release
  VXIDENT_RELEASE_HOSTS  build_hosts.sh's output folder
  VXIDENT_WINE           the command that runs a Windows program (wine64)
  VXIDENT_RELEASE_VERSION  the version the DLL's resource must state, as "1.2.3"
"""
import os
import shutil
import struct
import subprocess
import tempfile
import unittest

import vxtest
from vxtest import settings

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
TREE = settings.RELEASE_TREE
HOSTS = settings.RELEASE_HOSTS
WINE = settings.WINE
VERSION = settings.RELEASE_VERSION
CRASH_TIMEOUT = 120
ACCESS_VIOLATION = 0xC0000005
STACK_WORDS = 256  # how far above the stack pointer to look for a return address into the DLL

# Minidump stream types and record sizes (minidumpapiset.h).
MODULE_LIST, MEMORY_LIST, EXCEPTION = 4, 5, 6
MODULE_RECORD = 108
X64_CONTEXT_RSP = 0x98


class Minidump:
    """What this test needs of a minidump: the exception, the module list, the saved memory."""

    def __init__(self, data):
        signature, _version, count, directory = struct.unpack_from("<4sIII", data, 0)
        assert signature == b"MDMP", signature
        self.data = data
        self.streams = {}
        for i in range(count):
            kind, size, at = struct.unpack_from("<III", data, directory + 12 * i)
            self.streams.setdefault(kind, (at, size))

    def exception(self):
        """(code, address, stack pointer) of the x64 fault."""
        at, _size = self.streams[EXCEPTION]
        code, = struct.unpack_from("<I", self.data, at + 8)
        address, = struct.unpack_from("<Q", self.data, at + 24)
        _context_size, context = struct.unpack_from("<II", self.data, at + 160)
        rsp, = struct.unpack_from("<Q", self.data, context + X64_CONTEXT_RSP)
        return code, address, rsp

    def modules(self):
        """(base, size, path, (file version MS, LS)) of every loaded module."""
        at, _size = self.streams[MODULE_LIST]
        count, = struct.unpack_from("<I", self.data, at)
        found = []
        for i in range(count):
            record = at + 4 + MODULE_RECORD * i
            base, size, _checksum, _stamp, name_at = struct.unpack_from("<QIIII", self.data, record)
            length, = struct.unpack_from("<I", self.data, name_at)
            path = self.data[name_at + 4:name_at + 4 + length].decode("utf-16-le")
            _signature, _struct_version, version_ms, version_ls = struct.unpack_from("<IIII", self.data, record + 24)
            found.append((base, size, path, (version_ms, version_ls)))
        return found

    def memory_at(self, address):
        """The saved bytes from address to the end of its range, or b""."""
        at, _size = self.streams[MEMORY_LIST]
        count, = struct.unpack_from("<I", self.data, at)
        for i in range(count):
            start, size, data_at = struct.unpack_from("<QII", self.data, at + 4 + 16 * i)
            if start <= address < start + size:
                return self.data[data_at + address - start:data_at + size]
        return b""


def image_base(pe_path):
    with open(pe_path, "rb") as f:
        pe = f.read(4096)
    header, = struct.unpack_from("<I", pe, 0x3C)
    optional = header + 24
    magic, = struct.unpack_from("<H", pe, optional)
    if magic == 0x20B:  # PE32+
        return struct.unpack_from("<Q", pe, optional + 24)[0]
    return struct.unpack_from("<I", pe, optional + 28)[0]


def symbolize(symbols, address):
    """(function, file, line) that llvm-symbolizer gives for an address of the DLL's preferred image."""
    out = subprocess.run(["llvm-symbolizer", "--demangle", "--obj=" + symbols, "0x%x" % address],
                         check=True, stdout=subprocess.PIPE, text=True, timeout=60).stdout.splitlines()
    function, place = out[0], out[1]
    file, line, _column = place.rsplit(":", 2)
    return function, file, int(line)


def source_line(relative, needle):
    """The 1-based number of the first line of a source file that holds needle."""
    with open(os.path.join(ROOT, relative), encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if needle in line:
                return number
    raise AssertionError("%s not found in %s" % (needle, relative))


@unittest.skipUnless(TREE and HOSTS, "VXIDENT_RELEASE_TREE and VXIDENT_RELEASE_HOSTS are not set")
class CrashInsideTheDll(unittest.TestCase):

    def setUp(self):
        self.assertIsNotNone(shutil.which("llvm-symbolizer"), "llvm-symbolizer is missing: run tools/setup.sh")
        self.dir = tempfile.mkdtemp(prefix="vxident-release-crash-")
        self.symbols = os.path.join(TREE, "symbols", "x64", "VXIdent.dll.debug")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def crash(self):
        # The package goes to the discard port: this test reads the dump the crash leaves behind.
        with open(os.path.join(self.dir, "HVInfo.conf"), "w", newline="\r\n") as f:
            f.write("[HVINFO]\nServerHost=127.0.0.1:9\n")
        host = os.path.join(HOSTS, "x64", "unterminated_text_host.exe")
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            # Files, not pipes: Wine's services outlive the program holding its output handles.
            process = subprocess.Popen(WINE + [host], cwd=self.dir, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            try:
                returncode = process.wait(timeout=CRASH_TIMEOUT)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
                raise
            err.seek(0)
            stderr = err.read().decode("latin-1")
        self.assertEqual(returncode, 1, "the crash path ends the process with 1: " + stderr)
        self.assertIn("init=0", stderr)
        self.assertNotIn("str=", stderr, "VXIdent_Set_Str returned instead of faulting")
        with open(os.path.join(self.dir, "TempDump.dmp"), "rb") as f:
            return Minidump(f.read())

    def test_fault_and_caller_resolve_from_the_shipped_symbols(self):
        dump = self.crash()
        code, address, rsp = dump.exception()
        self.assertEqual(code, ACCESS_VIOLATION)

        dlls = [m for m in dump.modules() if os.path.basename(m[2].replace("\\", "/")).lower() == "vxident.dll"]
        self.assertEqual(len(dlls), 1, dump.modules())
        base, size, path, version = dlls[0]
        self.assertTrue(path.lower().endswith("\\x64\\vxident.dll"), path)
        with open(os.path.join(HOSTS, "x64", "VXIdent.dll"), "rb") as ran, \
                open(os.path.join(TREE, "bin", "x64", "VXIdent.dll"), "rb") as shipped:
            self.assertEqual(ran.read(), shipped.read(), "the host ran another DLL than the release's")
        if VERSION:
            major, minor, patch = (int(p) for p in VERSION.split("."))
            self.assertEqual(version, ((major << 16) | minor, patch << 16), "the module list's file version")
        self.assertTrue(base <= address < base + size, "fault at %#x, VXIdent.dll at %#x+%#x" % (address, base, size))

        # Addresses in the symbols are those of the DLL at its preferred base.
        preferred = image_base(os.path.join(TREE, "bin", "x64", "VXIdent.dll"))
        function, file, line = symbolize(self.symbols, address - base + preferred)
        self.assertEqual(function, "strnlen")
        self.assertTrue(file.endswith("strnlen.c"), file)
        self.assertGreater(line, 0)

        # strnlen is a leaf: its caller's return address is on the stack just above the fault.
        stack = dump.memory_at(rsp)
        self.assertGreater(len(stack), 8, "the faulting thread's stack is not in the dump")
        words = struct.unpack_from("<%dQ" % min(STACK_WORDS, len(stack) // 8), stack)
        returns = [w for w in words if base <= w < base + size]
        self.assertTrue(returns, "no return address into VXIdent.dll on the faulting stack")
        # A return address follows its call: the call itself is the byte before.
        function, file, line = symbolize(self.symbols, returns[0] - 1 - base + preferred)
        self.assertTrue(function.startswith("ReportText("), function)
        self.assertEqual(os.path.realpath(file), os.path.join(ROOT, "client", "client_core.cpp"))
        self.assertEqual(line, source_line("client/client_core.cpp", "strnlen(text,"))


if __name__ == "__main__":
    vxtest.main()
