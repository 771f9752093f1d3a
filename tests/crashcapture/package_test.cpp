// The dump package framing: header, chunk boundaries, compress2-equal chunks, short reads and
// failures of either side.
#include <zlib.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "crashcapture/dump_package.h"

namespace {

using Bytes = std::vector<uint8_t>;

class MemorySource : public ByteSource {
 public:
  MemorySource(const Bytes& data, int max_read = 1 << 30, size_t fail_at = SIZE_MAX)
      : data_(data), max_read_(max_read), fail_at_(fail_at) {}
  int Read(void* buffer, int size) override {
    if (pos_ >= fail_at_) return -1;
    size_t n = std::min<size_t>({size_t(size), size_t(max_read_), data_.size() - pos_});
    if (n > 0) memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    return int(n);
  }

 private:
  const Bytes& data_;
  int max_read_;
  size_t fail_at_;
  size_t pos_ = 0;
};

class MemorySink : public ByteSink {
 public:
  explicit MemorySink(size_t limit = SIZE_MAX) : limit_(limit) {}
  bool Write(const void* data, int size) override {
    if (bytes.size() + size_t(size) > limit_) return false;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    bytes.insert(bytes.end(), p, p + size);
    return true;
  }
  Bytes bytes;

 private:
  size_t limit_;
};

struct Chunk {
  Bytes compressed;
};

// The server's reading of a package: the header, then length-prefixed zlib streams to the end.
bool SplitPackage(const Bytes& package, std::vector<Chunk>* chunks) {
  if (package.size() < size_t(kPackageHeaderSize) ||
      memcmp(package.data(), "VGZ\0\x01", kPackageHeaderSize) != 0) {
    return false;
  }
  size_t pos = kPackageHeaderSize;
  while (pos < package.size()) {
    if (package.size() - pos < 4) return false;
    uint32_t length = uint32_t(package[pos]) | uint32_t(package[pos + 1]) << 8 |
                      uint32_t(package[pos + 2]) << 16 | uint32_t(package[pos + 3]) << 24;
    pos += 4;
    if (length == 0 || package.size() - pos < length) return false;
    chunks->push_back(Chunk{Bytes(package.begin() + long(pos), package.begin() + long(pos + length))});
    pos += length;
  }
  return true;
}

Bytes Inflate(const Bytes& compressed) {
  Bytes out(kPackagePieceSize);
  uLongf size = uLongf(out.size());
  EXPECT_EQ(uncompress(out.data(), &size, compressed.data(), uLong(compressed.size())), Z_OK);
  out.resize(size);
  return out;
}

Bytes Compress2(const uint8_t* data, size_t size) {
  Bytes out(kPackageChunkCapacity);
  uLongf out_size = uLongf(out.size());
  EXPECT_EQ(compress2(out.data(), &out_size, data, uLong(size), 9), Z_OK);
  out.resize(out_size);
  return out;
}

// Something like a minidump: runs of zeros, repeated structures and noise.
Bytes DumpLike(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) {
    size_t region = (i / 4096) % 3;
    out[i] = region == 0 ? 0 : region == 1 ? uint8_t(i * 7) : uint8_t(random());
  }
  return out;
}

std::unique_ptr<PackageMemory> NewMemory() { return std::make_unique<PackageMemory>(); }

}  // namespace

struct BoundaryCase {
  size_t dump_size;
  uint32_t chunks;
};

class PackageBoundaries : public ::testing::TestWithParam<BoundaryCase> {};

