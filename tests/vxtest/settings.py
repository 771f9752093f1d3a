"""Every setting of the drivers, from the environment: ctest sets them, the emulated machine's job
sets them for 32-bit Wine, and a developer running one case by hand gets the defaults of a tree
built with tools/build.sh.

  VXIDENT_BIN               folder of VXIdent.dll and the Windows programs (build/win64/bin)
  VXIDENT_WINE              command that runs a Windows program (tools/wine64-run)
  VXIDENT_COLLECTOR         the native collector (build/native/collector/collector)
  VXIDENT_SCREENSHOT_CHECK  the native screenshot checker (build/native/tests/screenshot/screenshot_check)
  VXIDENT_CRASH_ANALYZE     the native crash analysis tool (beside the collector: analysis/crash_analyze)
  VXIDENT_LOSSY_RELAY       the native relay that drops, repeats and reorders datagrams
                            (build/native/benchmarks/wire/lossy_relay)
  VXIDENT_MAKE_PAGE_STORE   the native maker of the pages' test store (build/native/tests/collector/make_page_store)
  VXIDENT_WORK              folder a driver keeps between runs: Wine prefixes, a locale (build/win64/work)
  VXIDENT_ARTIFACTS         folder for what a person should look at: pictures (build/win64/artifacts)
  VXIDENT_HOST_TIMEOUT      seconds any one Windows program may run (60)
  VXIDENT_OBJDUMP, VXIDENT_DLL, VXIDENT_STDCALL   the static check of a built DLL
  VXIDENT_RELEASE_TREE      the unpacked release (tools/release.sh's OUT/VXIdent-<version>)
  VXIDENT_RELEASE_ARCHIVE   the archive made beside it
  VXIDENT_RELEASE_VERSION   the version the release must carry, as "1.2.3"
  VXIDENT_RELEASE_HOSTS     folder with an x86/ and an x64/ folder of hosts built against the release
  VXIDENT_RELEASE_ARCH      which of them this Wine runs: x64 under wine64, x86 in the emulated machine
"""
import os
import shlex

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def _get(name, default):
    return os.environ.get(name) or default


BIN = _get("VXIDENT_BIN", os.path.join(ROOT, "build", "win64", "bin"))
WINE = shlex.split(_get("VXIDENT_WINE", os.path.join(ROOT, "tools", "wine64-run")))
COLLECTOR = _get("VXIDENT_COLLECTOR", os.path.join(ROOT, "build", "native", "collector", "collector"))
SCREENSHOT_CHECK = _get("VXIDENT_SCREENSHOT_CHECK",
                        os.path.join(ROOT, "build", "native", "tests", "screenshot", "screenshot_check"))
MAKE_PAGE_STORE = _get("VXIDENT_MAKE_PAGE_STORE",
                       os.path.join(ROOT, "build", "native", "tests", "collector", "make_page_store"))
CRASH_ANALYZE = _get("VXIDENT_CRASH_ANALYZE", os.path.join(os.path.dirname(COLLECTOR), "analysis", "crash_analyze"))
LOSSY_RELAY = _get("VXIDENT_LOSSY_RELAY", os.path.join(ROOT, "build", "native", "benchmarks", "wire", "lossy_relay"))
WORK = _get("VXIDENT_WORK", os.path.join(ROOT, "build", "win64", "work"))
ARTIFACTS = _get("VXIDENT_ARTIFACTS", os.path.join(ROOT, "build", "win64", "artifacts"))
HOST_TIMEOUT = float(_get("VXIDENT_HOST_TIMEOUT", "60"))
OBJDUMP = _get("VXIDENT_OBJDUMP", "x86_64-w64-mingw32-objdump")
DLL = _get("VXIDENT_DLL", os.path.join(BIN, "VXIdent.dll"))
STDCALL = _get("VXIDENT_STDCALL", "0") == "1"
# Empty unless the release was made: its drivers skip, saying which is missing.
RELEASE_TREE = _get("VXIDENT_RELEASE_TREE", "")
RELEASE_ARCHIVE = _get("VXIDENT_RELEASE_ARCHIVE", "")
RELEASE_VERSION = _get("VXIDENT_RELEASE_VERSION", "")
RELEASE_HOSTS = _get("VXIDENT_RELEASE_HOSTS", "")
RELEASE_ARCH = _get("VXIDENT_RELEASE_ARCH", "x64")


def program(name):
    """A Windows program of the build."""
    return os.path.join(BIN, name)


def work_dir(name):
    """VXIDENT_WORK/name, made when missing."""
    path = os.path.join(WORK, name)
    os.makedirs(path, exist_ok=True)
    return path


def artifacts_dir(name):
    path = os.path.join(ARTIFACTS, name)
    os.makedirs(path, exist_ok=True)
    return path
