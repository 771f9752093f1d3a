#include "client/package_part_datagram.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

const char kId[] = "0123456789ABCDEF";
const DatagramIdentity kWho{kId, 7, 20, 300};
constexpr FecParams kSmall = {4, 3, 50, 2};  // 4-byte symbols, 3 per block, 2 repairs, 2 blocks a stripe

std::vector<uint8_t> Build(const PackagePart& part, size_t capacity = kMaxCrashDatagramSize) {
  std::vector<uint8_t> out(capacity);
  out.resize(BuildPackagePartDatagram(out.data(), out.size(), kWho, part));
  return out;
}

TEST(PackagePartDatagram, ByteForByte) {
  const uint8_t data[] = {'V', 'G', 'Z', 0};
  // A 10-byte package: symbols of 4, 4 and 2 bytes; this is its first.
  const std::vector<uint8_t> out = Build(PackagePart{kSmall, 0xA1B2C3D4, 10, 0x01020304, 0, data, 4});
  std::vector<uint8_t> expected = {0, 0, 0, 1, 0, 0, 0, 16};
  expected.insert(expected.end(), kId, kId + 16);
  const uint8_t rest[] = {
      0x00, 0x01, 0x2C, 0x00, 0x14, 0x00, 0x07,  // terminator, identities 4, 3, 1
      0x00, 0x00, 0x00, 0x1A,                    // payload 26 = 22 + 4
      0x01, 0x03, 0x32, 0x02, 0x00, 0x04,        // format, K, P, W, S
      0xA1, 0xB2, 0xC3, 0xD4,                    // crash id
      0x00, 0x00, 0x00, 0x0A,                    // length
      0x01, 0x02, 0x03, 0x04,                    // crc
      0x00, 0x00, 0x00, 0x00,                    // symbol 0
      'V',  'G',  'Z',  0x00,
  };
  expected.insert(expected.end(), rest, rest + sizeof rest);
  EXPECT_EQ(out, expected);
}

TEST(PackagePartDatagram, RoundTripOfSourcesAndRepairs) {
  const uint8_t data[4] = {9, 8, 7, 6};
  struct Case {
    uint32_t id;
    uint32_t length;
  } cases[] = {{0, 4}, {1, 4}, {2, 2}, {RepairSymbolId(0, 0), 4}, {RepairSymbolId(0, 1), 4}};
  for (const Case& c : cases) {
    const std::vector<uint8_t> bytes = Build(PackagePart{kSmall, 5, 10, 77, c.id, data, c.length});
    ASSERT_EQ(bytes.size(), size_t(kHeaderSize + kPartHeaderSize) + c.length) << c.id;
    DatagramHeaderView header;
    PackagePart part;
    ASSERT_EQ(DecodePackagePartDatagram(bytes.data(), bytes.size(), &header, &part), nullptr);
    EXPECT_STREQ(header.machine_id, kId);
    EXPECT_EQ(header.identity4, 300);
    EXPECT_EQ(part.symbol_id, c.id);
    EXPECT_EQ(part.crash_id, 5u);
    EXPECT_EQ(part.package_crc, 77u);
    EXPECT_EQ(part.params.repair_percent, 50);
    ASSERT_EQ(part.data_length, c.length);
    EXPECT_EQ(std::vector<uint8_t>(part.data, part.data + c.length), std::vector<uint8_t>(data, data + c.length));
  }
}

TEST(PackagePartDatagram, TheLargestPartIsTwelveHundredBytes) {
  std::vector<uint8_t> data(kMaxPartSymbolSize, 0x5A);
  const FecParams params = {kMaxPartSymbolSize, 232, 8, 8};
  EXPECT_EQ(Build(PackagePart{params, 1, 1 << 20, 0, 0, data.data(), uint32_t(data.size())}).size(), 1200u);
  FecParams too_big = params;
  too_big.symbol_size = kMaxPartSymbolSize + 1;
  data.push_back(0);
  EXPECT_TRUE(Build(PackagePart{too_big, 1, 1 << 20, 0, 0, data.data(), uint32_t(data.size())}, 2000).empty());
}

