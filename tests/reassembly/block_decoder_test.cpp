#include "block_decoder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "client/erasure_code.h"

namespace {

// A block of k random sources and their r repairs, as the sender's code makes them.
struct TestBlock {
  TestBlock(uint32_t k, uint32_t r, size_t size, uint32_t seed) : k(k), r(r), size(size), original((k + r) * size) {
    std::mt19937 random(seed);
    for (size_t i = 0; i < k * size; ++i) original[i] = uint8_t(random());
    for (uint32_t j = 0; j < r; ++j) {
      for (uint32_t p = 0; p < k; ++p) {
        GfMulAdd(&original[(k + j) * size], &original[p * size], size, CauchyCoefficient(int(j), int(p)));
      }
    }
  }

  // Loses the symbols whose bits are set in `lost` (or listed), rebuilds, and says whether the
  // sources came back exactly. A failed rebuild must leave the lost symbols unfilled.
  bool LoseAndRebuild(const std::vector<uint32_t>& lost_symbols, bool* rebuilt) {
    std::vector<uint8_t> bytes = original;
    reassembly::CodedBlock block{size, k, r, {}, std::vector<bool>(k + r, true)};
    for (uint32_t s : lost_symbols) {
      std::fill(&bytes[s * size], &bytes[(s + 1) * size], 0xEE);
      block.present[s] = false;
    }
    for (uint32_t i = 0; i < k + r; ++i) block.symbols.push_back(&bytes[i * size]);
    *rebuilt = reassembly::RebuildBlock(block);
    if (!*rebuilt) {
      for (uint32_t s : lost_symbols) {
        if (block.present[s] || bytes[s * size] != 0xEE) return false;
      }
      return true;
    }
    return std::equal(bytes.begin(), bytes.begin() + long(k * size), original.begin());
  }

  uint32_t k, r;
  size_t size;
  std::vector<uint8_t> original;
};

std::vector<uint32_t> Bits(uint32_t mask) {
  std::vector<uint32_t> out;
  for (uint32_t i = 0; i < 32; ++i) {
    if (mask & (1u << i)) out.push_back(i);
  }
  return out;
}

// Every pattern of up to r losses among the k + r symbols is repaired; every pattern of more is
// refused, with nothing made up.
TEST(BlockDecoder, EveryLossPatternOfSmallBlocks) {
  const uint32_t shapes[][2] = {{5, 3}, {3, 3}, {1, 1}, {8, 2}, {4, 0}, {2, 6}};
  for (const auto& shape : shapes) {
    TestBlock block(shape[0], shape[1], 13, shape[0] * 31 + shape[1]);
    const uint32_t n = shape[0] + shape[1];
    int repaired = 0, refused = 0;
    for (uint32_t mask = 0; mask < (1u << n); ++mask) {
      const std::vector<uint32_t> lost = Bits(mask);
      bool rebuilt = false;
      ASSERT_TRUE(block.LoseAndRebuild(lost, &rebuilt)) << shape[0] << "+" << shape[1] << " mask " << mask;
      EXPECT_EQ(rebuilt, lost.size() <= shape[1]) << shape[0] << "+" << shape[1] << " mask " << mask;
      (rebuilt ? repaired : refused)++;
    }
    EXPECT_GT(repaired, 0);
  }
}

// The library's full block: 232 sources and 19 repairs, at the largest symbol size.
TEST(BlockDecoder, FullBlocksSurviveAnyNineteenLosses) {
  TestBlock block(232, 19, 1143, 9);
  std::mt19937 random(11);
  std::vector<uint32_t> all(251);
  for (uint32_t i = 0; i < 251; ++i) all[i] = i;
  for (int round = 0; round < 40; ++round) {
    std::shuffle(all.begin(), all.end(), random);
    const size_t count = round < 30 ? 19 : 20;
    std::vector<uint32_t> lost(all.begin(), all.begin() + long(count));
    bool rebuilt = false;
    ASSERT_TRUE(block.LoseAndRebuild(lost, &rebuilt));
    EXPECT_EQ(rebuilt, count == 19) << round;
  }
  // The worst case for the solver: every one of the first 19 sources lost.
  std::vector<uint32_t> first(19);
  for (uint32_t i = 0; i < 19; ++i) first[i] = i;
  bool rebuilt = false;
  EXPECT_TRUE(block.LoseAndRebuild(first, &rebuilt));
  EXPECT_TRUE(rebuilt);
}

}  // namespace
