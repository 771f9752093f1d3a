"""The stack walk of a real crash under Wine.

call_chain_host.exe loads VXIdent.dll as a game does and faults at the end of main -> Alpha -> Beta
-> Gamma; the library's own crash path writes TempDump.dmp and TempDump.vgz. The native crash_analyze
reads the dump with the bin folder as symbols folder. The chain's functions must come in order, each
frame marked with how it was found, and, where llvm-symbolizer is installed, with the function, file
and line the "chain:" comments of the host's source mark.

The function of a frame is also found without the symbolizer, from the host's COFF symbol table,
so the walk itself is checked in the emulated 32-bit machine too, which has no llvm-symbolizer:
there the x86 build's frame-pointer walk is checked and the symbolizer's part says it is skipped.

The analysis is of TempDump.dmp as the crash left it: what the network delivers is the package cut
at 64512 bytes, checked here for what that part still allows.
"""
import json
import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest

import vxtest
from vxtest import settings
from vxtest.collector import Collector
from vxtest.hosts import run_host, write_conf

HOST = "call_chain_host.exe"
HOST_SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "hosts", "call_chain_host.cpp")
CRASH_TIMEOUT = settings.HOST_TIMEOUT + 60
ANALYZE_TIMEOUT = 120
SEND_LIMIT = 64512
CHAIN = ["Gamma", "Beta", "Alpha", "main"]  # innermost first
ACCESS_VIOLATION = "0xC0000005"


def symbolizer_installed():
    return shutil.which("llvm-symbolizer") is not None


def chain_lines():
    """{function: line} from the "chain:" comments of the host's source."""
    lines = {}
    with open(HOST_SOURCE, encoding="utf-8") as f:
        for number, text in enumerate(f, 1):
            found = re.search(r"// chain: (\w+)", text)
            if found:
                lines[found.group(1)] = number
    return lines


