"""A virtual X display for the Windows programs that need a screen (dialogs, message boxes, captures).

Wine's desktop keeps the display it was first started with, so each driver that needs one makes it
before the first program of its own prefix runs.
"""
import os
import subprocess

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"


def start_xvfb(screen, limit_s):
    """Xvfb on a free display number, e.g. screen "1024x768x24". `timeout` ends it after limit_s
    seconds even if the driver that started it is killed. Returns (process, ":N")."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["timeout", str(limit_s), "Xvfb", "-displayfd", str(write_end), "-screen", "0", screen,
                             "-nolisten", "tcp"], pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        display = pipe.readline().strip()
    if not display:
        stop_xvfb(xvfb)
        raise RuntimeError("Xvfb did not start")
    return xvfb, ":" + display


def stop_xvfb(xvfb):
    """Ends a display of start_xvfb. `timeout` passes SIGTERM on to Xvfb; a SIGKILL would end only
    `timeout` itself and leave Xvfb running with no parent."""
    xvfb.terminate()
    try:
        xvfb.wait(timeout=30)
    except subprocess.TimeoutExpired:
        xvfb.kill()
        xvfb.wait()


def make_prefix(env, timeout_s=300):
    """Makes the Wine prefix env["WINEPREFIX"] unless it is there already; the first wineboot of a
    prefix is slow, and the server is left to finish writing it before anything else runs."""
    if os.path.isfile(os.path.join(env["WINEPREFIX"], "system.reg")):
        return
    subprocess.run([WINE, "wineboot", "--init"], env=env, timeout=timeout_s, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    subprocess.run([WINESERVER, "-w"], env=env, timeout=120)
    if not os.path.isfile(os.path.join(env["WINEPREFIX"], "system.reg")):
        raise RuntimeError("wineboot made no prefix in " + env["WINEPREFIX"])
