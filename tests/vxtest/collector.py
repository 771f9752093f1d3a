"""The native collector as the real peer of the client, on an ephemeral loopback port."""
import json
import queue
import subprocess
import threading
import time

from vxtest import settings


class Collector:
    """The collector's JSON lines, gathered in the background."""

    def __init__(self, out_dir, extra_args=()):
        self.out_dir = out_dir
        self.lines = queue.Queue()
        self.process = subprocess.Popen(
            [settings.COLLECTOR, "--listen", "127.0.0.1:0", "--out", out_dir, "--raw"] + list(extra_args),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        first = json.loads(self.process.stdout.readline() or "{}")
        if first.get("event") != "listening":
            self.close()
            raise RuntimeError("collector did not start: %r" % first)
        self.port = first["port"]
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(json.loads(line))

    def events(self, count, timeout=10.0, event=None):
        """The next count events (of one kind when event is given); fails the test when fewer arrive."""
        got = []
        deadline = time.monotonic() + timeout
        while len(got) < count:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise AssertionError("expected %d events, got %d: %r" % (count, len(got), got))
            try:
                item = self.lines.get(timeout=remaining)
            except queue.Empty:
                continue
            if event is None or item.get("event") == event:
                got.append(item)
        return got

    def datagrams(self, count, timeout=10.0):
        return self.events(count, timeout, event="datagram")

    def quiet(self, seconds=1.0):
        """Whatever arrives within seconds: for checking that nothing (more) was sent."""
        got = []
        deadline = time.monotonic() + seconds
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                return got
            try:
                got.append(self.lines.get(timeout=remaining))
            except queue.Empty:
                return got

    def close(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.process.stdout.close()
        self.process.stderr.close()


def raw(datagram):
    """The bytes of a datagram event, as they arrived."""
    return bytes.fromhex(datagram["raw_hex"])
