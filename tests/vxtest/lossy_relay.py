"""The native lossy relay between a host and the collector: drops, repeats and reorders datagrams
from a seed, so that a case sees what a bad network does to the crash's datagrams."""
import json
import os
import subprocess

from vxtest import settings


class LossyRelay:

    def __init__(self, forward_port, drop, seed, duplicate=0.01, reorder=0.05):
        if not os.path.isfile(settings.LOSSY_RELAY):
            raise FileNotFoundError("no lossy relay at %s (VXIDENT_LOSSY_RELAY)" % settings.LOSSY_RELAY)
        self.process = subprocess.Popen(
            [settings.LOSSY_RELAY, "--forward", "127.0.0.1:%d" % forward_port, "--drop", str(drop),
             "--duplicate", str(duplicate), "--reorder", str(reorder), "--seed", str(seed)],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        first = json.loads(self.process.stdout.readline() or "{}")
        if first.get("event") != "listening":
            self.close()
            raise RuntimeError("lossy relay did not start: %r" % first)
        self.port = first["port"]

    def close(self):
        """Ends the relay; returns its closing line of counts (empty when it printed none)."""
        self.process.terminate()
        try:
            out, _ = self.process.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            out, _ = self.process.communicate()
        lines = [line for line in out.decode().splitlines() if line.strip()]
        return json.loads(lines[-1]) if lines else {}
