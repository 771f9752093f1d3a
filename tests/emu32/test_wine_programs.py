"""GoogleTest programs of the Windows flavours, built for i686, run under 32-bit Wine.

On the host only their win64 builds run. The ones listed here exercise code whose i686 form differs
from the x86_64 one in ways that matter (the guard's assembly and its SEH chain), and fit the time
of one boot.
"""
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import vxharness  # noqa: E402

PROGRAMS = ["guard_test.exe"]


class WinePrograms(unittest.TestCase):
    def test_programs_pass_on_i686(self):
        for name in PROGRAMS:
            with self.subTest(program=name):
                self.assertTrue(os.path.exists(vxharness.program(name)), name + " is not built")
                try:
                    result = vxharness.run_host(name, ["--gtest_brief=1"], cwd="/tmp")
                except subprocess.TimeoutExpired:
                    self.fail("%s did not end within %d s" % (name, vxharness.HOST_TIMEOUT))
                out = result.stdout.decode("latin-1") + result.stderr
                self.assertEqual(result.returncode, 0, out)
                self.assertIn("[  PASSED  ]", out)


if __name__ == "__main__":
    vxharness.main()