TEST(PackagePartDatagram, RefusesPartsNoReceiverWouldPlace) {
  const uint8_t data[4] = {};
  struct Case {
    const char* what;
    PackagePart part;
  } cases[] = {
      {"source past the package", {kSmall, 5, 10, 0, 3, data, 2}},
      {"short symbol that is not the last", {kSmall, 5, 10, 0, 1, data, 2}},
      {"last symbol too long", {kSmall, 5, 10, 0, 2, data, 4}},
      {"repair of a block that is not there", {kSmall, 5, 10, 0, RepairSymbolId(1, 0), data, 4}},
      {"repair index past the block's", {kSmall, 5, 10, 0, RepairSymbolId(0, 2), data, 4}},
      {"no symbol size", {{0, 3, 50, 2}, 5, 10, 0, 0, data, 0}},
      {"empty package", {kSmall, 5, 0, 0, 0, data, 0}},
      {"more than 256 points", {{4, 200, 30, 2}, 5, 10, 0, 0, data, 4}},
  };
  for (const Case& c : cases) EXPECT_TRUE(Build(c.part).empty()) << c.what;
  const DatagramIdentity incomplete{kId, 0, 20, 300};
  std::vector<uint8_t> out(200);
  EXPECT_EQ(BuildPackagePartDatagram(out.data(), out.size(), incomplete, PackagePart{kSmall, 5, 10, 0, 0, data, 4}), 0u);
  EXPECT_EQ(BuildPackagePartDatagram(out.data(), 60, kWho, PackagePart{kSmall, 5, 10, 0, 0, data, 4}), 0u)
      << "no room";
}

TEST(PackagePartDatagram, DecoderRefusesMalformedBytes) {
  const uint8_t data[4] = {1, 2, 3, 4};
  const std::vector<uint8_t> good = Build(PackagePart{kSmall, 5, 10, 0, 1, data, 4});
  DatagramHeaderView header;
  PackagePart part;
  struct Case {
    size_t offset;
    uint8_t value;
    const char* reason;
  } cases[] = {
      {0, 2, "protocol"},        {7, 8, "kind"},          {8, 'a', "machine id"}, {24, 1, "machine id"},
      {34, 0x30, "length mismatch"}, {35, 2, "part format"}, {36, 0, "part parameters"},
      {37, 101, "part parameters"},  {56, 9, "symbol id"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = good;
    bytes[c.offset] = c.value;
    const char* reason = DecodePackagePartDatagram(bytes.data(), bytes.size(), &header, &part);
    EXPECT_STREQ(reason ? reason : "none", c.reason) << c.offset;
  }
  for (size_t cut = 0; cut < good.size(); ++cut) {
    std::vector<uint8_t> bytes(good.begin(), good.begin() + cut);
    if (cut >= size_t(kHeaderSize)) bytes[34] = uint8_t(cut - kHeaderSize);
    EXPECT_NE(DecodePackagePartDatagram(bytes.data(), bytes.size(), &header, &part), nullptr) << cut;
  }
  std::vector<uint8_t> longer = good;
  longer.push_back(0);
  longer[34] += 1;
  EXPECT_STREQ(DecodePackagePartDatagram(longer.data(), longer.size(), &header, &part), "symbol length");
  std::mt19937 random(3);
  for (int round = 0; round < 20000; ++round) {
    std::vector<uint8_t> bytes = good;
    for (int k = 0; k < 2; ++k) bytes[35 + random() % (bytes.size() - 35)] = uint8_t(random());
    if (DecodePackagePartDatagram(bytes.data(), bytes.size(), &header, &part) == nullptr) {
      FecLayout layout;
      ASSERT_TRUE(MakeFecLayout(part.params, part.package_length, &layout));
      ASSERT_TRUE(SymbolIdValid(layout, part.symbol_id));
    }
  }
}

}  // namespace
