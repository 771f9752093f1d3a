"""The Windows flavours' own GoogleTest programs, built for i686, run under 32-bit Wine.

On the host only their win64 builds run. These exercise code whose i686 form differs from the
x86_64 one in ways that matter: the guard's assembly and its SEH chain, the probes' cpuid from
32-bit code, the module's 32-bit layouts and its software exception, the encoder's kernels on the
x87 unit. The programs and the environment each needs come from the build's list; each program's
exit code is its verdict.
"""
import os
import subprocess
import tempfile
import unittest

import vxtest
from vxtest import settings, test_list
from vxtest.hosts import run_host


def environment_for(program):
    """The program's own variables over this machine's; DLL overrides add to the machine's."""
    env = dict(program["environment"])
    ours = os.environ.get("WINEDLLOVERRIDES")
    if ours and "WINEDLLOVERRIDES" in env:
        env["WINEDLLOVERRIDES"] += ";" + ours
    return env


def in_run_order(programs):
    """Programs that change the machine (and get a prefix of their own on the host) share this
    machine's one prefix, so they run after the others."""
    return sorted(programs, key=lambda program: program["own_prefix"])


class WinePrograms(unittest.TestCase):
    def test_programs_pass_on_i686(self):
        programs = in_run_order(test_list.wine_programs())
        self.assertNotEqual(programs, [], "the build lists no Windows test programs")
        for program in programs:
            name = program["file"]
            with self.subTest(program=name):
                self.assertTrue(os.path.exists(settings.program(name)), name + " is not built")
                try:
                    with tempfile.TemporaryDirectory(prefix="vxident-emu32-") as work:
                        result = run_host(name, ["--gtest_brief=1"], cwd=work, env=environment_for(program))
                except subprocess.TimeoutExpired:
                    self.fail("%s did not end within %d s" % (name, settings.HOST_TIMEOUT))
                out = result.stdout.decode("latin-1") + result.stderr
                print(out[-4000:])
                self.assertEqual(result.returncode, 0, out)


if __name__ == "__main__":
    vxtest.main()
