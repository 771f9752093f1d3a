#include "crashcapture/dump_package.h"

#include <cstring>

const uint8_t kPackageHeader[kPackageHeaderSize] = {'V', 'G', 'Z', 0x00, 0x01};

namespace {

constexpr int kPackageLevel = 9;
constexpr size_t kArenaAlignment = 16;

// zlib's allocator hook: a bump allocator over the reserved arena. Nothing is given back piece by
// piece; the whole arena is reused by the next PieceCompressor.
voidpf ArenaAlloc(voidpf opaque, uInt items, uInt size) {
  PackageMemory* memory = static_cast<PackageMemory*>(opaque);
  size_t bytes = size_t(items) * size_t(size);
  if (size != 0 && bytes / size != items) return Z_NULL;
  size_t start = (memory->arena_used + kArenaAlignment - 1) & ~(kArenaAlignment - 1);
  if (start > sizeof memory->arena || bytes > sizeof memory->arena - start) return Z_NULL;
  memory->arena_used = start + bytes;
  return memory->arena + start;
}

void ArenaFree(voidpf, voidpf) {}

void PutLittleEndian32(uint8_t* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = uint8_t(value >> (8 * i));
}

// Reads until the piece is full or the dump ends, so that short reads do not move the piece
// boundaries: the server inflates each chunk into a buffer of exactly one piece.
int FillPiece(ByteSource* dump, uint8_t* piece) {
  int filled = 0;
  while (filled < kPackagePieceSize) {
    int got = dump->Read(piece + filled, kPackagePieceSize - filled);
    if (got < 0) return -1;
    if (got == 0) break;
    filled += got;
  }
  return filled;
}

}  // namespace

PieceCompressor::PieceCompressor(PackageMemory* memory) : stream_(), ready_(false) {
  memory->arena_used = 0;
  stream_.zalloc = ArenaAlloc;
  stream_.zfree = ArenaFree;
  stream_.opaque = memory;
  // compress2 is deflateInit(level) and one deflate(Z_FINISH): the same parameters give the same
  // bytes, and deflateReset between pieces starts each one exactly as a fresh stream would.
  ready_ = deflateInit(&stream_, kPackageLevel) == Z_OK;
}

PieceCompressor::~PieceCompressor() {
  if (ready_) deflateEnd(&stream_);
}

int PieceCompressor::Compress(const uint8_t* in, int size, uint8_t* out, int capacity) {
  if (!ready_ || size < 0 || capacity <= 0) return 0;
  if (deflateReset(&stream_) != Z_OK) return 0;
  stream_.next_in = const_cast<Bytef*>(in);
  stream_.avail_in = uInt(size);
  stream_.next_out = out;
  stream_.avail_out = uInt(capacity);
  if (deflate(&stream_, Z_FINISH) != Z_STREAM_END) return 0;
  return int(stream_.total_out);
}

bool WritePackage(PackageMemory* memory, ByteSource* dump, ByteSink* package, PackageStats* stats) {
  *stats = PackageStats();
  PieceCompressor compressor(memory);
  if (!compressor.Ready()) return false;
  if (!package->Write(kPackageHeader, kPackageHeaderSize)) return false;
  stats->output_bytes = kPackageHeaderSize;
  for (;;) {
    int size = FillPiece(dump, memory->piece);
    if (size < 0) return false;
    if (size == 0) return true;
    stats->input_bytes += uint64_t(size);
    int compressed = compressor.Compress(memory->piece, size, memory->chunk, kPackageChunkCapacity);
    if (compressed <= 0) {
      ++stats->dropped_pieces;
    } else {
      uint8_t length[4];
      PutLittleEndian32(length, uint32_t(compressed));
      if (!package->Write(length, 4) || !package->Write(memory->chunk, compressed)) return false;
      ++stats->chunks;
      stats->output_bytes += 4 + uint64_t(compressed);
    }
    if (size < kPackagePieceSize) return true;
  }
}
