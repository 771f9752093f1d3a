#include "client/datagram.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const char kId[] = "0123456789ABCDEF";

std::vector<uint8_t> Bytes(const uint8_t* p, size_t n) { return std::vector<uint8_t>(p, p + n); }

TEST(WireKey, ScopesOnlyWhenBothArePositive) {
  struct Case {
    int32_t identity3, key;
    uint32_t wire;
  } cases[] = {
      {20, 5, 0x00140005},
      {0x12345, 0x10007, 0x23450007},  // bits above 15 of both are lost
      {0, 5, 5},
      {-3, 5, 5},
      {20, 0, 0},
      {20, -7, uint32_t(-7)},
      {0x7FFFFFFF, 0xFFFF, 0xFFFFFFFF},
  };
  for (const Case& c : cases) EXPECT_EQ(WireKey(c.identity3, c.key), c.wire) << c.identity3 << " " << c.key;
}

TEST(Datagram, CounterExampleByteForByte) {
  DatagramIdentity who{kId, 7, 20, 300};
  NumberRecord record{5, 1000};
  uint8_t out[64];
  ASSERT_EQ(BuildNumbersDatagram(out, sizeof out, who, &record, 1), 43u);
  std::vector<uint8_t> expected = {0, 0, 0, 1, 0, 0, 0, 1};
  expected.insert(expected.end(), kId, kId + 16);
  const uint8_t tail[] = {0x00, 0x01, 0x2C, 0x00, 0x14, 0x00, 0x07, 0x00, 0x00, 0x00,
                          0x08, 0x00, 0x14, 0x00, 0x05, 0x00, 0x00, 0x03, 0xE8};
  expected.insert(expected.end(), tail, tail + sizeof tail);
  EXPECT_EQ(Bytes(out, 43), expected);
  for (size_t i = 43; i < sizeof out; ++i) EXPECT_EQ(out[i], 0) << "buffer is cleared past the datagram";
}

TEST(Datagram, FiftyRecordsMakeOne435ByteDatagram) {
  DatagramIdentity who{kId, 1, 2, 3};
  NumberRecord records[50];
  for (int i = 0; i < 50; ++i) records[i] = NumberRecord{100 + i, uint32_t(i)};
  uint8_t out[1024];
  ASSERT_EQ(BuildNumbersDatagram(out, sizeof out, who, records, 50), 435u);
  EXPECT_EQ(out[34], 400 & 0xFF);
  EXPECT_EQ(out[33], 400 >> 8);
  // last record: key 149 scoped by identity 2, value 49
  EXPECT_EQ(Bytes(out + 427, 8), (std::vector<uint8_t>{0, 2, 0, 149, 0, 0, 0, 49}));
}

TEST(Datagram, TextAndBlobRecords) {
  DatagramIdentity who{kId, 1, 2, 3};
  uint8_t out[128];
  ASSERT_EQ(BuildDataDatagram(out, sizeof out, KIND_TEXT, who, 18, "abc", 3), 46u);
  EXPECT_EQ(out[7], KIND_TEXT);
  EXPECT_EQ(Bytes(out + 31, 4), (std::vector<uint8_t>{0, 0, 0, 11}));
  EXPECT_EQ(Bytes(out + 35, 11), (std::vector<uint8_t>{0, 2, 0, 18, 0, 0, 0, 3, 'a', 'b', 'c'}));

  std::vector<uint8_t> blob(70000, 0x5A);
  std::vector<uint8_t> big(35 + 8 + 64512);
  ASSERT_EQ(BuildDataDatagram(big.data(), big.size(), KIND_BLOB, who, 17, blob.data(), 64512), 64555u);
  EXPECT_EQ(Bytes(big.data() + 31, 4), (std::vector<uint8_t>{0, 0, 0xFC, 0x08}));  // 64520
  EXPECT_EQ(Bytes(big.data() + 39, 4), (std::vector<uint8_t>{0, 0, 0xFC, 0x00}));  // 64512
}

TEST(Datagram, RefusesWhatDoesNotFit) {
  DatagramIdentity who{kId, 1, 2, 3};
  uint8_t out[45];
  EXPECT_EQ(BuildDataDatagram(out, sizeof out, KIND_TEXT, who, 9, "abc", 3), 0u);
  NumberRecord records[2] = {};
  EXPECT_EQ(BuildNumbersDatagram(out, sizeof out, who, records, 2), 0u);
}

}  // namespace
