"""Static checks of a built VXIdent.dll with objdump: what a host links against.

  check_dll.py --objdump OBJDUMP --dll PATH [--stdcall]

Checks that the export table holds exactly the six undecorated names, that the DLL imports only
Windows' own system DLLs, and with --stdcall (i686) that each Set export removes its own arguments
(a `ret` with 12, 12, 8 and 12 bytes).
"""
import argparse
import re
import subprocess
import sys

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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--dll", required=True)
    parser.add_argument("--stdcall", action="store_true")
    args = parser.parse_args()
    headers = objdump(args.objdump, "-p", args.dll)
    failures = []

    rvas = exported_rvas(headers)
    if set(rvas) != set(EXPORTS):
        failures.append("exports are %s, expected exactly %s" % (sorted(rvas), sorted(EXPORTS)))
    dll_name = re.search(r"^Name\s+[0-9a-f]+\s+(\S+)", headers, re.M)
    if not dll_name or dll_name.group(1) != "VXIdent.dll":
        failures.append("export directory names %r, expected VXIdent.dll" % (dll_name and dll_name.group(1)))

    foreign = sorted(d for d in imported_dlls(headers) if d not in SYSTEM_DLLS and not d.startswith("api-ms-"))
    if foreign:
        failures.append("imports non-system DLLs: %s" % foreign)

    if args.stdcall:
        for name, size in EXPORTS.items():
            if name not in rvas:
                continue
            rets = callee_cleanup(args.objdump, args.dll, rvas[name])
            if rets != [size]:
                failures.append("%s returns with ret %s, expected ret %d" % (name, rets, size))

    for f in failures:
        print("FAIL:", f)
    print("%s: %d checks failed" % (args.dll, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
