"""Readers of what a crash leaves: the minidump, the dump package, the screenshot's JPEG.

Each checks the structure it walks and raises ValueError on bytes that do not hold it, so a
damaged file fails the test that reads it rather than yielding empty results.
"""
import struct
import zlib

PACKAGE_MAGIC = b"VGZ\x00\x01"
PACKAGE_PIECE = 131072   # the most one compressed stream of a package inflates to
SEND_LIMIT = 64512       # a package travels cut to this many bytes

EXCEPTION_STREAM = 6
THREAD_LIST_STREAM = 3
MEMORY64_LIST_STREAM = 9
EXTRA_INFO_STREAM = 0x10001
SCREENSHOT_STREAM = 0x10002
USER_TEXT_STREAMS = (0x10003, 0x10004, 0x10005)


def inflate_package(package):
    """The server's reading: header, then length-prefixed zlib streams of up to one piece each.
    Returns (the minidump, the number of streams)."""
    if package[:5] != PACKAGE_MAGIC:
        raise ValueError("not a dump package: %r" % package[:5])
    pos, out, chunks = 5, bytearray(), 0
    while pos < len(package):
        if pos + 4 > len(package):
            raise ValueError("a stream length cut at %d" % pos)
        (length,) = struct.unpack_from("<I", package, pos)
        if length == 0 or pos + 4 + length > len(package):
            raise ValueError("stream at %d of %d bytes runs past the end" % (pos, length))
        piece = zlib.decompress(package[pos + 4:pos + 4 + length])
        if not 0 < len(piece) <= PACKAGE_PIECE:
            raise ValueError("stream at %d inflates to %d bytes" % (pos, len(piece)))
        out += piece
        chunks += 1
        pos += 4 + length
    return bytes(out), chunks


class Minidump:
    """Just enough of the minidump format: header, stream directory, exception record, thread ids."""

    HEADER = struct.Struct("<4sIIIIIQ")
    DIRECTORY_ENTRY = struct.Struct("<III")

    def __init__(self, data):
        if len(data) < self.HEADER.size:
            raise ValueError("a minidump header needs %d bytes, got %d" % (self.HEADER.size, len(data)))
        sig, _version, count, rva, _checksum, _time, self.flags = self.HEADER.unpack_from(data, 0)
        if sig != b"MDMP":
            raise ValueError("not a minidump: %r" % sig)
        if rva + count * self.DIRECTORY_ENTRY.size > len(data):
            raise ValueError("the stream directory runs past the end")
        self.data = data
        self.streams = {}
        for i in range(count):
            kind, size, at = self.DIRECTORY_ENTRY.unpack_from(data, rva + self.DIRECTORY_ENTRY.size * i)
            if at + size > len(data):
                raise ValueError("stream 0x%x runs past the end" % kind)
            if kind:
                self.streams[kind] = data[at:at + size]

    def exception(self):
        """(thread id, exception code, exception address) of the exception stream."""
        thread_id, _align, code, _flags, _record, address = struct.unpack_from(
            "<IIIIQQ", self.streams[EXCEPTION_STREAM], 0)
        return thread_id, code, address

    def thread_ids(self):
        """The ids of the thread list, in order (each MINIDUMP_THREAD is 48 bytes, its id first)."""
        data = self.streams[THREAD_LIST_STREAM]
        count, = struct.unpack_from("<I", data, 0)
        return [struct.unpack_from("<I", data, 4 + 48 * i)[0] for i in range(count)]

    def user_streams(self):
        """{type: bytes} of the streams of type 0x10000 and above."""
        return {kind: data for kind, data in self.streams.items() if kind >= 0x10000}


def jpeg_size(jpeg):
    """(width, height) from the first start-of-frame marker; None when there is none."""
    pos = 2
    while pos + 9 <= len(jpeg) and jpeg[pos] == 0xFF:
        marker, length = jpeg[pos + 1], struct.unpack_from(">H", jpeg, pos + 2)[0]
        if 0xC0 <= marker <= 0xC3:
            height, width = struct.unpack_from(">HH", jpeg, pos + 5)
            return width, height
        pos += 2 + length
    return None
