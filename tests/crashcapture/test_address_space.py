"""A 32-bit host that has used up its address space, then faults. The crash worker made at Init
still runs: it sends the crash summary, which needs no memory of its own, and ends the process with
the crash path's exit code. The minidump writer allocates as it gathers, so under 32-bit Wine it
fails there and nothing else is sent (never an earlier crash's package). Only a 32-bit host can use
its address space up, so this driver runs in the emulated 32-bit machine."""
import vxtest
from vxtest.crash_case import CrashCase
from vxtest.crash_files import SEND_LIMIT


class AddressSpace(CrashCase):

    def test_fault_after_the_address_space_is_used_up_still_sends_its_summary(self):
        self.conf(CrashSummary=1)
        r = self.host(["init", "ids", "hook", "noaddressspace", "av"], name="crash_host.exe")
        if r.values("address_space_used_up") != [1]:
            self.skipTest("the host could not use its address space up (a 64-bit host?)")
        self.assertEqual(r.returncode, 1, r.stderr)
        events = self.collector.quiet(5.0)
        summaries = [e for e in events if e.get("event") == "crash_summary"]
        self.assertEqual(len(summaries), 1, [e.get("event") for e in events])
        self.assertEqual(summaries[0]["thread_id"], r.values("tid")[0])
        self.assertEqual(summaries[0]["exception_code"], 0xC0000005)
        # A package that arrived is this crash's own.
        package = self.file("TempDump.vgz")
        for report in (e for e in events if e.get("event") == "crash_report"):
            self.assertIsNotNone(package, report)
            self.assertEqual(report["package_bytes"], min(len(package), SEND_LIMIT), report)


if __name__ == "__main__":
    vxtest.main()
