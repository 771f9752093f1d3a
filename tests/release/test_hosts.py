"""The release's hosts run the way a game does, and their reports reach the collector.

Both programs were built by build_hosts.sh against the unpacked release: nocrt_host.exe with clang
and lld-link against lib/<arch>/VXIdent.lib, no C runtime and its own entry point;
find_package_host.exe with MinGW through find_package(VXIdent). Each sits beside the release's DLL
and calls the six exports; the collector must see every argument where it belongs.

  VXIDENT_RELEASE_HOSTS  folder with an x86/ and an x64/ folder of hosts (build_hosts.sh's OUT)
  VXIDENT_RELEASE_ARCH   which of them this Wine runs: x64 under wine64 (the default), x86 in the
                         emulated 32-bit machine
"""
import os
import re
import shutil
import subprocess
import unittest

import vxtest
from vxtest import settings
from vxtest.collector import raw
from vxtest.e2e import E2ETest

HOSTS = settings.RELEASE_HOSTS
ARCH = settings.RELEASE_ARCH

# From hosts/six_exports.h and the two hosts.
IDENTITY3, IDENTITY4 = 0x5233, 0x5234
IDENTITY1 = {"nocrt_host.exe": 0x4E43, "find_package_host.exe": 0x4650}
BLOB = bytes([0xB1, 0x0B, 0x00, 0xFF, 0x42])
EXPORTS = ["VXIdent_Fin", "VXIdent_Init", "VXIdent_Set_Bin", "VXIdent_Set_Counter", "VXIdent_Set_Int",
           "VXIdent_Set_Str"]
CALLS = ["init", "identity1", "identity3", "identity4", "counter", "int", "str", "bin", "fin"]


def wire(key):
    return (IDENTITY3 << 16) | key


@unittest.skipUnless(HOSTS, "VXIDENT_RELEASE_HOSTS is not set: the release hosts were not offered")
class ReleaseHosts(E2ETest):

    def run_release_host(self, name):
        path = os.path.join(HOSTS, ARCH, name)
        self.assertTrue(os.path.isfile(path), "%s was not built" % path)
        self.assertTrue(os.path.isfile(os.path.join(HOSTS, ARCH, "VXIdent.dll")), "no DLL beside the hosts")
        self.conf()
        return self.host([], name=path)

    def check_reports(self, name):
        result = self.run_release_host(name)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual([k for k, _ in result.results], CALLS, result.stderr)
        for call in CALLS:
            self.assertEqual(result.values(call), [0], call)

        got = self.collector.datagrams(4, timeout=30)
        for d in got:
            self.assertEqual((d["identity1"], d["identity3"], d["identity4"]),
                             (IDENTITY1[name], IDENTITY3, IDENTITY4), d)
        by_kind = {d["kind"]: d for d in got if d["kind"] != "numbers"}
        numbers = [(d["records"][0]["wire_key"], d["records"][0]["value"]) for d in got if d["kind"] == "numbers"]
        self.assertEqual(sorted(numbers), [(wire(5), 1000), (wire(6), 0xFFFFFFF9)])
        text = by_kind["text"]["records"][0]
        self.assertEqual((text["wire_key"], text["text"]), (wire(7), "release host"))
        blob = by_kind["blob"]
        self.assertEqual((blob["records"][0]["wire_key"], blob["records"][0]["length"]), (wire(8), len(BLOB)))
        self.assertEqual(raw(blob)[43:], BLOB)
        self.assertEqual(self.collector.quiet(1.0), [], "VXIdent_Fin with nothing gathered sends nothing")

    def test_host_without_runtime_linked_by_lld_link(self):
        self.check_reports("nocrt_host.exe")

    def test_find_package_consumer(self):
        self.check_reports("find_package_host.exe")


    @unittest.skipUnless(shutil.which("llvm-readobj"), "llvm-readobj is not installed (tools/setup.sh installs it)")
    def test_hosts_import_the_plain_export_names_and_no_runtime(self):
        """Both architectures, read statically: on x86 the import library must turn
        _VXIdent_Set_Counter@12 into an import of VXIdent_Set_Counter, or the host would link and
        then not load."""
        for arch, name, dlls in ((a, n, d) for a in ("x86", "x64") for n, d in (
                ("nocrt_host.exe", {"vxident.dll", "kernel32.dll"}), ("find_package_host.exe", None))):
            with self.subTest(arch=arch, host=name):
                text = subprocess.run(["llvm-readobj", "--coff-imports", os.path.join(HOSTS, arch, name)],
                                      check=True, stdout=subprocess.PIPE, text=True, timeout=60).stdout
                imports = {}
                for block in text.split("Import {")[1:]:
                    dll = re.search(r"Name: (\S+)", block).group(1).lower()
                    imports[dll] = sorted(re.findall(r"Symbol: (\S+)", block))
                self.assertEqual(imports.get("vxident.dll"), EXPORTS)
                if dlls is not None:
                    self.assertEqual(set(imports), dlls, "a host without a C runtime imports no runtime DLL")


if __name__ == "__main__":
    vxtest.main()
