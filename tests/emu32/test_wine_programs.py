"""The Windows flavours' own test programs, built for i686, run under 32-bit Wine.

On the host only their win64 builds run. These exercise code whose i686 form differs from the
x86_64 one in ways that matter: the guard's assembly and its SEH chain, the probes' cpuid from
32-bit code, the module's 32-bit layouts and its software exception. Each program's exit code is
its verdict.
"""
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import vxharness  # noqa: E402

NO_WEB = "mscoree,mshtml="
# name, arguments, environment: as the win64 flavour registers them. The registry test writes and
# deletes the keys the probes read, so it runs last.
PROGRAMS = [
    ("guard_test.exe", ["--gtest_brief=1"], {}),
    ("crashmodule_wine_test.exe", ["--gtest_brief=1"], {}),
    # Wine answers version queries for files named like its own DLLs from its built-ins unless
    # these load natively.
    ("hwinfo_machine_win_test.exe", [], {"WINEDLLOVERRIDES": "d3d9,dpnet,d3d8,ddraw,dinput,dplayx,d3drg8x=n;" + NO_WEB}),
    ("hwinfo_registry_win_test.exe", [], {}),
]


class WinePrograms(unittest.TestCase):
    def test_programs_pass_on_i686(self):
        for name, args, env in PROGRAMS:
            with self.subTest(program=name):
                self.assertTrue(os.path.exists(vxharness.program(name)), name + " is not built")
                try:
                    with tempfile.TemporaryDirectory(prefix="vxident-emu32-") as work:
                        result = vxharness.run_host(name, args, cwd=work, env=env)
                except subprocess.TimeoutExpired:
                    self.fail("%s did not end within %d s" % (name, vxharness.HOST_TIMEOUT))
                out = result.stdout.decode("latin-1") + result.stderr
                self.assertEqual(result.returncode, 0, out)


if __name__ == "__main__":
    vxharness.main()
