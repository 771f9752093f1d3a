#include "client/package_part_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "client/crc32.h"
#include "client/erasure_code.h"

namespace {

const char kId[] = "0123456789ABCDEF";
const DatagramIdentity kWho{kId, 7, 20, 300};

// The package file, read back in reads of at most `step` bytes, as a slow disk might give them.
class MemorySource : public PackageSource {
 public:
  MemorySource(const std::vector<uint8_t>& bytes, size_t step) : bytes_(bytes), step_(step) {}
  int Read(void* buffer, int size) override {
    const size_t n = std::min({size_t(size), step_, bytes_.size() - at_});
    std::copy(bytes_.begin() + at_, bytes_.begin() + at_ + n, static_cast<uint8_t*>(buffer));
    at_ += n;
    return int(n);
  }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t step_;
  size_t at_ = 0;
};

PackagePartMemory g_memory;  // 174 KiB: too much for a test's stack, as for the crash path's

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(n);
  for (uint8_t& b : bytes) b = uint8_t(random());
  return bytes;
}

std::vector<PackagePart> EncodeAll(const std::vector<uint8_t>& package, const FecParams& params, size_t step,
                                   std::vector<std::vector<uint8_t>>* datagrams) {
  MemorySource source(package, step);
  PackagePartEncoder encoder;
  const PackagePartJob job{kWho, params, 99, uint32_t(package.size()), Crc32Update(0, package.data(), package.size())};
  EXPECT_TRUE(encoder.Begin(&g_memory, job, &source));
  std::vector<PackagePart> parts;
  uint8_t out[kMaxCrashDatagramSize];
  int length;
  while ((length = encoder.Next(out, sizeof out)) > 0) {
    datagrams->emplace_back(out, out + length);
    DatagramHeaderView header;
    PackagePart part;
    const std::vector<uint8_t>& stored = datagrams->back();
    EXPECT_EQ(DecodePackagePartDatagram(stored.data(), stored.size(), &header, &part), nullptr);
    parts.push_back(part);
  }
  EXPECT_EQ(length, 0);
  EXPECT_EQ(encoder.Next(out, sizeof out), 0) << "stays done";
  EXPECT_EQ(encoder.sent(), encoder.total());
  EXPECT_EQ(parts.size(), encoder.total());
  return parts;
}

// Sources in package order per stripe, then the stripe's repairs index by index across blocks.
TEST(PackagePartEncoder, SendOrder) {
  const FecParams params = {16, 4, 50, 2};  // stripes of 8 symbols in 2 blocks, 2 repairs per block of 4
  const std::vector<uint8_t> package = RandomBytes(16 * 11 - 5, 1);  // 11 symbols: stripes of 8 and 3
  std::vector<std::vector<uint8_t>> datagrams;
  const std::vector<PackagePart> parts = EncodeAll(package, params, 1000, &datagrams);
  const uint32_t r = kRepairSymbolFlag;
  const std::vector<uint32_t> expected = {
      0, 1, 2, 3, 4, 5, 6, 7, r | 0x000, r | 0x100, r | 0x001, r | 0x101,
      // The last stripe's 3 symbols make one block of 3 with ceil(1.5) = 2 repairs.
      8, 9, 10, r | 0x200, r | 0x201};
  std::vector<uint32_t> ids;
  for (const PackagePart& part : parts) ids.push_back(part.symbol_id);
  EXPECT_EQ(ids, expected);
  EXPECT_EQ(datagrams[14].size(), size_t(kHeaderSize + kPartHeaderSize + 11)) << "the last source is short";
}