def coff_functions(path):
    """[(rva, name)] of the function symbols in a PE file's COFF symbol table, sorted by RVA."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, = struct.unpack_from("<H", data, pe + 6)
    table, count = struct.unpack_from("<II", data, pe + 12)
    optional_size, = struct.unpack_from("<H", data, pe + 20)
    section_rvas = [struct.unpack_from("<I", data, pe + 24 + optional_size + 40 * i + 12)[0] for i in range(sections)]
    strings = table + 18 * count
    functions = []
    i = 0
    while i < count:
        raw_name, value, section, kind, _storage, aux = struct.unpack_from("<8sIhHBB", data, table + 18 * i)
        if raw_name[:4] == b"\0\0\0\0":
            offset, = struct.unpack_from("<I", raw_name, 4)
            name = data[strings + offset:data.index(b"\0", strings + offset)]
        else:
            name = raw_name.rstrip(b"\0")
        if kind == 0x20 and 0 < section <= sections:  # a function, defined in a section
            functions.append((section_rvas[section - 1] + value, name.decode("latin-1")))
        i += 1 + aux
    return sorted(functions)


def is_function(symbol, name):
    """Whether a COFF symbol ("main", "_main", "_ZN12_GLOBAL__N_15GammaEi.constprop.0") is `name`."""
    return symbol is not None and (symbol.lstrip("_") == name or re.search(r"\d%sE" % name, symbol) is not None)


def function_at(functions, rva):
    """The function symbol at or below rva: the one that holds it in a program without gaps."""
    best = None
    for start, name in functions:
        if start > rva:
            break
        best = name
    return best


def analyze(path, symbols):
    completed = subprocess.run([settings.CRASH_ANALYZE, "--symbols", symbols, path], capture_output=True,
                               timeout=ANALYZE_TIMEOUT)
    if completed.returncode != 0:
        raise AssertionError("crash_analyze failed: %s" % completed.stderr.decode("latin-1"))
    return json.loads(completed.stdout)


class CallChainCrash(unittest.TestCase):
    """One crash for every check: a Wine crash takes tens of seconds."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="vxident-analysis-")
        collector = Collector(os.path.join(cls.dir, "collected"))
        try:
            write_conf(cls.dir, ServerHost="127.0.0.1:%d" % collector.port)
            cls.result = run_host(HOST, [], cls.dir, timeout=CRASH_TIMEOUT)
        finally:
            collector.close()
        cls.dump = os.path.join(cls.dir, "TempDump.dmp")
        cls.package = os.path.join(cls.dir, "TempDump.vgz")
        cls.analysis = analyze(cls.dump, settings.BIN) if os.path.isfile(cls.dump) else None
        cls.functions = coff_functions(settings.program(HOST))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def crashed_thread(self):
        self.assertEqual(self.result.returncode, 1, self.result.stderr)
        self.assertIsNotNone(self.analysis, "the crash left no TempDump.dmp")
        self.assertGreater(os.path.getsize(self.dump), 0,
                           "the crash left an empty TempDump.dmp: the crash path ended before its minidump writer "
                           "wrote anything (its watchdog ends a crash that makes no progress for 10 s)")
        threads = self.analysis["threads"]
        self.assertTrue(threads and threads[0]["crashed"], json.dumps(self.analysis["notes"]))
        return threads[0]

    def host_frames(self, thread):
        """(frame, function from the COFF symbols) for the host's own frames, innermost first."""
        return [(f, function_at(self.functions, int(f["module_offset"], 16)))
                for f in thread["frames"] if f["module"] == HOST]

    def test_the_walk_finds_the_chain_in_order(self):
        thread = self.crashed_thread()
        self.assertEqual(thread["thread_id"], self.result.values("tid")[0])
        exception = self.analysis["exception"]
        self.assertEqual(exception["code"], ACCESS_VIOLATION)
        self.assertEqual(exception["name"], "EXCEPTION_ACCESS_VIOLATION")
        self.assertTrue(exception["detail"].startswith("write to 0x0"), exception)
        frames = self.host_frames(thread)
        names = [name for _, name in frames]
        self.assertGreaterEqual(len(frames), len(CHAIN), names)
        for (frame, name), expected in zip(frames, CHAIN):
            self.assertTrue(is_function(name, expected), "%s is not %s: %s" % (name, expected, names))
        self.assertEqual(thread["frames"][0]["trust"], "context")
        # The x64 build unwinds with the host's own tables; the i686 build is compiled with frame
        # pointers and walked along them.
        walked = {"amd64": "cfi", "x86": "frame_pointer"}[self.analysis["cpu"]]
        self.assertEqual([frame["trust"] for frame, _ in frames[1:len(CHAIN)]], [walked] * (len(CHAIN) - 1), names)

    def test_each_frame_symbolized_with_function_file_and_line(self):
        if not symbolizer_installed():
            self.skipTest("llvm-symbolizer is not installed on this machine (tools/setup.sh installs llvm)")
        thread = self.crashed_thread()
        lines = chain_lines()
        frames = self.host_frames(thread)
        for (frame, _), expected in zip(frames, CHAIN):
            self.assertTrue(frame["symbols"], frame)
            symbol = frame["symbols"][0]
            self.assertIn(expected, symbol["function"], frame)
            self.assertEqual(os.path.basename(symbol["file"]), "call_chain_host.cpp", frame)
            self.assertEqual(symbol["line"], lines[expected], frame)
        self.assertEqual(self.analysis["signature"],
                         "(anonymous namespace)::Gamma(int) | (anonymous namespace)::Beta(int) | "
                         "(anonymous namespace)::Alpha(int)")
        host = next(m for m in self.analysis["modules"] if m["name"] == HOST)
        self.assertTrue(host["symbols_found"])
        self.assertFalse(host["symbols_mismatch"])
        library = next(m for m in self.analysis["modules"] if m["name"] == "VXIdent.dll")
        self.assertTrue(library["ours"])

    def test_no_second_thread_shows_the_crashed_threads_frame(self):
        """Wine's MiniDumpWriteDump stores the exception's context for the thread that writes the
        dump (our crash worker), where Windows stores each thread's own, so under Wine the worker
        would show the crashed thread's frame 0. The library leaves its own threads out of the
        dump: no thread but the crashed one may show that frame."""
        thread = self.crashed_thread()
        top = thread["frames"][0]["instruction"]
        others = [t["thread_id"] for t in self.analysis["threads"][1:] if t["frames"] and t["frames"][0]["instruction"] == top]
        self.assertEqual(others, [], "a thread of the library is in the dump")

    def test_the_package_as_sent_still_gives_threads_and_modules(self):
        self.crashed_thread()
        with open(self.package, "rb") as f:
            package = f.read()
        cut = os.path.join(self.dir, "cut.vgz")
        with open(cut, "wb") as f:
            f.write(package[:SEND_LIMIT])
        analysis = analyze(cut, settings.BIN)
        # 32-bit Wine's writer makes a package of a few KB, which travels whole.
        arrived_cut = len(package) > SEND_LIMIT
        self.assertEqual(any(n.startswith("the package arrived cut") for n in analysis["notes"]), arrived_cut,
                         analysis["notes"])
        self.assertEqual({m["name"] for m in analysis["modules"]}, {m["name"] for m in self.analysis["modules"]})
        self.assertEqual({t["thread_id"] for t in analysis["threads"]}, {t["thread_id"] for t in self.analysis["threads"]})
        self.assertTrue(all(t["frames"] for t in analysis["threads"]), "a thread without even its context's frame")


if __name__ == "__main__":
    vxtest.main()
