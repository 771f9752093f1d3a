"""The hardware profile end to end: the real DLL under Wine sends it under key 18, and it agrees with
what hardware_facts.exe reads of the machine itself."""
import struct

import vxtest
from vxtest.collector import raw
from vxtest.e2e import E2ETest
from vxtest.hosts import run_host

IDS = ["ids", 7, 20, 300]
KEY_HARDWARE_PROFILE = 18
FIELDS = ["id", "cname", "cvendor", "cmodel", "cspeed_reg", "cmmx", "csse", "csse2", "c3dnow", "cht",
          "winver", "vname_reg", "vvendor", "vmodel", "mem1", "mem2", "dx"]

# The processor vendor table, in its order: key in the lower-cased vendor identification, token.
CPU_VENDORS = [("intel", "INTEL"), ("amd", "AMD"), ("umc", "UMC"), ("cyrix", "CYRIX"), ("nexgen", "NEXGEN"),
               ("centaur", "CENTAUR"), ("rise", "RISE"), ("tmx86", "TMX86"), ("nsc", "NSC")]
MODEL_LETTERS = {"INTEL": "I", "AMD": "A", "UMC": "U", "CYRIX": "C", "NEXGEN": "N", "CENTAUR": "E", "RISE": "R",
                 "TMX86": "T", "NSC": "N", "OTHER": "O"}


def sanitised(text, cut):
    text = text[:cut]
    for c in "=&?":
        text = text.replace(c, "-")
    return text


def facts(test):
    result = run_host("hardware_facts.exe", [], test.dir)
    test.assertEqual(result.returncode, 0, result.stderr)
    lines = result.stdout.decode("latin-1").splitlines()
    return dict((line.split(" ", 1) + [""])[:2] for line in lines)


class HardwareProfile(E2ETest):
    def profile_datagram(self):
        self.conf()
        result = self.host(["init"] + IDS + ["str", KEY_HARDWARE_PROFILE, ""])
        self.assertEqual(result.values("str"), [0], result.stderr)
        (d,) = self.collector.datagrams(1)
        self.assertEqual(self.collector.quiet(1.0), [], "the profile is one datagram")
        return d

    def test_sent_under_key_18_in_one_datagram(self):
        d = self.profile_datagram()
        data = raw(d)
        self.assertEqual(d["kind"], "text")
        profile = data[43:]
        self.assertGreater(len(profile), 0)
        self.assertLessEqual(len(profile), 512)
        self.assertEqual(len(data), 43 + len(profile))
        self.assertNotIn(b"\0", profile, "the text goes without its terminator")
        payload_length, = struct.unpack(">I", data[31:35])
        wire_key, length = struct.unpack(">II", data[35:43])
        self.assertEqual(payload_length, 8 + len(profile))
        self.assertEqual(length, len(profile))
        self.assertEqual(wire_key, (20 << 16) | KEY_HARDWARE_PROFILE)

        text = profile.decode("latin-1")
        names = [field.split("=", 1)[0] for field in text.split("&")]
        self.assertEqual(names, FIELDS, text)
        # The machine identifier of the header heads the profile.
        self.assertEqual(d["machine_id"], data[8:24].decode())
        self.assertTrue(text.startswith("id=%s&" % d["machine_id"]), text)

    def test_agrees_with_what_the_machine_says(self):
        values = dict(field.split("=", 1) for field in raw(self.profile_datagram())[43:].decode("latin-1").split("&"))
        f = facts(self)

        name = f["brand"].strip(" ") or f["registry_name"].strip(" ") or "Unknow CPU"
        self.assertEqual(values["cname"], sanitised(name, 64))
        lowered = f["vendor_id"].lower()
        vendor = next((token for key, token in CPU_VENDORS if key in lowered), "OTHER")
        self.assertEqual(values["cvendor"], vendor)
        self.assertTrue(values["cmodel"].startswith(MODEL_LETTERS[vendor]), values["cmodel"])
        self.assertLessEqual(len(values["cmodel"]), 5)
        self.assertEqual(values["cspeed_reg"], f["mhz"])
        for field, fact in [("cmmx", "mmx"), ("csse", "sse"), ("csse2", "sse2"), ("c3dnow", "3dnow"),
                            ("cht", "ht")]:
            self.assertEqual(values[field], f[fact], field)

        major, minor = (int(v) for v in f["winver"].split())
        self.assertEqual(values["winver"], str(major * 1000 + minor % 1000))
        self.assertEqual(values["mem1"], str(int(f["mem_phys"]) >> 20))
        self.assertEqual(values["mem2"], str(int(f["mem_page"]) >> 20))

        gpu = f["gpu"] or "UnkowGPU"
        self.assertEqual(values["vname_reg"], sanitised(gpu, 64))
        if gpu == "UnkowGPU":  # Wine keeps no "Device Description" for its adapter
            self.assertEqual((values["vvendor"], values["vmodel"]), ("UNKNOW", "0"))
        self.assertIn(int(values["vmodel"]), range(11))
        if f["d3d9_versioned"] == "1":
            self.assertEqual(values["dx"], "90000")

    def test_the_same_text_every_time_it_is_asked_for(self):
        self.conf()
        result = self.host(["init"] + IDS + ["str", KEY_HARDWARE_PROFILE, "", "str", KEY_HARDWARE_PROFILE, ""])
        self.assertEqual(result.values("str"), [0, 0])
        first, second = self.collector.datagrams(2)
        self.assertEqual(raw(first), raw(second))


if __name__ == "__main__":
    vxtest.main()
