#!/usr/bin/env python3
"""Drives the collector program as the client's peer: real UDP over loopback, its command line and
its JSON lines, the files it leaves. Every child process has a time limit."""
import json
import os
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import time
import sqlite3
import unittest
import urllib.request
import zlib

import vxtest
from vxtest import settings

COLLECTOR = settings.COLLECTOR
DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")
LIMIT = 20  # seconds any one collector may live


def header(kind, payload_length, machine_id=b"89ABCDEF01234567", ids=(300, 20, 7)):
    return struct.pack(">II16sBHHHI", 1, kind, machine_id, 0, ids[0], ids[1], ids[2], payload_length)


def numbers(*records):
    payload = b"".join(struct.pack(">II", k, v) for k, v in records)
    return header(1, len(payload)) + payload


def data(kind, wire_key, body):
    return header(kind, 8 + len(body)) + struct.pack(">II", wire_key, len(body)) + body


def package(dump):
    out = b"VGZ\x00\x01"
    for at in range(0, len(dump), 131072):
        chunk = zlib.compress(dump[at:at + 131072], 9)
        out += struct.pack("<I", len(chunk)) + chunk
    return out


def package_parts(pkg, wire_id, keep=lambda index: True):
    """The package's source symbols as package-part datagrams (kind 16), in order, without repairs:
    the library's parameters (232 symbols a block, 8% repairs, 8 blocks a stripe), 1143-byte symbols."""
    size = 1200 - 35 - 22
    crc = zlib.crc32(pkg)
    out = []
    for index in range((len(pkg) + size - 1) // size):
        if keep(index):
            payload = struct.pack(">BBBBHIIII", 1, 232, 8, 8, size, wire_id, len(pkg), crc, index)
            payload += pkg[index * size:(index + 1) * size]
            out.append(header(16, len(payload)) + payload)
    return out


class Collector:
    """One collector child on an ephemeral port, read line by line."""

    def __init__(self, *args, cwd=None, out=None):
        self.out = out if out is not None else tempfile.mkdtemp(prefix="collector_out_")
        argv = [COLLECTOR, "--listen", "127.0.0.1:0"] + (["--out", self.out] if out != "" else []) + list(args)
        self.proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=cwd)
        self.started = time.monotonic()
        self.listening = self.line()
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)

    def send(self, datagram):
        self.sock.sendto(datagram, ("127.0.0.1", self.listening["port"]))

    def line(self):
        raw = self.proc.stdout.readline()
        if not raw:
            raise AssertionError("collector ended early: " + self.proc.stderr.read().decode(errors="replace"))
        return json.loads(raw.decode("ascii"))  # every line is plain ASCII

    def wait(self):
        try:
            return self.proc.wait(timeout=max(1, LIMIT - (time.monotonic() - self.started)))
        except subprocess.TimeoutExpired:
            self.proc.kill()
            raise

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.proc.stdout.close()
        self.proc.stderr.close()
        self.sock.close()


