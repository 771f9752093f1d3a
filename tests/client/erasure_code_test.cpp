#include "client/erasure_code.h"
#include "client/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

namespace {

// Multiplication by shifts and reductions, the definition the tables must agree with.
uint8_t SlowMul(uint8_t a, uint8_t b) {
  unsigned product = 0;
  unsigned x = a;
  for (int bit = 0; bit < 8; ++bit) {
    if (b & (1 << bit)) product ^= x;
    x <<= 1;
    if (x & 0x100) x ^= kGfPolynomial;
  }
  return uint8_t(product);
}

TEST(GaloisField, TablesAgreeWithTheDefinition) {
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) ASSERT_EQ(GfMul(uint8_t(a), uint8_t(b)), SlowMul(uint8_t(a), uint8_t(b))) << a << "*" << b;
  }
  for (int a = 1; a < 256; ++a) EXPECT_EQ(GfMul(uint8_t(a), GfInverse(uint8_t(a))), 1) << a;
}

TEST(GaloisField, RegionOperations) {
  std::vector<uint8_t> src(300), dst(300), expected(300);
  std::mt19937 random(1);
  for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(random()), dst[i] = expected[i] = uint8_t(random());
  GfMulAdd(dst.data(), src.data(), src.size(), 0x53);
  for (size_t i = 0; i < src.size(); ++i) expected[i] ^= SlowMul(0x53, src[i]);
  EXPECT_EQ(dst, expected);
  GfMulAdd(dst.data(), src.data(), src.size(), 0);
  EXPECT_EQ(dst, expected) << "adding zero times a symbol changes nothing";
  GfScale(dst.data(), dst.size(), 0xCA);
  for (size_t i = 0; i < src.size(); ++i) expected[i] = SlowMul(0xCA, expected[i]);
  EXPECT_EQ(dst, expected);
}

TEST(GaloisField, CauchyCoefficientsAreNonzeroAndDistinctInEachRow) {
  for (int r = 0; r < 24; ++r) {
    std::vector<bool> seen(256, false);
    for (int p = 0; p + r < 255 && p < 232; ++p) {
      const uint8_t c = CauchyCoefficient(r, p);
      ASSERT_NE(c, 0);
      EXPECT_FALSE(seen[c]) << r << "," << p;
      seen[c] = true;
      EXPECT_EQ(GfMul(c, uint8_t((255 - r) ^ p)), 1);
    }
  }
}

TEST(Crc32, MatchesZlib) {
  EXPECT_EQ(Crc32Update(0, "123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32Update(0, "", 0), 0u);
  std::mt19937 random(5);
  std::vector<uint8_t> bytes(100000);
  for (uint8_t& b : bytes) b = uint8_t(random());
  const uint32_t whole = Crc32Update(0, bytes.data(), bytes.size());
  EXPECT_EQ(whole, uint32_t(crc32(0, bytes.data(), uInt(bytes.size()))));
  const uint32_t pieces = Crc32Update(Crc32Update(0, bytes.data(), 777), bytes.data() + 777, bytes.size() - 777);
  EXPECT_EQ(pieces, whole) << "the sender may checksum the package piece by piece";
}

}  // namespace
