"""The hardware profile from the 32-bit DLL, checked against the emulated machine it describes.

The probes issue cpuid from i686 code (where ebx is easily lost) and read the registry and the
memory status through 32-bit Wine; the machine's own /proc/cpuinfo and /proc/meminfo say what they
must find.
"""
import vxtest
from vxtest.e2e import E2ETest

FIELDS = ["id", "cname", "cvendor", "cmodel", "cspeed_reg", "cmmx", "csse", "csse2", "c3dnow", "cht",
          "winver", "vname_reg", "vvendor", "vmodel", "mem1", "mem2", "dx"]
# The first rows of the client's vendor table: an emulated processor is one of these or OTHER.
VENDORS = [("intel", "INTEL"), ("amd", "AMD"), ("umc", "UMC"), ("cyrix", "CYRIX"), ("nexgen", "NEXGEN"),
           ("centaur", "CENTAUR"), ("rise", "RISE"), ("tmx86", "TMX86"), ("nsc", "NSC")]


def first_cpu():
    info = {}
    with open("/proc/cpuinfo") as f:
        for line in f:
            if not line.strip():
                break
            name, _, value = line.partition(":")
            info[name.strip()] = value.strip()
    return info


def mem_total_mib():
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal:"):
                return int(line.split()[1]) // 1024
    raise AssertionError("no MemTotal in /proc/meminfo")


def sanitised(text, cut):
    text = text[:cut]
    for c in "=&?":
        text = text.replace(c, "-")
    return text


class HardwareProfile(E2ETest):
    def test_profile_describes_this_machine(self):
        self.conf()
        result = self.host(["init", "ids", 7, 20, 300, "str", 18, ""])
        self.assertEqual(result.values("str"), [0], result.stderr)
        (d,) = self.collector.datagrams(1)
        record = d["records"][0]
        self.assertEqual((d["kind"], record["key"]), ("text", 18))
        pairs = [field.split("=", 1) for field in record["text"].split("&")]
        self.assertEqual([p[0] for p in pairs], FIELDS, record["text"])
        profile = dict(pairs)

        cpu = first_cpu()
        flags = set(cpu["flags"].split())
        vendor = next((token for key, token in VENDORS if key in cpu["vendor_id"].lower()), "OTHER")
        self.assertEqual(profile["id"], d["machine_id"])
        self.assertEqual(profile["cname"], sanitised(cpu["model name"], 64))
        self.assertEqual(profile["cvendor"], vendor)
        # 3DNow! is read from bit 30 of the extended features, which Linux calls 3dnowext.
        self.assertEqual({name: profile[name] for name in ["cmmx", "csse", "csse2", "c3dnow", "cht"]},
                         {"cmmx": str(int("mmx" in flags)), "csse": str(int("sse" in flags)),
                          "csse2": str(int("sse2" in flags)), "c3dnow": str(int("3dnowext" in flags)),
                          "cht": str(int("ht" in flags))})
        self.assertNotEqual(profile["cmodel"], "")
        for name in ["cspeed_reg", "winver", "vmodel", "mem1", "mem2", "dx"]:
            self.assertRegex(profile[name], r"^-?\d+$", name)
        self.assertGreater(int(profile["winver"]), 5000)
        # Wine reports the machine's memory, less what the kernel keeps for itself.
        self.assertLessEqual(abs(int(profile["mem1"]) - mem_total_mib()), 64, profile["mem1"])


if __name__ == "__main__":
    vxtest.main()