class CollectorProgram(unittest.TestCase):
    def start(self, *args, **kw):
        c = Collector(*args, **kw)
        self.addCleanup(c.close)
        if kw.get("out") is None:
            self.addCleanup(shutil.rmtree, c.out, True)
        return c

    def test_listening_line_and_exit_after_counting_every_datagram(self):
        c = self.start("--exit-after", "3")
        self.assertEqual(c.listening["event"], "listening")
        self.assertEqual(c.listening["address"], "127.0.0.1")
        self.assertGreater(c.listening["port"], 0)
        c.send(numbers((0x00140005, 1000)))
        c.send(b"\x00" * 20)
        c.send(numbers((1, 2), (0xFFFFFFFF, 0xFFFFFFFF)))
        first, bad, last = c.line(), c.line(), c.line()
        self.assertEqual(c.wait(), 0)
        self.assertEqual(c.proc.stdout.read(), b"")
        self.assertEqual(first["records"], [{"wire_key": 0x00140005, "scope": 20, "key": 5, "value": 1000}])
        self.assertEqual((first["size"], first["identity4"], first["identity3"], first["identity1"]), (43, 300, 20, 7))
        self.assertEqual(first["machine_id"], "89ABCDEF01234567")
        self.assertEqual(bad, {"event": "invalid", "size": 20, "reason": "short header", "invalid_count": 1})
        self.assertEqual(last["records"][1], {"wire_key": 0xFFFFFFFF, "scope": 0xFFFF, "key": 0xFFFF, "value": 0xFFFFFFFF})

    def test_raw_hex_and_texts_come_back_byte_for_byte(self):
        c = self.start("--raw", "--exit-after", "2")
        text = bytes(range(1, 256)) + b'"\\'
        sent = data(2, 0x00140009, text[:512])
        c.send(sent)
        c.send(b"\x00\x00\x00\x02" + sent[4:])
        line, bad = c.line(), c.line()
        self.assertEqual(bytes.fromhex(line["raw_hex"]), sent)
        self.assertEqual(line["records"][0]["text"].encode("latin-1"), text)
        self.assertEqual(line["records"][0]["length"], len(text))
        self.assertEqual((bad["reason"], bad["invalid_count"]), ("protocol", 1))
        self.assertEqual(bytes.fromhex(bad["raw_hex"]), b"\x00\x00\x00\x02" + sent[4:])
        self.assertEqual(c.wait(), 0)

    def test_largest_blob_arrives_whole_and_is_saved(self):
        c = self.start("--exit-after", "1")
        blob = os.urandom(64512)
        c.send(data(4, 0x00140002, blob))
        line = c.line()
        self.assertEqual(line["size"], 64555)
        record = line["records"][0]
        self.assertEqual(record["length"], 64512)
        with open(record["file"], "rb") as f:
            self.assertEqual(f.read(), blob)
        h = 0xCBF29CE484222325
        for b in blob:
            h = ((h ^ b) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
        self.assertEqual(record["fnv1a64"], "%016x" % h)
        self.assertEqual(c.wait(), 0)

    def test_crash_report_from_a_cut_package(self):
        with open(os.path.join(DATA, "crash.dmp"), "rb") as f:
            dump = f.read()
        padded = dump + os.urandom(131072 * 3 - len(dump))  # incompressible tail: the package gets cut
        pkg = package(padded)
        self.assertGreater(len(pkg), 64512)
        c = self.start("--exit-after", "2")
        c.send(data(4, 0x00140011, pkg[:64512]))
        c.send(data(4, 0x00140011, package(dump)))
        # Each crash_report line comes after its datagram's line, once the crash worker is done.
        lines = [c.line() for _ in range(4)]
        self.assertEqual(lines[0]["event"], "datagram")
        reports = [line for line in lines if line["event"] == "crash_report"]
        self.assertEqual(len(reports), 2)
        for expect_truncated, report in zip((True, False), reports):
            self.assertEqual(report["truncated"], expect_truncated)
            self.assertEqual(report["chunks"], 1 if expect_truncated else 2)
            with open(os.path.join(report["dir"], "report.json")) as f:
                self.assertEqual(json.load(f), report)
        self.assertTrue(report["minidump_valid"])
        self.assertEqual(report["exception"]["code"], 0xC0000005)
        self.assertEqual([t for t in report["streams"] if t > 0xFFFF], list(range(0x10001, 0x10006)))
        self.assertEqual(report["screenshot"]["jpeg_width"], 37)
        self.assertEqual(report["user_info3"].encode("latin-1"), b"\xD3\xCE\xCF\xB7\xB1\xC0\xC0\xA3\r\nsecond line")
        with open(os.path.join(report["dir"], "minidump.dmp"), "rb") as f:
            self.assertEqual(f.read(), dump)
        self.assertEqual(c.wait(), 0)

    def test_store_and_pages(self):
        with open(os.path.join(DATA, "crash.dmp"), "rb") as f:
            dump = f.read()
        c = self.start("--http", "127.0.0.1:0")
        http = c.line()
        self.assertEqual((http["event"], http["address"]), ("http", "127.0.0.1"))
        profile = b"id=89ABCDEF01234567&cname=Test CPU&mem1=1024"
        c.send(data(2, 0x00140012, profile))
        c.send(numbers((0x00140064, 7), (0x00140065, 8)))
        c.send(data(4, 0x00140011, package(dump)))
        lines = [c.line() for _ in range(4)]
        report = [line for line in lines if line["event"] == "crash_report"][0]
        self.assertEqual(report["crash_id"], 1)
        self.assertEqual(report["page"], "http://127.0.0.1:%d/crash/1" % http["port"])
        # No symbols folder: the crashed thread's frames are named by module and offset.
        self.assertRegex(report["signature"], r"^make_dump\.exe\+0x[0-9a-f]+( \| |$)")
        with urllib.request.urlopen(report["page"], timeout=10) as page:
            html = page.read().decode("utf-8")
        self.assertIn("EXCEPTION_ACCESS_VIOLATION", html)
        self.assertIn("Test CPU", html)  # the hardware profile of the same machine
        self.assertIn("I pressed fire", html)
        with urllib.request.urlopen(report["page"] + "/screenshot.jpg", timeout=10) as shot:
            self.assertEqual(shot.read()[:2], b"\xff\xd8")
        c.proc.send_signal(signal.SIGTERM)
        self.assertEqual(c.wait(), 0)
        db = sqlite3.connect(os.path.join(c.out, "collector.db"))
        self.addCleanup(db.close)
        rows = db.execute("SELECT kind, key, value, text FROM reports ORDER BY id").fetchall()
        self.assertEqual(rows, [("text", 18, None, profile), ("number", 100, 7, None), ("number", 101, 8, None),
                                ("blob", 17, None, None)])
        self.assertEqual(db.execute("SELECT machine_id, signature FROM crashes").fetchall(),
                         [("89ABCDEF01234567", report["signature"])])

    def test_ingest_a_mailed_package_or_minidump(self):
        with open(os.path.join(DATA, "crash.dmp"), "rb") as f:
            dump = f.read()
        work = tempfile.mkdtemp(prefix="collector_ingest_")
        self.addCleanup(shutil.rmtree, work, True)
        vgz, dmp = os.path.join(work, "TempDump.vgz"), os.path.join(work, "TempDump.dmp")
        whole = dump + bytes(131072 * 3) + os.urandom(131072)  # more than one datagram could carry, packed
        with open(vgz, "wb") as f:
            f.write(package(whole))
        with open(dmp, "wb") as f:
            f.write(dump)
        out = os.path.join(work, "out")
        for path, machine in ((vgz, "0123456789ABCDEF"), (dmp, None)):
            argv = [COLLECTOR, "--ingest", path, "--out", out] + (["--machine", machine] if machine else [])
            r = subprocess.run(argv, capture_output=True, timeout=LIMIT)
            self.assertEqual(r.returncode, 0, r.stderr)
            report = json.loads(r.stdout.decode("ascii"))
            self.assertEqual(report["event"], "crash_report")
            self.assertTrue(report["minidump_valid"])
            self.assertFalse(report["truncated"])
            self.assertEqual(report["exception"]["code"], 0xC0000005)
        db = sqlite3.connect(os.path.join(out, "collector.db"))
        self.addCleanup(db.close)
        rows = db.execute("SELECT source, machine_id, minidump_bytes, identity3 FROM crashes ORDER BY id").fetchall()
        self.assertEqual(rows, [("ingest", "0123456789ABCDEF", len(whole), None),
                                ("ingest", "", len(dump), None)])
        with open(os.path.join(out, "report-1", "minidump.dmp"), "rb") as f:
            self.assertEqual(f.read(), whole)
        r = subprocess.run([COLLECTOR, "--ingest", os.path.join(work, "missing"), "--out", out], capture_output=True,
                           timeout=LIMIT)
        self.assertEqual(r.returncode, 2)
        with open(os.path.join(work, "garbage"), "wb") as f:
            f.write(b"not a dump at all")
        r = subprocess.run([COLLECTOR, "--ingest", os.path.join(work, "garbage"), "--out", out], capture_output=True,
                           timeout=LIMIT)
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"neither a dump package", r.stderr)

    def test_package_from_its_parts_and_one_still_open_at_exit(self):
        with open(os.path.join(DATA, "crash.dmp"), "rb") as f:
            dump = f.read()
        padded = dump + os.urandom(131072 * 3 - len(dump))
        pkg = package(padded)
        self.assertGreater(len(pkg), 64512)
        c = self.start()
        for part in package_parts(pkg, 0xC0FFEE):
            c.send(part)
        report = c.line()  # parts print no line of their own
        self.assertEqual((report["event"], report["whole"], report["wire_id"]), ("crash_report", True, 0xC0FFEE))
        self.assertFalse(report["truncated"])
        with open(os.path.join(report["dir"], "package.vgz"), "rb") as f:
            self.assertEqual(f.read(), pkg)
        with open(os.path.join(report["dir"], "minidump.dmp"), "rb") as f:
            self.assertEqual(f.read(), padded)
        # Half of another package: still being put together when the collector is stopped.
        for part in package_parts(pkg, 0xC0FFEF, keep=lambda index: index % 2 == 0):
            c.send(part)
        time.sleep(0.5)
        c.proc.send_signal(signal.SIGTERM)
        lost = c.line()
        self.assertEqual((lost["event"], lost["reason"], lost["wire_id"]), ("crash_package_lost", "collector stopped", 0xC0FFEF))
        self.assertEqual(lost["package_length"], len(pkg))
        self.assertGreater(lost["missing"]["missing_byte_count"], 0)
        self.assertEqual(c.wait(), 0)

    def test_idle_timeout_and_signals_end_with_status_0(self):
        c = self.start("--idle-timeout", "0.5")
        self.assertEqual(c.wait(), 0)
        self.assertGreaterEqual(time.monotonic() - c.started, 0.5)
        for sig in (signal.SIGTERM, signal.SIGINT):
            c = self.start()
            c.send(numbers((1, 1)))
            self.assertEqual(c.line()["event"], "datagram")  # it is in its loop now
            c.proc.send_signal(sig)
            self.assertEqual(c.wait(), 0, sig)

    def test_idle_timeout_restarts_with_each_datagram(self):
        c = self.start("--idle-timeout", "1.5")
        for _ in range(3):
            time.sleep(0.7)
            c.send(numbers((1, 1)))
            self.assertEqual(c.line()["event"], "datagram")
        self.assertIsNone(c.proc.poll())
        self.assertEqual(c.wait(), 0)

    def test_burst_without_loss(self):
        c = self.start("--exit-after", "2000")
        for i in range(2000):
            c.send(numbers((5, i)))
        values = [c.line()["records"][0]["value"] for _ in range(2000)]
        self.assertEqual(values, list(range(2000)))
        self.assertEqual(c.wait(), 0)

    def test_default_output_folder_is_collected_in_the_current_folder(self):
        cwd = tempfile.mkdtemp(prefix="collector_cwd_")
        self.addCleanup(shutil.rmtree, cwd, True)
        c = self.start("--exit-after", "1", cwd=cwd, out="")
        c.send(data(4, 7, b"xyz"))
        self.assertEqual(c.line()["records"][0]["file"], os.path.join(os.path.realpath(cwd), "collected", "blob-1.bin"))
        self.assertEqual(c.wait(), 0)

    def test_bad_command_lines_and_busy_port_fail_with_status_2(self):
        for argv in (["--exit-after"], ["--listen", "nowhere"], ["--frobnicate"]):
            r = subprocess.run([COLLECTOR] + argv, capture_output=True, timeout=LIMIT)
            self.assertEqual(r.returncode, 2, argv)
            self.assertIn(b"usage: collector", r.stderr)
        c = self.start()
        r = subprocess.run([COLLECTOR, "--listen", "127.0.0.1:%d" % c.listening["port"], "--out", c.out],
                           capture_output=True, timeout=LIMIT)
        self.assertEqual(r.returncode, 2)
        self.assertEqual(r.stdout, b"")


if __name__ == "__main__":
    vxtest.main()
