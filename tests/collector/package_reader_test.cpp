#include "package_reader.h"

#include <gtest/gtest.h>

#include <random>

#include "collector_test_support.h"

using namespace collector;
using namespace collector_test;

namespace {

Buffer Pattern(size_t size, uint32_t seed) {
  // Half repeating, half random: compressible, but not to nothing.
  std::mt19937 rng(seed);
  Buffer b(size);
  for (size_t i = 0; i < size; ++i) b[i] = (i / 64) % 2 ? static_cast<uint8_t>(rng()) : static_cast<uint8_t>(i);
  return b;
}

// Offsets just past each complete chunk of a package.
std::vector<size_t> ChunkEnds(const Buffer& package) {
  std::vector<size_t> ends;
  size_t at = 5;
  while (at + 4 <= package.size()) {
    at += 4 + (package[at] | package[at + 1] << 8 | package[at + 2] << 16 | size_t{package[at + 3]} << 24);
    ends.push_back(at);
  }
  return ends;
}

}  // namespace

TEST(CollectorPackage, PieceBoundaries) {
  for (size_t size : {size_t{1}, size_t{131071}, size_t{131072}, size_t{131073}, size_t{3 * 131072 + 5}}) {
    Buffer dump = Pattern(size, 1);
    PackageResult r = ReadPackage(View(BuildPackage(dump)));
    EXPECT_TRUE(r.header_ok);
    EXPECT_TRUE(r.error.empty()) << size << ": " << r.error;
    EXPECT_FALSE(r.truncated);
    EXPECT_EQ(r.chunks, (size + 131071) / 131072) << size;
    EXPECT_TRUE(r.minidump == dump) << size;
  }
  // The header alone is a sound, empty package.
  PackageResult empty = ReadPackage(View(Buffer{'V', 'G', 'Z', 0, 1}));
  EXPECT_TRUE(empty.header_ok && empty.error.empty() && !empty.truncated);
  EXPECT_EQ(empty.chunks, 0u);
}

// Every cut of a real package, as the blob limit makes one: the complete chunks inflate to the
// start of the dump, and the package is truncated exactly when the cut falls inside a chunk.
TEST(CollectorPackage, EveryCutKeepsTheCompleteChunks) {
  Buffer dump = ReadFile(DataPath("crash.dmp"));
  ASSERT_GT(dump.size(), 131072u);
  Buffer package = BuildPackage(dump);
  std::vector<size_t> ends = ChunkEnds(package);
  ASSERT_EQ(ends.size(), (dump.size() + 131071) / 131072);
  for (size_t cut = 0; cut <= package.size(); cut += (cut < 40 ? 1 : 97)) {
    PackageResult r = ReadPackage(Bytes{package.data(), cut});
    size_t complete = 0;
    while (complete < ends.size() && ends[complete] <= cut) ++complete;
    bool on_boundary = cut == 5 || (complete > 0 && ends[complete - 1] == cut);
    EXPECT_EQ(r.truncated, !on_boundary) << cut;
    EXPECT_EQ(r.chunks, complete) << cut;
    ASSERT_EQ(r.minidump.size(), std::min(dump.size(), complete * 131072)) << cut;
    EXPECT_TRUE(std::equal(r.minidump.begin(), r.minidump.end(), dump.begin())) << cut;
    EXPECT_EQ(r.error.empty(), cut >= 5) << cut;
  }
  for (size_t end : ends) {
    PackageResult r = ReadPackage(Bytes{package.data(), end});
    EXPECT_FALSE(r.truncated) << end;
  }
}

TEST(CollectorPackage, DamagedPackages) {
  Buffer good = BuildPackage(Pattern(200000, 2));
  auto with = [&](size_t at, uint8_t value) {
    Buffer b = good;
    b[at] = value;
    return b;
  };
  Buffer one_piece_too_big = {'V', 'G', 'Z', 0, 1};
  {
    Buffer big = Pattern(131073, 3);
    uLongf out = compressBound(big.size());
    Buffer chunk(out);
    compress2(chunk.data(), &out, big.data(), big.size(), 9);
    PutLe32(&one_piece_too_big, static_cast<uint32_t>(out));
    one_piece_too_big.insert(one_piece_too_big.end(), chunk.begin(), chunk.begin() + out);
  }
  Buffer trailing = BuildPackage(Pattern(10, 4));
  trailing[5] += 1;  // the chunk's length now covers one byte beyond its zlib stream
  trailing.push_back(0);
  Buffer zero_length = good;
  zero_length.resize(ChunkEnds(good)[0]);
  PutLe32(&zero_length, 0);

  struct Case {
    const char* name;
    Buffer package;
    const char* error;
    size_t chunks;
  };
  const Case cases[] = {
      {"4 bytes", Buffer{'V', 'G', 'Z', 0}, "package shorter than its header", 0},
      {"bad magic", with(0, 'W'), "bad magic", 0},
      {"version 2", with(4, 2), "unknown version 2", 0},
      {"corrupt first chunk", with(10, good[10] ^ 0xFF), "chunk 1: corrupt zlib data", 0},
      {"piece too big", one_piece_too_big, "chunk 1: inflates past 131072 bytes", 0},
      {"bytes after stream", trailing, "chunk 1: bytes after the zlib stream", 0},
      {"zero length", zero_length, "chunk 2: length 0", 1},
  };
  for (const Case& c : cases) {
    PackageResult r = ReadPackage(View(c.package));
    EXPECT_EQ(r.error, c.error) << c.name;
    EXPECT_EQ(r.chunks, c.chunks) << c.name;
    EXPECT_EQ(r.minidump.size(), c.chunks * 131072) << c.name;
  }
  PackageResult limited = ReadPackage(View(good), 131072);
  EXPECT_EQ(limited.error.rfind("chunk 2: minidump too large", 0), 0u) << limited.error;
  EXPECT_EQ(limited.chunks, 1u);
}

// Mutated packages: no crash or overrun, and the result is always consistent with itself.
TEST(CollectorPackage, FuzzMutated) {
  std::mt19937 rng(77);
  Buffer seed = BuildPackage(Pattern(300000, 5));
  for (int round = 0; round < 3000; ++round) {
    Buffer b = seed;
    int edits = 1 + rng() % 3;
    for (int e = 0; e < edits && !b.empty(); ++e) {
      size_t at = rng() % (rng() % 4 == 0 ? std::min<size_t>(b.size(), 16) : b.size());
      switch (rng() % 3) {
        case 0: b[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
        case 1: b[at] = static_cast<uint8_t>(rng()); break;
        default: b.resize(at); break;
      }
    }
    PackageResult r = ReadPackage(View(b));
    ASSERT_LE(r.minidump.size(), r.chunks * 131072);
    if (!r.header_ok) {
      ASSERT_EQ(r.chunks, 0u);
    }
    // A package read without complaint was consumed chunk by chunk up to its last byte.
    if (r.header_ok && r.error.empty() && !r.truncated) {
      std::vector<size_t> ends = ChunkEnds(b);
      ASSERT_EQ(ends.size(), r.chunks) << round;
      ASSERT_EQ(r.chunks ? ends.back() : 5u, b.size()) << round;
    }
  }
}
