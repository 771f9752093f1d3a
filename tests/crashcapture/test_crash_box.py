"""The crash message box on a virtual X display: it shows the fixed text in Chinese on a system
whose ANSI code page is not 936, the time it stands on the screen does not count as a stall, and
the exit hook and the end of the process come once it is closed. The whole package's parts keep
going while it stands, and the user waits for them at most 2 s before it comes up.
"""
import os
import subprocess
import time

import vxtest
from vxtest import crash_files, settings, xdisplay
from vxtest.crash_case import FILTER_MEMORY, CrashCase
from vxtest.hosts import HostResult
from vxtest.xdisplay import WINE, WINESERVER

MESSAGE = "很抱歉，程序发生了严重错误，错误报告已经发送到服务器，我们将尽快解决这个问题。"
HOLD_MS = 15000  # longer than the watchdog's 10 s without progress


def utf16_hex(value):
    return bytes.fromhex(value).decode("utf-16-be")


class MessageBox(CrashCase):

    @classmethod
    def setUpClass(cls):
        cls.prefix = os.path.join(settings.work_dir("crash-box"), "wineprefix")
        cls.xvfb, display = xdisplay.start_xvfb("1024x768x24", 900)
        # An English locale: the ANSI code page is 1252, and the GBK text must still read right.
        cls.env = dict(os.environ, DISPLAY=display, WINEPREFIX=cls.prefix, WINEDEBUG="-all", LANG="C.UTF-8",
                       LC_ALL="C.UTF-8")
        subprocess.run([WINESERVER, "-k"], env=cls.env, timeout=60)
        xdisplay.make_prefix(cls.env)

    @classmethod
    def tearDownClass(cls):
        subprocess.run([WINESERVER, "-k"], env=cls.env, timeout=60)
        xdisplay.stop_xvfb(cls.xvfb)

    def crash_and_close(self, host_args, hold_ms):
        self.conf()
        wine = [WINE]
        host = subprocess.Popen(wine + [settings.program("crash_host.exe")] + host_args,
                                cwd=self.dir, env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        try:
            closer = subprocess.run(wine + [settings.program("box_closer.exe"), str(hold_ms)], cwd=self.dir,
                                    env=self.env, capture_output=True, timeout=120)
            _, err = host.communicate(timeout=60)
        finally:
            if host.poll() is None:
                host.kill()
                host.wait()
        lines = dict(line.split("=", 1) for line in closer.stderr.decode("latin-1").splitlines() if "=" in line)
        result = HostResult(host.returncode, b"", err)
        result.seconds = 0
        return lines, result

    def test_the_box_stands_longer_than_the_stall_limit_then_hook_and_exit(self):
        lines, result = self.crash_and_close(["init", "ids", "hook", "av"], HOLD_MS)
        self.assertEqual(lines.get("box_found"), "1")
        self.assertEqual(lines.get("box_still_there"), "1")  # the watchdog let the box stand
        self.assertEqual(utf16_hex(lines["text_utf16"]), MESSAGE)
        self.assertEqual(utf16_hex(lines["caption_utf16"]), "Velmor")
        self.assert_report(result, FILTER_MEMORY)
        self.assertEqual(result.values("exit_hook"), [1])

    def test_parts_go_on_while_the_box_stands_after_at_most_two_seconds_of_waiting(self):
        # About 1 MB at 64 KB/s: 16 s of parts, of which 2 s before the box and the rest while it
        # stands for longer than that.
        self.conf(CrashSummary=1, CrashPackageWhole=1, CrashPackageRate=64)
        host = subprocess.Popen([WINE, settings.program("crash_host.exe"), "init", "ids", "hook", "format", "10002",
                                 "stackdata", "960", "av"],
                                cwd=self.dir, env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        closer = subprocess.Popen([WINE, settings.program("box_closer.exe"), "30000"], cwd=self.dir, env=self.env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        try:
            blob_seen = rebuilt_seen = None
            deadline = time.monotonic() + 90
            while rebuilt_seen is None and time.monotonic() < deadline:
                event = self.collector.events(1, timeout=deadline - time.monotonic())[0]
                if event.get("event") == "datagram" and event.get("kind") == "blob" and blob_seen is None:
                    blob_seen = time.time()
                if event.get("event") == "crash_report" and "wire_id" in event:
                    rebuilt_seen = event
            closer_running = closer.poll() is None
            _, closer_err = closer.communicate(timeout=60)
            _, err = host.communicate(timeout=60)
        finally:
            for child in (host, closer):
                if child.poll() is None:
                    child.kill()
                    child.wait()
        lines = dict(line.split("=", 1) for line in closer_err.decode("latin-1").splitlines() if "=" in line)
        self.assertEqual(lines.get("box_found"), "1")
        self.assertEqual(lines.get("box_still_there"), "1")
        self.assertIsNotNone(blob_seen)
        waited = int(lines["found_us"]) / 1e6 - blob_seen
        self.assertGreater(waited, 1.5)  # the first parts went before the box
        self.assertLess(waited, 4.5)     # 2 s of parts, the closer's 100 ms polling and Wine's box
        self.assertTrue(rebuilt_seen["whole"])
        self.assertTrue(closer_running, "the package was whole only once the box was closed")
        result = HostResult(host.returncode, b"", err)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.values("parts_sent"), result.values("parts_total"))

    def test_h_and_l_give_one_jpeg_of_the_screen(self):
        lines, result = self.crash_and_close(["init", "ids", "hook", "format", "5001", "av"], 0)
        self.assertEqual(lines.get("box_found"), "1")
        md = self.assert_report(result, FILTER_MEMORY)
        shot = md.streams[crash_files.SCREENSHOT_STREAM]
        self.assertEqual(shot[:2], b"\xff\xd8")
        self.assertEqual(shot[-2:], b"\xff\xd9")
        self.assertEqual(list(md.user_streams()), [crash_files.SCREENSHOT_STREAM])


if __name__ == "__main__":
    vxtest.main()
