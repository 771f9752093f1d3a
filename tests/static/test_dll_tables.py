"""Static checks of a built VXIdent.dll with objdump: what a host links against.

  VXIDENT_OBJDUMP=TOOL VXIDENT_DLL=PATH [VXIDENT_STDCALL=1] python3 tests/vxtest static/test_dll_tables.py

The export table holds exactly the six undecorated names, the DLL imports only Windows' own system
DLLs, and with VXIDENT_STDCALL=1 (i686) each Set export removes its own arguments (a `ret` with 12,
12, 8 and 12 bytes).
"""
import re
import subprocess
import unittest

import vxtest
from vxtest import settings

EXPORTS = {"VXIdent_Init": 0, "VXIdent_Set_Counter": 12, "VXIdent_Set_Int": 12,
           "VXIdent_Set_Str": 8, "VXIdent_Set_Bin": 12, "VXIdent_Fin": 0}

# DLLs every Windows installation has; the runtime must be linked in, never imported.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "ws2_32.dll", "wsock32.dll",
               "netapi32.dll", "version.dll", "dbghelp.dll", "msvcrt.dll", "ntdll.dll", "shell32.dll",
               "ole32.dll", "oleaut32.dll", "comctl32.dll", "comdlg32.dll"}


def objdump(tool, *args):
    return subprocess.run([tool, *args], check=True, stdout=subprocess.PIPE, text=True).stdout


def imported_dlls(private_headers):
    return {m.lower() for m in re.findall(r"^\s*DLL Name:\s*(\S+)", private_headers, re.M)}


def exported_rvas(private_headers):
    """name -> RVA from the export address table, joined through the ordinal table."""
    image_base = int(re.search(r"^ImageBase\s+([0-9a-f]+)", private_headers, re.M).group(1), 16)
    # objdump prints both tables by their unbiased index, so the name table's index picks the address.
    rvas = {int(o): int(a, 16) for o, a in re.findall(
        r"^\s*\[\s*(\d+)\]\s+\+base\[\s*\d+\]\s+([0-9a-f]+)\s+Export RVA", private_headers, re.M)}
    table = private_headers.split("[Ordinal/Name Pointer] Table", 1)[1].split("\n\n", 1)[0]
    result = {}
    for index, name in re.findall(r"^\s*\[\s*(\d+)\]\s+(\S+)\s*$", table, re.M):
        result[name] = image_base + rvas[int(index)]
    return result


def callee_cleanup(tool, dll, address):
    """The operands of the `ret` instructions of the function at address, up to its first ret."""
    text = objdump(tool, "-d", "--no-show-raw-insn", "--start-address=0x%x" % address,
                   "--stop-address=0x%x" % (address + 4096), dll)
    rets = []
    for line in text.splitlines():
        m = re.match(r"^\s*[0-9a-f]+:\s+ret\S*\s*(\$0x[0-9a-f]+)?", line)
        if m:
            rets.append(int(m.group(1)[3:], 16) if m.group(1) else 0)
            break  # the exports are small and end in their one ret
        if re.match(r"^\s*[0-9a-f]+:\s+jmp\s+[0-9a-f]+ <", line) and not rets:
            # a tail call through a thunk: follow it
            target = int(re.search(r"jmp\s+([0-9a-f]+)", line).group(1), 16)
            return callee_cleanup(tool, dll, target)
    return rets


class TablesCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.headers = objdump(settings.OBJDUMP, "-p", settings.DLL)
        cls.rvas = exported_rvas(cls.headers)


class DllTables(TablesCase):

    def test_exports_are_the_six_undecorated_names(self):
        self.assertEqual(sorted(self.rvas), sorted(EXPORTS))

    def test_export_directory_names_the_dll(self):
        dll_name = re.search(r"^Name\s+[0-9a-f]+\s+(\S+)", self.headers, re.M)
        self.assertEqual(dll_name and dll_name.group(1), "VXIdent.dll")

    def test_imports_only_system_dlls(self):
        foreign = sorted(d for d in imported_dlls(self.headers) if d not in SYSTEM_DLLS and not d.startswith("api-ms-"))
        self.assertEqual(foreign, [], "the runtime must be linked in, not imported")


# x86_64 has one calling convention: the callee-cleanup check is for the i686 DLL only.
if settings.STDCALL:
    class StdcallCleanup(TablesCase):
        def test_each_export_removes_its_own_arguments(self):
            for name, size in EXPORTS.items():
                with self.subTest(export=name):
                    self.assertIn(name, self.rvas)
                    self.assertEqual(callee_cleanup(settings.OBJDUMP, settings.DLL, self.rvas[name]), [size])


if __name__ == "__main__":
    vxtest.main()
