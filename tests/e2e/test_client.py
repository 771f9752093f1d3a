"""The reporting client end to end: the real DLL under Wine, sending to the real collector."""
import struct

import vxtest
from vxtest.collector import Collector, raw
from vxtest.e2e import E2ETest


def header(kind, machine_id, i1, i3, i4, payload):
    return (struct.pack(">II", 1, kind) + machine_id.encode() + b"\0" +
            struct.pack(">HHHI", i4 & 0xFFFF, i3 & 0xFFFF, i1 & 0xFFFF, payload))


def wire(i3, key):
    return ((i3 << 16) | (key & 0xFFFF)) & 0xFFFFFFFF if i3 > 0 and key > 0 else key & 0xFFFFFFFF


def pattern(n):
    return bytes(ord("a") + i % 26 for i in range(n))


def echo(datagram, result, failed):
    """What the transport prints for one datagram."""
    out = []
    for i, b in enumerate(datagram):
        if i > 0 and i % 8 == 0:
            out.append("  ")
        if i > 0 and i % 16 == 0:
            out.append("\n")
        out.append("%02x " % b)
    out.append("\nSendOut:%d RepSendCount:%d\n" % (result, failed))
    return "".join(out).encode()


IDS = ["ids", 7, 20, 300]


class Reports(E2ETest):
    def test_counter_datagram_and_echo_byte_for_byte(self):
        self.conf()
        result = self.host(["init"] + IDS + ["counter", 5, 1000, 0])
        self.assertEqual(result.returncode, 0, result.stderr)
        (d,) = self.collector.datagrams(1)
        machine_id = d["machine_id"]
        self.assertRegex(machine_id, "^[0-9A-F]{16}$")
        expected = header(1, machine_id, 7, 20, 300, 8) + bytes.fromhex("00140005000003e8")
        self.assertEqual(raw(d), expected)
        self.assertEqual(result.stdout, echo(expected, 43, 0))

    def test_a_host_written_in_c(self):
        self.conf()
        result = self.host([], name="c_host.exe")
        self.assertEqual(result.values("c_host"), [0])
        counter, text, blob = self.collector.datagrams(3)
        self.assertEqual((counter["records"][0]["key"], counter["records"][0]["value"]), (5, 1000))
        self.assertEqual(text["records"][0]["text"], "from C")
        self.assertEqual(blob["records"][0]["length"], 2)

    def test_refusals(self):
        self.conf()
        result = self.host(["init", "str", 5, "early", "bin", 5, 4, "fin", "counter", 5, 1, 0] + IDS +
                           ["str", 3, "x", "strnull", 5, "str", 5, "", "bin", 4, 10, "binnull", 5,
                            "binneg", 5, "bin", 5, 0, "counter", 3, 9, 0, "int", 1, 9, 0, "fin"])
        self.assertEqual(result.values("str"), [-1, -1, -1])
        self.assertEqual(result.values("strnull"), [-1])
        self.assertEqual(result.values("bin"), [-1, -1, -1])
        self.assertEqual(result.values("binnull"), [-1])
        self.assertEqual(result.values("binneg"), [-1])
        self.assertEqual(result.values("fin"), [-1, 0])
        self.assertEqual(result.values("counter"), [0, 0])
        self.assertEqual(self.collector.quiet(1.5), [], "nothing refused or dropped may be sent")
        self.assertEqual(result.stdout, b"")

    def test_texts_and_blobs_are_cut(self):
        self.conf()
        result = self.host(["init"] + IDS + ["strn", 9, 600, "str", 10, "\u00e9t\u00e9", "bin", 11, 100000,
                                             "bin", 12, 70000])
        self.assertEqual(result.values("strn") + result.values("bin"), [0, 0, 0])
        text, short, blob, blob2 = self.collector.datagrams(4)
        self.assertEqual(text["kind"], "text")
        self.assertEqual(text["records"][0]["text"].encode("latin-1"), pattern(512))
        self.assertEqual(text["records"][0]["wire_key"], wire(20, 9))
        self.assertEqual(short["size"], 43 + short["records"][0]["length"])
        self.assertEqual(blob["size"], 64555, "the largest datagram arrives whole")
        self.assertEqual(blob["records"][0]["length"], 64512)
        with open(blob["records"][0]["file"], "rb") as f:
            self.assertEqual(f.read(), pattern(64512))
        self.assertEqual(blob2["payload_length"], 64520)

    def test_fin_sends_gathered_numbers(self):
        self.conf(CycleGatherOption=1)
        result = self.host(["init"] + IDS + ["counter", 5, 5, 1, "counter", 5, 2, 1, "counter", 6, 3, 1,
                                             "int", 7, 9, 1, "counter", 8, 1, 2, "fin"])
        first, final = self.collector.datagrams(2)
        # The first gathered report of a process flushes at once and resets its value.
        self.assertEqual([(r["key"], r["value"]) for r in first["records"]], [(5, 5)])
        self.assertEqual([(r["key"], r["value"]) for r in final["records"]], [(5, 2), (6, 3), (7, 9)])
        self.assertEqual(result.values("fin"), [0])
        self.assertEqual(self.collector.quiet(1.0), [])

    def test_without_gathering_every_mode_sends_at_once(self):
        self.conf(CycleGatherOption=0)
        self.host(["init"] + IDS + ["counter", 5, 1, 1, "counter", 6, 1, 7, "int", 7, 3, 1, "fin"])
        got = self.collector.datagrams(3)
        self.assertEqual([d["records"][0]["key"] for d in got], [5, 6, 7])
        self.assertEqual(self.collector.quiet(1.0), [], "Fin has nothing gathered to send")


