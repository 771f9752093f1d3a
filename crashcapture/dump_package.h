// The dump package "TempDump.vgz": the minidump compressed piece by piece. Portable: the Windows
// side hands in the dump file as a ByteSource and the package file as a ByteSink.
//
// Layout (integers little-endian): "VGZ" 0x00, version 0x01, then chunks one after another up to
// the end, each a 32-bit length L > 0 and L bytes of a zlib stream (compress2, level 9) of the next
// 131072-byte piece of the minidump. No count, no trailer: the reader inflates until the end.
#pragma once

#include <cstddef>
#include <cstdint>

#include <zlib.h>

constexpr int kPackagePieceSize = 131072;
// Output room for one piece: zlib 1.2.3's compressBound(131072), which the server side expects as
// the buffer size. Level 9 never needs it all: incompressible data costs 5 bytes per stored block.
constexpr int kPackageChunkCapacity = 131123;
// The largest blob the client sends; a longer package goes out cut at this size.
constexpr int kPackageSendSize = 64512;
constexpr int kPackageHeaderSize = 5;
extern const uint8_t kPackageHeader[kPackageHeaderSize];  // 'V' 'G' 'Z' 0x00, version 0x01

// deflate's working memory at level 9 with zlib's default window (15 bits) and memory level (8):
// the state (about 6 KiB), window, prev and head tables (64 KiB each) and the pending buffer
// (64 KiB). The rest is headroom for another zlib build's bookkeeping.
constexpr size_t kDeflateArenaSize = 320 * 1024;

// Everything the package writer touches, reserved once before any crash: the crash path runs with
// the other threads frozen, possibly inside the heap, so zlib allocates from this arena only.
struct PackageMemory {
  alignas(16) uint8_t arena[kDeflateArenaSize];
  size_t arena_used;
  uint8_t piece[kPackagePieceSize];
  uint8_t chunk[kPackageChunkCapacity];
  uint8_t send[kPackageSendSize];
};

class ByteSource {
 public:
  // Up to size bytes into buffer: the count read, 0 at the end, -1 on an error.
  virtual int Read(void* buffer, int size) = 0;

 protected:
  ~ByteSource() = default;
};

class ByteSink {
 public:
  virtual bool Write(const void* data, int size) = 0;

 protected:
  ~ByteSink() = default;
};

struct PackageStats {
  uint32_t chunks;          // chunks written
  uint32_t dropped_pieces;  // pieces zlib could not compress, left out as the format allows
  uint64_t input_bytes;     // minidump bytes read
  uint64_t output_bytes;    // package bytes written, header included
};

// One deflate stream over the arena, reset between pieces, so that a package of any size needs no
// memory beyond PackageMemory. Each chunk is byte for byte what compress2(level 9) gives.
class PieceCompressor {
 public:
  explicit PieceCompressor(PackageMemory* memory);
  ~PieceCompressor();
  PieceCompressor(const PieceCompressor&) = delete;
  PieceCompressor& operator=(const PieceCompressor&) = delete;

  bool Ready() const { return ready_; }
  // Compresses size bytes of in into out; the compressed length, or 0 when zlib fails (out of
  // room, or the arena could not hold its state).
  int Compress(const uint8_t* in, int size, uint8_t* out, int capacity);

 private:
  z_stream stream_;
  bool ready_;
};

// Writes the whole package: header, then one chunk per piece of the dump. False when the dump
// cannot be read or the package cannot be written; what was written stays (the reader copes with
// a cut package). A piece zlib refuses is dropped and the next one goes on.
bool WritePackage(PackageMemory* memory, ByteSource* dump, ByteSink* package, PackageStats* stats);
