"""Reports from game threads made with small stacks: the DLL under Wine, the collector as the peer."""
import os
import re

import vxtest
from e2e.test_client import IDS, echo, pattern
from vxtest import settings
from vxtest.collector import raw
from vxtest.e2e import E2ETest

LARGEST_BLOB = 64512
SMALL_STACK = 128 * 1024
EXPORTS = ["VXIdent_Init", "VXIdent_Set_Counter", "VXIdent_Set_Int", "VXIdent_Set_Str", "VXIdent_Set_Bin",
           "VXIdent_Fin"]


class SmallStacks(E2ETest):
    def test_the_largest_blob_from_a_thread_with_a_128_kib_stack(self):
        for with_stdout in (True, False):
            with self.subTest(stdout=with_stdout):
                self.conf()
                quiet = [] if with_stdout else ["nostdout"]
                result = self.host(["init"] + IDS + quiet + ["binthread", 128, 11, LARGEST_BLOB])
                self.assertEqual(result.returncode, 0, "the thread died: %s" % result.stderr)
                self.assertEqual(result.values("binthread"), [0])
                self.assertLessEqual(result.values("usable_stack_kib")[0], 128)
                (d,) = self.collector.datagrams(1)
                self.assertEqual((d["records"][0]["key"], d["records"][0]["length"]), (11, LARGEST_BLOB))
                with open(d["records"][0]["file"], "rb") as f:
                    self.assertEqual(f.read(), pattern(LARGEST_BLOB))
                # The echo of the largest datagram, written piece by piece, reads as one.
                self.assertEqual(result.stdout, echo(raw(d), len(raw(d)), 0) if with_stdout else b"")

    def test_every_export_measured_leaves_room_on_a_128_kib_stack(self):
        """The stack measure of benchmarks/client, whose table is printed here for the log."""
        if not os.path.isfile(settings.program("export_stack_use.exe")):
            self.fail("export_stack_use.exe is not built")
        result = self.host([], name="export_stack_use.exe")
        self.assertEqual(result.returncode, 0, result.stderr)
        table = result.stdout.decode("latin-1")
        print(table)
        largest = dict(re.findall(r"^  (VXIdent_\w+) +(\d+) \(", table, re.M))
        self.assertEqual(sorted(largest), sorted(EXPORTS))
        for name, used in largest.items():
            # A quarter of the stack stays for the game's own frames above the call.
            self.assertLess(int(used), SMALL_STACK * 3 // 4, name)


if __name__ == "__main__":
    vxtest.main()