class Servers(E2ETest):
    def test_server_port_is_the_default_for_plain_hosts(self):
        self.conf(ServerHost="127.0.0.1", ServerPort=self.collector.port)
        self.host(["init"] + IDS + ["counter", 5, 1, 0])
        self.assertEqual(len(self.collector.datagrams(1)), 1)

    def test_one_server_of_the_list_gets_everything(self):
        second = Collector(self.dir + "/second")
        try:
            self.conf(ServerHost=";127.0.0.1:%d;;127.0.0.1:%d;" % (self.collector.port, second.port))
            self.host(["init"] + IDS + ["counter", 5, 1, 0, "counter", 6, 1, 0, "str", 7, "x"])
            a, b = self.collector.quiet(2.0), second.quiet(0.5)
            self.assertEqual(sorted([len(a), len(b)]), [0, 3])
        finally:
            second.close()

    def test_no_usable_server_sends_and_prints_nothing(self):
        for hosts in [";;", "not-an-address", "255.255.255.255"]:
            with self.subTest(hosts=hosts):
                self.conf(ServerHost=hosts)
                result = self.host(["init"] + IDS + ["counter", 5, 1, 0, "str", 6, "x"])
                self.assertEqual(result.values("str"), [0])
                self.assertEqual(result.stdout, b"")
        self.assertEqual(self.collector.quiet(1.0), [])

    def test_failed_sends_are_tried_and_reported(self):
        # Port 65536 is kept in 16 bits as port 0, to which no datagram can be sent.
        for repeat, tries in [(1, 5), (3, 5), (0, 1)]:
            with self.subTest(repeat=repeat):
                self.conf(ServerHost="127.0.0.1:65536", ClientRepeatSend=repeat)
                result = self.host(["init"] + IDS + ["counter", 5, 1000, 0])
                machine_id = self._machine_id()
                expected = header(1, machine_id, 7, 20, 300, 8) + bytes.fromhex("00140005000003e8")
                self.assertEqual(result.stdout, echo(expected, -1, tries))

    def _machine_id(self):
        self.conf()
        self.host(["init"] + IDS + ["counter", 2, 2, 0])
        return self.collector.datagrams(1)[0]["machine_id"]


def mix_machine_id(adapter, serial):
    v = [(serial >> shift) & 0xFF for shift in (0, 8, 16, 24)]
    m = adapter
    mixed = [m[0] + v[2], m[1], m[2] + v[3], m[3] + v[0], m[4], m[5] + v[2], v[0], v[1]]
    return "".join("%02X" % (b & 0xFF) for b in mixed)


class MachineId(E2ETest):
    def test_identifier_mixes_an_adapter_address_and_the_c_serial(self):
        self.conf()
        self.host(["init"] + IDS + ["counter", 5, 1, 0])
        machine_id = self.collector.datagrams(1)[0]["machine_id"]
        facts = self.host([], name="machine_facts.exe").stdout.decode().split("\n")
        serial_words = [line.split()[1] for line in facts if line.startswith("serial ")]
        serial = int(serial_words[0], 16) if serial_words and serial_words[0] != "none" else 0
        adapters = [bytes.fromhex("".join(line.split()[2:])) for line in facts if line.startswith("adapter ")]
        # Wine answers the NetBIOS status query of LANA 0 with one of the machine's adapters (here the
        # first one that is up); a machine without any contributes zero bytes.
        candidates = {mix_machine_id(a, serial): a.hex() for a in adapters + [bytes(6)]}
        self.assertIn(machine_id, candidates, "serial %08X, adapters %r" % (serial, adapters))
        up = [bytes.fromhex("".join(line.split()[2:])) for line in facts if line.startswith("adapter up")]
        if up:
            self.assertEqual(machine_id, mix_machine_id(up[0], serial))


class Threads(E2ETest):
    def test_concurrent_immediate_counters_are_all_sent_whole(self):
        self.conf()
        self.host(["init"] + IDS + ["threads", 4, 40, 0, 100])
        got = self.collector.datagrams(160, timeout=30)
        keys = sorted(d["records"][0]["key"] for d in got)
        self.assertEqual(keys, sorted([100, 101, 102, 103] * 40))
        self.assertTrue(all(d["size"] == 43 for d in got))
        self.assertEqual(self.collector.quiet(0.5), [])

    def test_concurrent_gathered_counters_lose_nothing(self):
        self.conf(CycleGatherOption=1)
        self.host(["init"] + IDS + ["threads", 4, 2000, 1, 100, "fin"])
        got = self.collector.datagrams(2, timeout=30)
        totals = {}
        for d in got:
            for r in d["records"]:
                totals[r["key"]] = totals.get(r["key"], 0) + r["value"]
        self.assertEqual(totals, {100: 2000, 101: 2000, 102: 2000, 103: 2000})


if __name__ == "__main__":
    vxtest.main()