// Each repair is the Cauchy-weighted sum of its block's sources, whatever the reads' sizes.
TEST(PackagePartEncoder, RepairsAreTheCodesSums) {
  const FecParams params = {64, 5, 60, 3};
  const std::vector<uint8_t> package = RandomBytes(64 * 37 + 9, 2);
  for (size_t step : {size_t(1), size_t(7), size_t(64), size_t(100000)}) {
    std::vector<std::vector<uint8_t>> datagrams;
    const std::vector<PackagePart> parts = EncodeAll(package, params, step, &datagrams);
    FecLayout layout;
    ASSERT_TRUE(MakeFecLayout(params, uint32_t(package.size()), &layout));
    size_t repairs = 0;
    for (const PackagePart& part : parts) {
      if (!(part.symbol_id & kRepairSymbolFlag)) {
        const uint8_t* at = &package[size_t(part.symbol_id) * params.symbol_size];
        EXPECT_TRUE(std::equal(part.data, part.data + part.data_length, at));
        continue;
      }
      ++repairs;
      const uint32_t block = (part.symbol_id & ~kRepairSymbolFlag) >> 8;
      const int repair = int(part.symbol_id & 0xFF);
      std::vector<uint8_t> sum(params.symbol_size, 0);
      for (uint32_t p = 0; p < BlockSourceCount(layout, block); ++p) {
        const uint32_t symbol = SourceAt(layout, block, p);
        GfMulAdd(sum.data(), &package[size_t(symbol) * params.symbol_size], SourceLength(layout, symbol),
                 CauchyCoefficient(repair, int(p)));
      }
      EXPECT_EQ(std::vector<uint8_t>(part.data, part.data + part.data_length), sum) << std::hex << part.symbol_id;
    }
    EXPECT_EQ(repairs, layout.repair_count);
  }
}

TEST(PackagePartEncoder, LibraryParametersFitTheDatagramAndTheMemory) {
  const std::vector<uint8_t> package = RandomBytes(3 << 20, 3);  // two full stripes and a part
  std::vector<std::vector<uint8_t>> datagrams;
  EncodeAll(package, kPackagePartParams, 65536, &datagrams);
  size_t bytes = 0;
  for (const auto& d : datagrams) {
    EXPECT_LE(d.size(), size_t(kMaxCrashDatagramSize));
    bytes += d.size();
  }
  EXPECT_LT(double(bytes) / double(package.size()), 1.15) << "extra bytes over the package";
}

TEST(PackagePartEncoder, AShortFileEndsTheJobWithAnError) {
  const std::vector<uint8_t> package = RandomBytes(5000, 4);
  MemorySource source(package, 4096);
  PackagePartEncoder encoder;
  PackagePartJob job{kWho, kPackagePartParams, 1, 6000, 0};  // announces more than the file holds
  ASSERT_TRUE(encoder.Begin(&g_memory, job, &source));
  uint8_t out[kMaxCrashDatagramSize];
  int length;
  int sent = 0;
  while ((length = encoder.Next(out, sizeof out)) > 0) ++sent;
  EXPECT_EQ(length, -1);
  EXPECT_EQ(sent, 4) << "the whole symbols before the end of the file went out";
  EXPECT_EQ(encoder.Next(out, sizeof out), -1);
}

TEST(PackagePartEncoder, RefusesJobsItCannotDo) {
  const std::vector<uint8_t> package = RandomBytes(100, 5);
  MemorySource source(package, 100);
  PackagePartEncoder encoder;
  uint8_t out[kMaxCrashDatagramSize];
  struct Case {
    const char* what;
    PackagePartJob job;
  } cases[] = {
      {"identities incomplete", {{kId, 7, 20, 0}, kPackagePartParams, 1, 100, 0}},
      {"empty package", {kWho, kPackagePartParams, 1, 0, 0}},
      {"more blocks a stripe than the memory holds", {kWho, {1143, 232, 8, kMaxStripeBlocks + 1}, 1, 100, 0}},
      {"more repairs a block than the memory holds", {kWho, {1143, 200, 20, 8}, 1, 100, 0}},
      {"symbols larger than a datagram", {kWho, {kMaxPartSymbolSize + 1, 232, 8, 8}, 1, 100, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(encoder.Begin(&g_memory, c.job, &source)) << c.what;
    EXPECT_EQ(encoder.Next(out, sizeof out), -1) << c.what;
    EXPECT_EQ(encoder.total(), 0u) << c.what;
  }
}

}  // namespace
