"""The crash's own datagrams under wine64, end to end with the collector: the crash summary (its
fields against what the crashing host knows of itself, its place before the package blob, its
arrival while a frozen thread holds the heap or the loader lock), the whole package in parts
through a lossy relay, and with both settings off exactly the datagrams of the three report kinds.
"""
import os
import struct

import vxtest
from vxtest import crash_files, settings
from vxtest.collector import raw
from vxtest.crash_case import ACCESS_VIOLATION, CrashCase
from vxtest.lossy_relay import LossyRelay

KIND_NUMBERS, KIND_TEXT, KIND_BLOB = 1, 2, 4   # today's kinds; the crash kinds reach the tests as events
KEY_DUMP_PACKAGE = 17
IDENTITY3 = 33                     # crash_host's "ids"
SUMMARY_ON = {"CrashSummary": 1}
NORMAL_WITH_EXTRA = "10002"        # N and E: the threads' stacks go into the minidump
FAULT_FUNCTION_SIZE = 1024         # FaultInKnownPlace is 416 bytes on x64 and 544 on i686
WHOLE_TIMEOUT = 180


def kind_of(data):
    return struct.unpack_from(">I", data, 4)[0]


def codeview_id(path):
    """The PDB 7.0 id of a PE file as a symbol store writes it (GUID, then the age in hex), read
    from the file on disk; None when it has no RSDS record."""
    with open(path, "rb") as f:
        image = f.read()
    nt, = struct.unpack_from("<I", image, 0x3C)
    sections, = struct.unpack_from("<H", image, nt + 6)
    optional_size, = struct.unpack_from("<H", image, nt + 20)
    optional = nt + 24
    magic, = struct.unpack_from("<H", image, optional)
    directory = optional + (112 if magic == 0x20B else 96) + 6 * 8
    debug_rva, debug_size = struct.unpack_from("<II", image, directory)

    def file_offset(rva):
        for i in range(sections):
            at = optional + optional_size + 40 * i
            size, address, _raw_size, raw = struct.unpack_from("<IIII", image, at + 8)
            if address <= rva < address + size:
                return rva - address + raw
        raise ValueError("rva %x in no section" % rva)

    for entry in range(debug_size // 28):
        at = file_offset(debug_rva) + 28 * entry
        kind, = struct.unpack_from("<I", image, at + 12)
        raw, = struct.unpack_from("<I", image, at + 24)
        if kind == 2 and image[raw:raw + 4] == b"RSDS":
            data1, data2, data3 = struct.unpack_from("<IHH", image, raw + 4)
            age, = struct.unpack_from("<I", image, raw + 20)
            return "%08X%04X%04X%s%X" % (data1, data2, data3, image[raw + 12:raw + 20].hex().upper(), age)
    return None


class CrashWireCase(CrashCase):

    def crash(self, args, timeout=None, **keys):
        self.conf(**keys)
        return self.host(args, name="crash_host.exe", timeout=timeout or 60)

    def datagrams(self, seconds=5.0):
        """The raw datagrams that arrived within seconds, in order, and every event seen."""
        events = self.collector.quiet(seconds)
        return [raw(e) for e in events if e.get("event") == "datagram"], events

    def one_event(self, events, name):
        found = [e for e in events if e.get("event") == name]
        self.assertEqual(len(found), 1, "%s events: %r" % (name, [e.get("event") for e in events]))
        return found[0]


class Summary(CrashWireCase):

    def test_fields_name_the_faulting_function_its_module_and_thread(self):
        r = self.crash(["init", "ids", "hook", "knownfault"], **SUMMARY_ON)
        self.assertEqual(r.returncode, 1, r.stderr)
        _, events = self.datagrams()
        s = self.one_event(events, "crash_summary")
        base, function = r.values("host_base")[0], r.values("fault_function")[0]
        self.assertEqual(s["thread_id"], r.values("tid")[0])
        self.assertEqual(s["exception_code"], ACCESS_VIOLATION)
        self.assertEqual(s["parameters"][:2], [1, 0])  # a write to address 0
        self.assertEqual(s["fault_module"], "crash_host.exe")
        self.assertGreaterEqual(s["fault_offset"], function - base)
        self.assertLess(s["fault_offset"], function - base + FAULT_FUNCTION_SIZE)
        self.assertEqual(s["exception_address"], base + s["fault_offset"])
        ip = "rip" if s["architecture"] == "x64" else "eip"
        self.assertEqual(s["registers"][ip], s["exception_address"])
        host = s["modules"][0]
        self.assertEqual((host["name"], host["base"], host["size"], host["time_stamp"]),
                         ("crash_host.exe", base, r.values("host_size")[0], r.values("host_stamp")[0]))
        # The host is linked with a build id: a CodeView record, as an MSVC-built game has.
        expected_id = codeview_id(settings.program("crash_host.exe"))
        self.assertIsNotNone(expected_id)
        self.assertEqual(host["debug_id"], expected_id)
        frames = [(f["module"], f["offset"]) for f in s["frames"]]
        self.assertEqual(frames[0], ("crash_host.exe", s["fault_offset"]))
        # The caller's return address, found by the frame chain or the scan.
        self.assertIn(("crash_host.exe", r.values("return_address")[0] - base), frames)
        self.assertTrue(any(f[0].lower() in ("kernel32.dll", "ntdll.dll") for f in frames), frames)

    def test_comes_before_the_package_blob(self):
        r = self.crash(["init", "ids", "hook", "av"], **SUMMARY_ON)
        self.assertEqual(r.returncode, 1, r.stderr)
        datagrams, events = self.datagrams()
        # The collector reports each datagram as it arrives: the summary's line, then the blob's.
        order = [e["event"] if e.get("event") != "datagram" else kind_of(raw(e)) for e in events]
        self.assertEqual(order.count("crash_summary"), 1, order)
        self.assertEqual([kind_of(d) for d in datagrams], [KIND_BLOB])
        self.assertLess(order.index("crash_summary"), order.index(KIND_BLOB))

    def test_carries_the_last_log_line(self):
        r = self.crash(["init", "ids", "hook", "exception"], **SUMMARY_ON)
        self.assertEqual(r.returncode, 1, r.stderr)
        _, events = self.datagrams()
        s = self.one_event(events, "crash_summary")
        self.assertEqual(s["exception_code"], 0xFFFF0002)
        self.assertIn("the host raised its error", s["message"])
        self.assertFalse(s["message_cut"])

    def test_arrives_while_a_frozen_thread_holds_the_heap_lock(self):
        r = self.crash(["init", "ids", "hook", "heaplock", "av"], **SUMMARY_ON)
        self.assertEqual(r.values("heap_held"), [1])
        _, events = self.datagrams()
        self.assertEqual(self.one_event(events, "crash_summary")["thread_id"], r.values("tid")[0])

    def test_arrives_while_a_frozen_thread_holds_the_loader_lock(self):
        r = self.crash(["init", "ids", "hook", "dllmain", "av"], **SUMMARY_ON)
        self.assertEqual(r.values("in_dllmain"), [1])
        _, events = self.datagrams()
        self.assertEqual(self.one_event(events, "crash_summary")["thread_id"], r.values("tid")[0])


class SettingsOff(CrashWireCase):

    def blob_bytes(self, package):
        """What the key-17 blob of this package is, byte for byte, from crash_host's identities."""
        cut = package[:crash_files.SEND_LIMIT]
        return struct.pack(">II", (IDENTITY3 << 16) | KEY_DUMP_PACKAGE, len(cut)) + cut

    def test_both_off_sends_exactly_the_three_report_kinds(self):
        r = self.crash(["init", "ids", "hook", "reports", "av"])
        self.assertEqual(r.returncode, 1, r.stderr)
        off, events = self.datagrams()
        self.assertEqual([kind_of(d) for d in off], [KIND_NUMBERS, KIND_TEXT, KIND_BLOB])
        self.assertEqual(off[2][35:], self.blob_bytes(self.file("TempDump.vgz")))
        # Nothing else arrived: no summary, no parts, nothing the collector could not read.
        self.assertEqual(sorted(set(e["event"] for e in events)), ["crash_report", "datagram"])
        self.assertNotIn("wire_id", self.one_event(events, "crash_report"))

        # The same crash with both on: the datagrams of the three kinds are the same ones, byte for
        # byte but for the package itself, which is another minidump.
        os.remove(os.path.join(self.dir, "TempDump.vgz"))
        r = self.crash(["init", "ids", "hook", "reports", "av"], CrashSummary=1, CrashPackageWhole=1)
        self.assertEqual(r.returncode, 1, r.stderr)
        on, events = self.datagrams()
        self.assertEqual(on[:2], off[:2])
        self.assertEqual([kind_of(d) for d in on], [KIND_NUMBERS, KIND_TEXT, KIND_BLOB])
        self.assertEqual(on[2][35:], self.blob_bytes(self.file("TempDump.vgz")))
        self.one_event(events, "crash_summary")
        self.assertEqual(len([e for e in events if e.get("event") == "crash_report" and "wire_id" in e]), 1)


class WholePackage(CrashWireCase):
    """Packages of about 100 KB, 1 MiB and 8 MiB through a relay that drops 1%, repeats 1% and
    holds back 5% of the datagrams: the collector rebuilds each one whole."""

    def crash_through_relay(self, stack_kib, seed, **keys):
        relay = LossyRelay(self.collector.port, drop=0.01, seed=seed)
        try:
            keys.setdefault("CrashPackageRate", 4096)
            keys.setdefault("CrashPackageLimit", 16384)
            r = self.crash(["init", "ids", "hook", "format", NORMAL_WITH_EXTRA, "stackdata", stack_kib, "av"],
                           timeout=WHOLE_TIMEOUT, ServerHost="127.0.0.1:%d" % relay.port, CrashSummary=1,
                           CrashPackageWhole=1, **keys)
            self.assertEqual(r.values("stack_data"), [1])
            self.assertEqual(r.returncode, 1, r.stderr)
            _, events = self.datagrams(10.0)
        finally:
            counts = relay.close()
        return r, events, counts

    def assert_whole(self, events, package):
        summary = self.one_event(events, "crash_summary")
        whole = [e for e in events if e.get("event") == "crash_report" and e.get("wire_id") is not None]
        self.assertEqual(len(whole), 1, [e.get("event") for e in events])
        report = whole[0]
        self.assertTrue(report["whole"])
        self.assertEqual(report["wire_id"], summary["wire_id"])
        with open(os.path.join(report["dir"], "package.vgz"), "rb") as f:
            self.assertEqual(f.read(), package)
        with open(os.path.join(report["dir"], "minidump.dmp"), "rb") as f:
            self.assertEqual(f.read(), self.file("TempDump.dmp"))

    def test_packages_of_100_kb_1_mib_and_8_mib_arrive_whole(self):
        # The stack data is what does not compress; the host's own minidump adds about 90 KB of
        # package under 64-bit Wine and a few KB under 32-bit Wine.
        for stack_kib in (64, 960, 8100):
            low, high = stack_kib << 10, (stack_kib + 200) << 10
            with self.subTest(stack_kib=stack_kib):
                for name in ("TempDump.dmp", "TempDump.vgz"):
                    if os.path.exists(os.path.join(self.dir, name)):
                        os.remove(os.path.join(self.dir, name))
                _, events, counts = self.crash_through_relay(stack_kib, seed=stack_kib)
                package = self.file("TempDump.vgz")
                self.assertTrue(low <= len(package) < high, len(package))
                if stack_kib >= 960:  # a thousand datagrams or more: some must have been lost
                    self.assertGreater(counts.get("dropped", 0), 0, counts)
                self.assert_whole(events, package)

    def test_a_package_over_the_limit_goes_only_as_the_blob(self):
        r = self.crash(["init", "ids", "hook", "format", NORMAL_WITH_EXTRA, "stackdata", 200, "av"],
                       CrashSummary=1, CrashPackageWhole=1, CrashPackageLimit=64)
        self.assertEqual(r.returncode, 1, r.stderr)
        datagrams, events = self.datagrams()
        self.assertGreater(len(self.file("TempDump.vgz")), 64 << 10)
        self.one_event(events, "crash_summary")
        self.assertEqual([kind_of(d) for d in datagrams], [KIND_BLOB])
        self.assertEqual(datagrams[0][43:], self.file("TempDump.vgz")[:crash_files.SEND_LIMIT])
        # Only the cut blob's report: no parts arrived, so none was rebuilt or given up.
        self.assertEqual([e.get("whole") for e in events if e.get("event") == "crash_report"], [False])
        self.assertNotIn("crash_package_lost", [e.get("event") for e in events])


if __name__ == "__main__":
    vxtest.main()
