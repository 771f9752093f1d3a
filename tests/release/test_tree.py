"""The release tree and archive tools/release.sh makes, read without running Windows programs.

  VXIDENT_RELEASE_TREE     the unpacked release (OUT/VXIdent-<version>)
  VXIDENT_RELEASE_ARCHIVE  the archive made beside it
  VXIDENT_RELEASE_VERSION  the version it must carry, as "1.2.3"

The shape is compared against expected_tree.txt: a path added, moved or dropped fails until that
list says so, because studios' build scripts depend on it.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile
import zlib

import vxtest
from vxtest import settings

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
TREE = settings.RELEASE_TREE
ARCHIVE = settings.RELEASE_ARCHIVE
VERSION = settings.RELEASE_VERSION
OBJDUMP = {"x86": "i686-w64-mingw32-objdump", "x64": "x86_64-w64-mingw32-objdump"}
EXPORTS = ["VXIdent_Init", "VXIdent_Set_Counter", "VXIdent_Set_Int", "VXIdent_Set_Str", "VXIdent_Set_Bin",
           "VXIdent_Fin"]
# Files that are the source tree's own, copied as they are.
COPIED = {"include/VXIdent.h": "include/VXIdent.h", "docs/integrating.md": "docs/integrating.md",
          "samples/HVInfo.conf": "samples/HVInfo.conf", "samples/HVModule.dat": "samples/HVModule.dat",
          "samples/Version.dat": "samples/Version.dat"}


def run(*command):
    return subprocess.run(command, check=True, stdout=subprocess.PIPE, text=True, timeout=120).stdout


def expected_paths():
    with open(os.path.join(HERE, "expected_tree.txt"), encoding="utf-8") as f:
        return [line.strip() for line in f if line.strip()]


def tree_path(relative):
    return os.path.join(TREE, *relative.split("/"))


def read(path):
    with open(path, "rb") as f:
        return f.read()


def image_base(dll):
    return int(re.search(r"ImageBase: (0x[0-9A-Fa-f]+)", run("llvm-readobj", "--file-headers", dll)).group(1), 16)


def export_rvas(dll):
    text = run("llvm-readobj", "--coff-exports", dll)
    return {name: int(rva, 16) for name, rva in re.findall(r"Name: (\S+)\s+RVA: (0x[0-9A-Fa-f]+)", text)}


def section_bytes(path, section):
    """A section's bytes from llvm-readobj's hex dump (llvm-objcopy cannot dump COFF sections)."""
    text = run("llvm-readobj", "--hex-dump=" + section, path)
    data = bytearray()
    for line in text.splitlines():
        m = re.match(r"^0x[0-9a-f]+ ((?:[0-9a-f]{2,8} ?)+)", line)
        if m:
            data += bytes.fromhex(m.group(1).replace(" ", ""))
    return bytes(data)


@unittest.skipUnless(TREE and ARCHIVE, "VXIDENT_RELEASE_TREE and VXIDENT_RELEASE_ARCHIVE are not set")
class ReleaseShape(unittest.TestCase):

    def test_tree_holds_exactly_the_expected_paths(self):
        found = sorted(os.path.relpath(os.path.join(d, f), TREE).replace(os.sep, "/")
                       for d, _dirs, files in os.walk(TREE) for f in files)
        self.assertEqual(found, sorted(expected_paths()))

    def test_archive_holds_the_tree_under_its_versioned_folder(self):
        top = "VXIdent-%s" % VERSION
        self.assertEqual(os.path.basename(ARCHIVE), top + "-windows.zip")
        self.assertEqual(os.path.basename(TREE), top)
        with zipfile.ZipFile(ARCHIVE) as archive:
            files = sorted(n for n in archive.namelist() if not n.endswith("/"))
            self.assertEqual(files, sorted(top + "/" + p for p in expected_paths()))
            for path in expected_paths():
                self.assertEqual(archive.read(top + "/" + path), read(tree_path(path)), path)

    def test_source_files_are_shipped_unchanged(self):
        for shipped, source in COPIED.items():
            self.assertEqual(read(tree_path(shipped)), read(os.path.join(ROOT, source)), shipped)

    def test_package_version_is_the_release_version(self):
        text = read(tree_path("cmake/VXIdentConfigVersion.cmake")).decode()
        self.assertIn('set(PACKAGE_VERSION "%s")' % VERSION, text)


@unittest.skipUnless(TREE, "VXIDENT_RELEASE_TREE is not set")
class ShippedDlls(unittest.TestCase):

    def test_exports_imports_and_calling_convention_survive_the_stripping(self):
        entry = os.path.join(ROOT, "tests", "vxtest")
        for arch, stdcall in (("x86", "1"), ("x64", "0")):
            with self.subTest(arch=arch):
                env = dict(os.environ, VXIDENT_OBJDUMP=OBJDUMP[arch], VXIDENT_STDCALL=stdcall,
                           VXIDENT_DLL=tree_path("bin/%s/VXIdent.dll" % arch))
                completed = subprocess.run([sys.executable, entry, "static/test_dll_tables.py"], env=env,
                                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120)
                self.assertEqual(completed.returncode, 0, completed.stdout)

    def test_dll_carries_no_debug_information_and_names_its_symbols_by_checksum(self):
        for arch in ("x86", "x64"):
            with self.subTest(arch=arch):
                dll = tree_path("bin/%s/VXIdent.dll" % arch)
                symbols = tree_path("symbols/%s/VXIdent.dll.debug" % arch)
                sections = re.findall(r"Name: (\S+)", run("llvm-readobj", "--sections", dll))
                self.assertEqual([s for s in sections if s.startswith(".debug")], [])
                self.assertIn(".debug_info", re.findall(r"Name: (\S+)", run("llvm-readobj", "--sections", symbols)))
                # .gnu_debuglink: the file name, zero-padded to 4 bytes, then its CRC-32, little-endian.
                link = section_bytes(dll, ".gnu_debuglink")
                name_end = link.index(b"\0")
                self.assertEqual(link[:name_end], b"VXIdent.dll.debug")
                crc_at = (name_end + 4) & ~3
                self.assertEqual(int.from_bytes(link[crc_at:crc_at + 4], "little"), zlib.crc32(read(symbols)))

    def test_every_export_resolves_to_its_definition(self):
        """The symbols of both architectures, checked at the exports' entry points."""
        self.assertIsNotNone(shutil.which("llvm-symbolizer"), "llvm-symbolizer is missing: run tools/setup.sh")
        with open(os.path.join(ROOT, "client", "exports_win.cpp"), encoding="utf-8") as f:
            source = f.read().splitlines()
        for arch in ("x86", "x64"):
            dll = tree_path("bin/%s/VXIdent.dll" % arch)
            base, rvas = image_base(dll), export_rvas(dll)
            self.assertEqual(sorted(rvas), sorted(EXPORTS))
            for name in EXPORTS:
                with self.subTest(arch=arch, export=name):
                    out = run("llvm-symbolizer", "--obj=" + tree_path("symbols/%s/VXIdent.dll.debug" % arch),
                              "0x%x" % (base + rvas[name])).splitlines()
                    function, place = out[0], out[1]
                    file, line, _column = place.rsplit(":", 2)
                    self.assertEqual(function, name)
                    self.assertEqual(os.path.realpath(file), os.path.join(ROOT, "client", "exports_win.cpp"))
                    self.assertIn(name + "(", source[int(line) - 1])


