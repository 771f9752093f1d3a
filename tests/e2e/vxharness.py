"""Shared pieces of the end-to-end tests: the collector as the real peer, host programs under Wine.

Everything is found through the environment, so the same drivers run here under wine64 and inside
the 32-bit emulated machine:
  VXIDENT_BIN        folder holding VXIdent.dll and the host programs
  VXIDENT_WINE       command that runs a Windows program (a wrapper script or plain "wine")
  VXIDENT_COLLECTOR  the native collector binary
"""
import json
import os
import queue
import shlex
import shutil
import subprocess
import tempfile
import threading
import time
import unittest

BIN = os.environ.get("VXIDENT_BIN", "")
WINE = shlex.split(os.environ.get("VXIDENT_WINE", "wine"))
COLLECTOR = os.environ.get("VXIDENT_COLLECTOR", "")

HOST_TIMEOUT = float(os.environ.get("VXIDENT_HOST_TIMEOUT", "60"))


def program(name):
    return os.path.join(BIN, name)


class Collector:
    """The native collector on an ephemeral loopback port, its JSON lines gathered in the background."""

    def __init__(self, out_dir):
        self.out_dir = out_dir
        self.lines = queue.Queue()
        self.process = subprocess.Popen(
            [COLLECTOR, "--listen", "127.0.0.1:0", "--out", out_dir, "--raw"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        first = json.loads(self.process.stdout.readline())
        if first.get("event") != "listening":
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


def write_conf(folder, **keys):
    """HVInfo.conf with the given keys of section HVINFO (key=value, written as given)."""
    lines = ["[HVINFO]"] + ["%s=%s" % (k, v) for k, v in keys.items()]
    with open(os.path.join(folder, "HVInfo.conf"), "w", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")


class HostResult:
    def __init__(self, completed):
        self.returncode = completed.returncode
        self.stdout = completed.stdout
        self.stderr = completed.stderr.decode("latin-1")
        # "name=result" lines written by the host programs for each call, in order.
        self.results = [line.split("=", 1) for line in self.stderr.splitlines() if "=" in line]

    def values(self, name):
        return [int(v) for k, v in self.results if k == name]


def run_host(name, args, cwd, timeout=HOST_TIMEOUT, env=None):
    """Runs a host program from BIN in cwd under Wine, with a time limit; returns its HostResult.

    Output goes through files, not pipes: Wine's services, started by whichever program comes first,
    live on holding that program's output handles, and a pipe would then never see its end.
    """
    full_env = dict(os.environ)
    full_env.update(env or {})
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.Popen(WINE + [program(name)] + [str(a) for a in args], cwd=cwd, env=full_env,
                                   stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        try:
            returncode = process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            raise
        out.seek(0)
        err.seek(0)
        return HostResult(subprocess.CompletedProcess(process.args, returncode, out.read(), err.read()))


class E2ETest(unittest.TestCase):
    """A temporary working folder and a collector for every test."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vxident-e2e-")
        self.collector = Collector(os.path.join(self.dir, "collected"))

    def tearDown(self):
        self.collector.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def conf(self, **keys):
        keys.setdefault("ServerHost", "127.0.0.1:%d" % self.collector.port)
        write_conf(self.dir, **keys)

    def host(self, args, name="client_host.exe", **kw):
        return run_host(name, args, self.dir, **kw)


def raw(datagram):
    return bytes.fromhex(datagram["raw_hex"])


def main():
    unittest.main(verbosity=2)
