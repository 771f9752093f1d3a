"""The base of the end-to-end cases: a fresh working folder and a listening collector per case."""
import os
import shutil
import tempfile
import unittest

from vxtest.collector import Collector
from vxtest.hosts import run_host, write_conf


class E2ETest(unittest.TestCase):

    collector_args = ()  # more options of the collector, for a class whose cases need them

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vxident-e2e-")
        self.collector = Collector(os.path.join(self.dir, "collected"), self.collector_args)

    def tearDown(self):
        self.collector.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def conf(self, **keys):
        keys.setdefault("ServerHost", "127.0.0.1:%d" % self.collector.port)
        write_conf(self.dir, **keys)

    def host(self, args, name="client_host.exe", **kw):
        return run_host(name, args, self.dir, **kw)
