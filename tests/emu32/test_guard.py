"""The guard's i686 handler chain (emu32_guard_test.exe), where a region is a registration record on
the chain headed at fs:[0].

The GoogleTest program checks the chain head around every kind of recovered fault and that faults
outside any region still reach the host's own handler and the process's unhandled-exception filter.
Its XML report must name every case below as run and passed, so that a case lost from the build
does not pass unseen.
"""
import os
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

import vxtest
from vxtest import settings
from vxtest.hosts import run_host

PROGRAM = "emu32_guard_test.exe"
CASES = [
    "FaultsAndCleanReturnsLeaveTheChainHead",
    "ARecordOfTheFaultingFrameIsTakenOffWithItsFrame",
    "HandlersInsideARegionKeepTheirFaultsAndTheChain",
    "NestedRegionsEachKeepTheChain",
    "RecoveryResetsTheX87Stack",
    "StackOverflowTwice",
    "ManyThreadsEachKeepTheirChain",
    "AFaultOutsideAnyRegionReachesTheHostsHandlerAfterRecoveries",
    "ACppExceptionThroughARegionTakesItsRecordOff",
    "AFaultOutsideAnyRegionReachesTheFilterAfterRecoveries",
]


def case_results(report_path):
    """{case name: "passed" or "failed"} from GoogleTest's XML report."""
    results = {}
    for case in ElementTree.parse(report_path).iter("testcase"):
        failed = case.find("failure") is not None or case.get("result") not in (None, "completed")
        results[case.get("name")] = "failed" if failed else "passed"
    return results


class GuardOnI686(unittest.TestCase):
    def test_every_case_passes(self):
        self.assertTrue(os.path.exists(settings.program(PROGRAM)), PROGRAM + " is not built")
        with tempfile.TemporaryDirectory(prefix="vxident-emu32-guard-") as work:
            try:
                result = run_host(PROGRAM, ["--gtest_output=xml:report.xml"], cwd=work)
            except subprocess.TimeoutExpired:
                self.fail("%s did not end within %d s" % (PROGRAM, settings.HOST_TIMEOUT))
            out = result.stdout.decode("latin-1") + result.stderr
            report = os.path.join(work, "report.xml")
            self.assertTrue(os.path.exists(report), "no XML report:\n" + out)
            results = case_results(report)
        self.assertEqual({name: results.get(name) for name in CASES}, {name: "passed" for name in CASES}, out)
        self.assertEqual(result.returncode, 0, out)


if __name__ == "__main__":
    vxtest.main()
