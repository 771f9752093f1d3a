#!/usr/bin/env python3
"""The collector's pages in headless Chromium: a store of hand-made crashes (frames, symbols,
hostile texts) and one crash that arrives live, each page loaded, its rendered text checked, and a
screenshot of it kept under the artifacts folder. Every child process has a time limit."""
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import unittest
import urllib.request

import vxtest
from vxtest import settings
from vxtest.datagrams import data, package

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")
ARTIFACTS = os.path.join(settings.ARTIFACTS, "collector")
LIMIT = 60  # seconds for any one child
CHROMIUM_FLAGS = [  # what Chromium needs here: headless, as root, and no network but loopback
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--hide-scrollbars", "--window-size=1280,1800",
]
GBK_TEXT = "\u6e38\u620f\u5d29\u6e83 at level 3"  # what the hand-made crash's GBK bytes read as


def chromium():
    for name in ("chromium", "chromium-browser"):
        path = shutil.which(name)
        if path:
            return path
    return None


class CollectorPages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.browser = chromium()
        cls.work = tempfile.mkdtemp(prefix="collector_pages_")
        cls.out = os.path.join(cls.work, "out")
        made = subprocess.run([settings.MAKE_PAGE_STORE, cls.out, os.path.join(DATA, "screenshot.jpg")],
                              capture_output=True, timeout=LIMIT, check=True)
        cls.hand_made_crash = int(made.stdout)
        cls.proc = subprocess.Popen([settings.COLLECTOR, "--listen", "127.0.0.1:0", "--out", cls.out, "--http",
                                     "127.0.0.1:0"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        udp = json.loads(cls.proc.stdout.readline())
        http = json.loads(cls.proc.stdout.readline())
        cls.base = "http://127.0.0.1:%d" % http["port"]
        # A live crash from a machine that sent its hardware profile first.
        with open(os.path.join(DATA, "crash.dmp"), "rb") as f:
            dump = f.read()
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.sendto(data(2, 0x00140012, b"id=89ABCDEF01234567&cname=Live CPU&vname_reg=Live GPU"),
                    ("127.0.0.1", udp["port"]))
        sock.sendto(data(4, 0x00140011, package(dump)), ("127.0.0.1", udp["port"]))
        sock.close()
        cls.live = None
        while cls.live is None:
            line = json.loads(cls.proc.stdout.readline())
            if line["event"] == "crash_report":
                cls.live = line
        os.makedirs(ARTIFACTS, exist_ok=True)

    @classmethod
    def tearDownClass(cls):
        cls.proc.send_signal(signal.SIGTERM)
        try:
            cls.proc.wait(timeout=LIMIT)
        except subprocess.TimeoutExpired:
            cls.proc.kill()
            cls.proc.wait()
        cls.proc.stdout.close()
        cls.proc.stderr.close()
        shutil.rmtree(cls.work, True)

    def render(self, path, name):
        """The page's DOM after Chromium loaded it, and a screenshot kept as artifacts/NAME.png."""
        if not self.browser:
            self.skipTest("skipped: no chromium on this machine (tools/setup.sh installs it)")
        profile = tempfile.mkdtemp(prefix="chromium_", dir=self.work)
        url = self.base + path
        dom = subprocess.run([self.browser] + CHROMIUM_FLAGS + ["--user-data-dir=" + profile, "--dump-dom", url],
                             capture_output=True, timeout=LIMIT)
        self.assertEqual(dom.returncode, 0, dom.stderr[-2000:])
        shot = os.path.join(ARTIFACTS, name + ".png")
        if os.path.exists(shot):
            os.remove(shot)
        taken = subprocess.run([self.browser] + CHROMIUM_FLAGS + ["--user-data-dir=" + profile,
                                                                  "--screenshot=" + shot, url],
                               capture_output=True, timeout=LIMIT)
        self.assertEqual(taken.returncode, 0, taken.stderr[-2000:])
        self.assertGreater(os.path.getsize(shot), 1000)
        return dom.stdout.decode("utf-8")

    @staticmethod
    def text(dom):
        """What a reader sees: tags dropped, entities decoded."""
        import html
        return html.unescape(re.sub(r"<[^>]*>", " ", dom))

    def assertNoScriptRan(self, dom):
        self.assertNotIn("<script", dom.lower().replace("&lt;script", ""))
        self.assertNotIn("<img src=\"x\"", dom)
        self.assertNotIn("<title>pwned", dom)

    def test_index_of_crash_groups(self):
        dom = self.render("/", "index")
        text = self.text(dom)
        self.assertIn("DrawScene(Scene const&) | RunFrame<Game>(int) | WinMain", text)
        row = re.search(r"WinMain</a></td><td class=\"count\">(\d+)</td><td class=\"machines\">(\d+)</td>", dom)
        self.assertTrue(row, dom[:3000])
        self.assertEqual(row.groups(), ("3", "2"))
        self.assertIn("product 20 build 300", text)
        self.assertIn(self.live["signature"], text)
        # A hostile signature is shown, not obeyed.
        self.assertIn("<img src=x onerror=\"document.title='pwned'\"> | Load", text)
        self.assertNoScriptRan(dom)

    def test_crash_page_with_symbolized_stack(self):
        dom = self.render("/crash/%d" % self.hand_made_crash, "crash-hand-made")
        text = self.text(dom)
        self.assertIn("EXCEPTION_ACCESS_VIOLATION", text)
        self.assertIn("0x0000000140001234", text)
        stack = text[text.index("Stack of the crashed thread"):text.index("Screenshot")]
        order = [stack.index(name) for name in ("Vec3::Length", "DrawScene(Scene const&)", "RunFrame<Game>(int)",
                                                "WinMain")]
        self.assertEqual(order, sorted(order))
        for where in ("src/vec3.h:12", "src/render.cpp:88", "src/game.cpp:140", "src/main.cpp:20"):
            self.assertIn(where, stack)
        for found_by in ("exception context", "unwind tables", "frame pointer", "stack scan"):
            self.assertIn(found_by, stack)
        self.assertIn("demo_host.exe + 0x00002000", stack)
        self.assertIn("Thread 240", text)
        self.assertIn("NtWaitForSingleObject", text)
        self.assertIn("ntdll.dll", text[text.index("Modules"):])
        self.assertIn(GBK_TEXT, text)  # the extra-information text, decoded from GBK
        self.assertIn("I pressed fire", text)
        self.assertIn("<script>document.title='pwned'</script><b>bold?</b>", text)
        self.assertNoScriptRan(dom)
        self.assertIn("Intel(R) Core(TM) <b>i7</b>", text)  # the machine's hardware profile, as text
        self.assertIn("16384", text)
        self.assertIn("account (identity 1) 4242, product (identity 3) 20, build (identity 4) 300", text)
        self.assertIn('src="/crash/%d/screenshot.jpg"' % self.hand_made_crash, dom)
        with urllib.request.urlopen(self.base + "/crash/%d/screenshot.jpg" % self.hand_made_crash,
                                    timeout=LIMIT) as shot:
            self.assertEqual(shot.headers["Content-Type"], "image/jpeg")
            self.assertEqual(shot.read()[:2], b"\xff\xd8")

    def test_live_crash_page(self):
        dom = self.render(self.live["page"][len(self.base):], "crash-live")
        text = self.text(dom)
        self.assertIn("EXCEPTION_ACCESS_VIOLATION", text)
        self.assertIn("Live CPU", text)
        self.assertIn("Live GPU", text)
        self.assertIn("make_dump.exe", text)
        self.assertIn("I pressed fire", text)
        self.assertIn("\u6e38\u620f\u5d29\u6e83", text)  # user text 3, GBK
        self.assertIn("minidump.dmp", text)
        with urllib.request.urlopen(self.live["page"] + "/minidump.dmp", timeout=LIMIT) as dump:
            self.assertEqual(dump.read(4), b"MDMP")

    def test_group_and_telemetry_pages(self):
        dom = self.render("/group/1", "group")
        self.assertEqual(len(re.findall(r'href="/crash/\d+"', dom)), 3)
        dom = self.render("/telemetry", "telemetry")
        text = self.text(dom)
        self.assertIn('<td class="key">100</td><td class="total">50</td>', dom)
        self.assertIn("<script>document.title='pwned'</script>", text)  # the latest text of key 104
        self.assertNoScriptRan(dom)
        self.assertEqual(len(re.findall(r"<rect ", dom)) % 24, 0)

    def test_unknown_pages(self):
        for path in ("/crash/999999", "/group/999999", "/crash/1/../../etc/passwd", "/crash/1/other.txt"):
            try:
                urllib.request.urlopen(self.base + path, timeout=LIMIT)
                self.fail(path + " was served")
            except urllib.error.HTTPError as e:
                self.assertEqual(e.code, 404, path)


if __name__ == "__main__":
    vxtest.main()
