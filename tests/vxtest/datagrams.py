"""Datagrams as the library sends them, built in Python for drivers that play the library's part."""
import struct
import zlib

from vxtest.crash_files import PACKAGE_MAGIC, PACKAGE_PIECE


def header(kind, payload_length, machine_id=b"89ABCDEF01234567", ids=(300, 20, 7)):
    """The 35-byte header: protocol 1, the kind, the machine, the three identities, the length."""
    return struct.pack(">II16sBHHHI", 1, kind, machine_id, 0, ids[0], ids[1], ids[2], payload_length)


def numbers(*records):
    """A number report of (wire key, value) records."""
    payload = b"".join(struct.pack(">II", k, v) for k, v in records)
    return header(1, len(payload)) + payload


def data(kind, wire_key, body):
    """A text (kind 2) or blob (kind 4) report."""
    return header(kind, 8 + len(body)) + struct.pack(">II", wire_key, len(body)) + body


def package(dump):
    """A dump package as the library writes it: the magic, then one zlib stream per piece."""
    out = PACKAGE_MAGIC
    for at in range(0, len(dump), PACKAGE_PIECE):
        chunk = zlib.compress(dump[at:at + PACKAGE_PIECE], 9)
        out += struct.pack("<I", len(chunk)) + chunk
    return out