TEST_P(PackageBoundaries, ChunksInflateToTheDumpAndEqualCompress2OfEachPiece) {
  const BoundaryCase& c = GetParam();
  Bytes dump = DumpLike(c.dump_size, 7);
  auto memory = NewMemory();
  MemorySource source(dump);
  MemorySink sink;
  PackageStats stats;
  ASSERT_TRUE(WritePackage(memory.get(), &source, &sink, &stats));
  EXPECT_EQ(stats.chunks, c.chunks);
  EXPECT_EQ(stats.input_bytes, c.dump_size);
  EXPECT_EQ(stats.output_bytes, sink.bytes.size());
  EXPECT_EQ(stats.dropped_pieces, 0u);

  std::vector<Chunk> chunks;
  ASSERT_TRUE(SplitPackage(sink.bytes, &chunks));
  ASSERT_EQ(chunks.size(), c.chunks);
  Bytes joined;
  for (size_t i = 0; i < chunks.size(); ++i) {
    size_t start = i * kPackagePieceSize;
    size_t size = std::min<size_t>(kPackagePieceSize, c.dump_size - start);
    EXPECT_EQ(chunks[i].compressed, Compress2(dump.data() + start, size)) << "chunk " << i;
    Bytes piece = Inflate(chunks[i].compressed);
    joined.insert(joined.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(joined, dump);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PackageBoundaries,
                         ::testing::Values(BoundaryCase{0, 0}, BoundaryCase{1, 1},
                                           BoundaryCase{131071, 1}, BoundaryCase{131072, 1},
                                           BoundaryCase{131073, 2}, BoundaryCase{262144, 2},
                                           BoundaryCase{3 * 131072 + 5, 4}));

TEST(Package, ExactlyOnePieceGivesOneChunkAndOneMoreByteASecondChunkOfOneByte) {
  for (size_t size : {size_t(131072), size_t(131073)}) {
    Bytes dump = DumpLike(size, 3);
    auto memory = NewMemory();
    MemorySource source(dump);
    MemorySink sink;
    PackageStats stats;
    ASSERT_TRUE(WritePackage(memory.get(), &source, &sink, &stats));
    std::vector<Chunk> chunks;
    ASSERT_TRUE(SplitPackage(sink.bytes, &chunks));
    ASSERT_EQ(chunks.size(), size == 131072 ? 1u : 2u);
    if (size == 131073) {
      EXPECT_EQ(Inflate(chunks[1].compressed), Bytes(1, dump.back()));
    }
  }
}

TEST(Package, IncompressiblePiecesStillFitTheChunkBuffer) {
  Bytes noise(2 * kPackagePieceSize);
  std::mt19937 random(11);
  for (uint8_t& b : noise) b = uint8_t(random());
  auto memory = NewMemory();
  MemorySource source(noise);
  MemorySink sink;
  PackageStats stats;
  ASSERT_TRUE(WritePackage(memory.get(), &source, &sink, &stats));
  EXPECT_EQ(stats.chunks, 2u);
  EXPECT_EQ(stats.dropped_pieces, 0u);
  std::vector<Chunk> chunks;
  ASSERT_TRUE(SplitPackage(sink.bytes, &chunks));
  EXPECT_EQ(chunks[0].compressed, Compress2(noise.data(), kPackagePieceSize));
  EXPECT_GT(chunks[0].compressed.size(), size_t(kPackagePieceSize));  // stored blocks: bigger
  EXPECT_LE(chunks[0].compressed.size(), size_t(kPackageChunkCapacity));
}

TEST(Package, ShortReadsDoNotMoveThePieceBoundaries) {
  Bytes dump = DumpLike(300000, 5);
  auto memory = NewMemory();
  MemorySource whole(dump);
  MemorySink whole_sink;
  PackageStats stats;
  ASSERT_TRUE(WritePackage(memory.get(), &whole, &whole_sink, &stats));
  MemorySource trickle(dump, 1000);
  MemorySink trickle_sink;
  ASSERT_TRUE(WritePackage(memory.get(), &trickle, &trickle_sink, &stats));
  EXPECT_EQ(trickle_sink.bytes, whole_sink.bytes);
  EXPECT_EQ(stats.chunks, 3u);
}

TEST(Package, AReadErrorOrAFullDiskEndsThePackageWithFalseAndKeepsWhatWasWritten) {
  Bytes dump = DumpLike(3 * kPackagePieceSize, 9);
  auto memory = NewMemory();
  PackageStats stats;

  MemorySource failing(dump, 1 << 30, size_t(kPackagePieceSize));  // fails after one piece
  MemorySink sink;
  EXPECT_FALSE(WritePackage(memory.get(), &failing, &sink, &stats));
  EXPECT_EQ(stats.chunks, 1u);
  std::vector<Chunk> chunks;
  EXPECT_TRUE(SplitPackage(sink.bytes, &chunks));
  EXPECT_EQ(chunks.size(), 1u);

  MemorySource source(dump);
  MemorySink tiny(3);  // not even the header fits
  EXPECT_FALSE(WritePackage(memory.get(), &source, &tiny, &stats));
  EXPECT_EQ(stats.chunks, 0u);
}

TEST(PieceCompressor, ReusedForManyPiecesGivesCompress2sBytesEachTime) {
  auto memory = NewMemory();
  PieceCompressor compressor(memory.get());
  ASSERT_TRUE(compressor.Ready());
  // Its whole working memory comes from the arena, which holds it with room left.
  EXPECT_GT(memory->arena_used, 0u);
  EXPECT_LT(memory->arena_used, kDeflateArenaSize);
  for (unsigned seed = 0; seed < 4; ++seed) {
    Bytes piece = DumpLike(kPackagePieceSize - seed * 1000, seed);
    int n = compressor.Compress(piece.data(), int(piece.size()), memory->chunk, kPackageChunkCapacity);
    ASSERT_GT(n, 0);
    EXPECT_EQ(Bytes(memory->chunk, memory->chunk + n), Compress2(piece.data(), piece.size()));
  }
}

TEST(PieceCompressor, TooLittleOutputRoomIsAFailureNotACutChunk) {
  auto memory = NewMemory();
  PieceCompressor compressor(memory.get());
  Bytes noise(4096);
  std::mt19937 random(1);
  for (uint8_t& b : noise) b = uint8_t(random());
  EXPECT_EQ(compressor.Compress(noise.data(), int(noise.size()), memory->chunk, 100), 0);
  // And the stream is fine for the next piece.
  int n = compressor.Compress(noise.data(), int(noise.size()), memory->chunk, kPackageChunkCapacity);
  EXPECT_EQ(Bytes(memory->chunk, memory->chunk + n), Compress2(noise.data(), noise.size()));
}
