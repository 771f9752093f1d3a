"""The four stdcall exports called many times from a 32-bit host (emu32_stdcall_host.exe).

A callee that does not remove its arguments moves the host's stack pointer by 8 or 12 bytes per
call: the host, a GoogleTest program, checks it after every call, and the collector checks that
every argument arrived where it belongs (key, value, text and blob length), so a wrong order or a
shifted stack shows.
"""
import vxtest
from vxtest.e2e import E2ETest

ROUNDS = 150
I1, I3, I4 = 0x1234, 0x56, 0x789


def wire(key):
    return (I3 << 16) | key


class StdcallExports(E2ETest):
    def test_many_calls_keep_the_stack_and_the_arguments(self):
        self.conf()
        result = self.host([ROUNDS], name="emu32_stdcall_host.exe")
        out = result.stdout.decode("latin-1")
        # The checker's own case and the calls: both must have run and passed.
        self.assertIn("[  PASSED  ] 2 tests.", out)
        self.assertEqual(result.returncode, 0, out[-4000:])

        got = self.collector.datagrams(4 * ROUNDS, timeout=60)
        for d in got:
            self.assertEqual((d["identity1"], d["identity3"], d["identity4"]), (I1, I3, I4), d)
        by_kind = {}
        for d in got:
            by_kind.setdefault((d["kind"], d["records"][0]["wire_key"]), []).append(d["records"][0])
        rounds = range(ROUNDS)
        self.assertEqual([r["value"] for r in by_kind[("numbers", wire(5))]], list(rounds))
        self.assertEqual([r["value"] for r in by_kind[("numbers", wire(6))]],
                         [-r & 0xFFFFFFFF for r in rounds])
        self.assertEqual([r["text"] for r in by_kind[("text", wire(7))]], ["emu32 round"] * ROUNDS)
        self.assertEqual([r["length"] for r in by_kind[("blob", wire(8))]], [1 + r % 64 for r in rounds])
        self.assertEqual(self.collector.quiet(1.0), [], "refused and dropped calls send nothing")


if __name__ == "__main__":
    vxtest.main()
