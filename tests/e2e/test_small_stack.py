"""Reports from game threads made with small stacks: the DLL under Wine, the collector as the peer."""
import vxharness
from test_client import IDS, echo, pattern
from vxharness import E2ETest, raw

LARGEST_BLOB = 64512


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


if __name__ == "__main__":
    vxharness.main()
