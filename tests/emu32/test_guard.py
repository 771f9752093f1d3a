"""The guard's recovery on i686 (emu32_guard_host.exe), where the SEH chain lives on the stack.

The host program checks the chain head around every kind of recovered fault and finally lets a
fault go unguarded: it must reach the host's own SEH handler and then the process's unhandled-
exception filter, which ends the process with 7 (8 when a case failed).
"""
import unittest

import vxtest
from vxtest.hosts import run_host

CASES = ["access_violation", "divide_by_zero", "clean_return", "abandoned_seh_record", "nested",
         "x87_reset", "stack_overflow_1", "stack_overflow_2", "threads", "host_seh_after_recoveries"]


def run_guard_host(args):
    result = run_host("emu32_guard_host.exe", args, cwd="/tmp")
    out = result.stdout.decode("latin-1")
    cases = {}
    for line in out.splitlines():
        # "case NAME ok" or "case NAME FAIL: detail"
        words = line.split(" ", 3)
        if len(words) >= 3 and words[0] == "case":
            cases[words[1]] = words[2].rstrip(":")
    return result, out + result.stderr, cases


class GuardOnI686(unittest.TestCase):
    def test_recoveries_leave_the_chain_whole(self):
        result, out, cases = run_guard_host([])
        self.assertEqual({name: cases.get(name) for name in CASES}, {name: "ok" for name in CASES}, out)
        self.assertIn("unhandled filter reached, code c0000005", out)
        self.assertEqual(result.returncode, 7, out)

    def test_cpp_exception_passes_through_a_region(self):
        result, out, cases = run_guard_host(["throw"])
        self.assertEqual(cases, {"throw_caught_outside": "ok", "host_seh_after_recoveries": "ok"}, out)
        self.assertEqual(result.returncode, 0, out)


if __name__ == "__main__":
    vxtest.main()