# What VXIdentConfig.cmake picks for each consumer: (pointer size, how the toolchain shows itself,
# architecture folder, import library), or None where it must refuse.
PACKAGE_CASES = [
    (4, "set(MSVC 1)", "x86", "VXIdent.lib"),
    (8, "set(MSVC 1)", "x64", "VXIdent.lib"),
    (8, "set(CMAKE_C_SIMULATE_ID MSVC)", "x64", "VXIdent.lib"),     # clang for *-windows-msvc
    (4, "set(CMAKE_CXX_SIMULATE_ID MSVC)", "x86", "VXIdent.lib"),   # clang-cl, C++ only
    (4, "", "x86", "libVXIdent.dll.a"),                             # MinGW
    (8, "", "x64", "libVXIdent.dll.a"),
    (16, "", None, None),
]

PROBE = """cmake_minimum_required(VERSION 3.20)
project(probe NONE)
set(WIN32 1)
set(CMAKE_SIZEOF_VOID_P {size})
{toolchain}
find_package(VXIdent {version} PATHS "{tree}" NO_DEFAULT_PATH)
if(VXIdent_FOUND)
  get_target_property(dll VXIdent::VXIdent IMPORTED_LOCATION)
  get_target_property(implib VXIdent::VXIdent IMPORTED_IMPLIB)
  get_target_property(include VXIdent::VXIdent INTERFACE_INCLUDE_DIRECTORIES)
  message(STATUS "picked=${{dll}}|${{implib}}|${{include}}|${{VXIdent_SYMBOLS}}")
else()
  message(STATUS "picked=none")
endif()
"""


@unittest.skipUnless(TREE, "VXIDENT_RELEASE_TREE is not set")
class PackageChoice(unittest.TestCase):
    """The package's choices for consumers this machine cannot build with, by configuring a probe
    project that presents itself as each of them; the MinGW consumer is really built elsewhere."""

    def pick(self, size, toolchain, version="1"):
        with tempfile.TemporaryDirectory(prefix="vxident-package-") as work:
            with open(os.path.join(work, "CMakeLists.txt"), "w") as f:
                f.write(PROBE.format(size=size, toolchain=toolchain, version=version, tree=TREE))
            out = subprocess.run(["cmake", "-S", work, "-B", os.path.join(work, "b")], stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, text=True, timeout=120)
            self.assertEqual(out.returncode, 0, out.stdout)
            picked = re.search(r"picked=(.*)", out.stdout).group(1)
            return None if picked == "none" else picked.split("|")

    def test_architecture_and_toolchain_pick_the_files(self):
        tree = os.path.realpath(TREE)
        for size, toolchain, arch, implib in PACKAGE_CASES:
            with self.subTest(size=size, toolchain=toolchain):
                picked = self.pick(size, toolchain)
                if arch is None:
                    self.assertIsNone(picked)
                    continue
                self.assertEqual([os.path.realpath(p) for p in picked], [
                    os.path.join(tree, "bin", arch, "VXIdent.dll"), os.path.join(tree, "lib", arch, implib),
                    os.path.join(tree, "include"), os.path.join(tree, "symbols", arch, "VXIdent.dll.debug")])

    def test_another_major_version_is_refused(self):
        major = int(VERSION.split(".")[0]) if VERSION else 1
        self.assertIsNotNone(self.pick(4, "", version=str(major)))
        self.assertIsNone(self.pick(4, "", version=str(major + 1)))


if __name__ == "__main__":
    vxtest.main()
