#include "datagram_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "collector_test_support.h"

using namespace collector;
using namespace collector_test;

namespace {

DecodeResult Decode(const Buffer& b) { return DecodeDatagram(View(b)); }

// Re-encodes a decoded datagram; a decoder that accepted something must give back its bytes.
Buffer Reencode(const Datagram& d) {
  Header h;
  h.kind = d.kind;
  h.machine_id = d.machine_id;
  h.identity4 = d.identity4;
  h.identity3 = d.identity3;
  h.identity1 = d.identity1;
  if (d.kind == KIND_NUMBERS) {
    std::vector<std::pair<uint32_t, uint32_t>> records;
    for (const NumberRecord& r : d.numbers) records.emplace_back(r.wire_key, r.value);
    return EncodeDatagram(h, NumbersPayload(records));
  }
  return EncodeDatagram(h, DataPayload(d.data_key, Buffer(d.data.data, d.data.data + d.data.size)));
}

}  // namespace

TEST(CollectorDecoder, WorkedExampleCounter) {
  // Identity1 7, Identity3 20, Identity4 300, key 5, value 1000, sent at once.
  const uint8_t bytes[43] = {0, 0, 0, 1, 0, 0, 0, 1, 'A', 'B', 'C', 'D', 'E', 'F', '0', '1', '2', '3', '4', '5',
                             '6', '7', '8', '9', 0, 0x01, 0x2C, 0x00, 0x14, 0x00, 0x07, 0, 0, 0, 8,
                             0x00, 0x14, 0x00, 0x05, 0x00, 0x00, 0x03, 0xE8};
  DecodeResult r = DecodeDatagram(Bytes{bytes, sizeof bytes});
  ASSERT_EQ(r.reason, nullptr);
  EXPECT_EQ(r.datagram.kind, KIND_NUMBERS);
  EXPECT_STREQ(r.datagram.machine_id, "ABCDEF0123456789");
  EXPECT_EQ(r.datagram.identity4, 300);
  EXPECT_EQ(r.datagram.identity3, 20);
  EXPECT_EQ(r.datagram.identity1, 7);
  EXPECT_EQ(r.datagram.payload_length, 8u);
  ASSERT_EQ(r.datagram.numbers.size(), 1u);
  EXPECT_EQ(r.datagram.numbers[0].wire_key, 0x00140005u);
  EXPECT_EQ(WireScope(r.datagram.numbers[0].wire_key), 20);
  EXPECT_EQ(WireKeyLow(r.datagram.numbers[0].wire_key), 5);
  EXPECT_EQ(r.datagram.numbers[0].value, 1000u);
}

TEST(CollectorDecoder, SizeLimitsOfEachKind) {
  Header numbers, text, blob;
  text.kind = KIND_TEXT;
  blob.kind = KIND_BLOB;
  std::vector<std::pair<uint32_t, uint32_t>> fifty(50, {0x23450007, 0xFFFFFFFF});
  DecodeResult flush = Decode(EncodeDatagram(numbers, NumbersPayload(fifty)));
  ASSERT_EQ(flush.reason, nullptr);
  EXPECT_EQ(flush.datagram.numbers.size(), 50u);
  EXPECT_EQ(flush.datagram.payload_length, 400u);

  DecodeResult longest_text = Decode(EncodeDatagram(text, DataPayload(18, Buffer(512, 'x'))));
  ASSERT_EQ(longest_text.reason, nullptr);
  EXPECT_EQ(longest_text.datagram.data.size, 512u);
  EXPECT_EQ(longest_text.datagram.data_key, 18u);

  Buffer largest = EncodeDatagram(blob, DataPayload(0x00140011, Buffer(64512, 0xAB)));
  EXPECT_EQ(largest.size(), 64555u);
  DecodeResult big_blob = Decode(largest);
  ASSERT_EQ(big_blob.reason, nullptr);
  EXPECT_EQ(big_blob.datagram.payload_length, 64520u);
  EXPECT_EQ(big_blob.datagram.data.data, largest.data() + 43);  // a view into the datagram, not a copy
}

TEST(CollectorDecoder, RefusalsNameTheirReason) {
  const Buffer good_text = EncodeDatagram(WithKind(KIND_TEXT), DataPayload(9, Buffer{'h', 'i'}));
  struct Case {
    const char* name;
    std::function<Buffer()> make;
    const char* reason;
  };
  Header h;
  const Case cases[] = {
      {"empty", [] { return Buffer(); }, "short header"},
      {"34 bytes", [&] { return Buffer(good_text.begin(), good_text.begin() + 34); }, "short header"},
      {"protocol 2", [&] { Header x; x.protocol = 2; return EncodeDatagram(x, NumbersPayload({{1, 1}})); }, "protocol"},
      {"protocol 0x01000000", [&] { Header x; x.protocol = 0x01000000; return EncodeDatagram(x, NumbersPayload({{1, 1}})); }, "protocol"},
      {"kind 3", [&] { Header x; x.kind = 3; return EncodeDatagram(x, NumbersPayload({{1, 1}})); }, "kind"},
      {"kind 0", [&] { Header x; x.kind = 0; return EncodeDatagram(x, NumbersPayload({{1, 1}})); }, "kind"},
      {"lower-case id", [&] { Header x; x.machine_id = "0123456789abcdef"; return EncodeDatagram(x, NumbersPayload({{1, 1}})); }, "machine id"},
      {"no terminator", [&] { Buffer b = good_text; b[24] = 'X'; return b; }, "machine id"},
      {"payload longer than said", [&] { Buffer b = good_text; b.push_back(0); return b; }, "length mismatch"},
      {"payload shorter than said", [&] { Buffer b = good_text; b.pop_back(); return b; }, "length mismatch"},
      {"huge payload length", [&] { Buffer b = good_text; b[31] = 0xFF; return b; }, "length mismatch"},
      {"no number record", [&] { return EncodeDatagram(h, Buffer()); }, "record count"},
      {"half a record", [&] { return EncodeDatagram(h, Buffer(12, 0)); }, "record count"},
      {"51 records", [&] { return EncodeDatagram(h, NumbersPayload(std::vector<std::pair<uint32_t, uint32_t>>(51))); }, "record count"},
      {"text without record", [&] { return EncodeDatagram(WithKind(KIND_TEXT), Buffer(7, 0)); }, "short record"},
      {"data length too big", [&] { Buffer b = good_text; b[42] = 3; return b; }, "length mismatch"},
      {"data length 2^32-1", [&] { Buffer b = good_text; b[39] = b[40] = b[41] = b[42] = 0xFF; return b; }, "length mismatch"},
      {"empty text", [&] { return EncodeDatagram(WithKind(KIND_TEXT), DataPayload(9, Buffer())); }, "empty data"},
      {"empty blob", [&] { return EncodeDatagram(WithKind(KIND_BLOB), DataPayload(9, Buffer())); }, "empty data"},
      {"513-byte text", [&] { return EncodeDatagram(WithKind(KIND_TEXT), DataPayload(9, Buffer(513, 'a'))); }, "data too long"},
      {"64513-byte blob", [&] { return EncodeDatagram(WithKind(KIND_BLOB), DataPayload(9, Buffer(64513, 0))); }, "data too long"},
  };
  for (const Case& c : cases) {
    DecodeResult r = Decode(c.make());
    ASSERT_NE(r.reason, nullptr) << c.name;
    EXPECT_STREQ(r.reason, c.reason) << c.name;
  }
}

// Random and mutated datagrams: nothing may read out of bounds (the sanitizers watch), and
// whatever is accepted must be exactly what the client would have sent for the decoded content.
TEST(CollectorDecoder, FuzzRandomAndMutated) {
  std::mt19937 rng(20240607);
  const std::vector<Buffer> seeds = {
      EncodeDatagram(Header(), NumbersPayload({{0x00140005, 1000}, {3, 4}})),
      EncodeDatagram(WithKind(KIND_TEXT), DataPayload(0x00140012, Buffer(100, 'p'))),
      EncodeDatagram(WithKind(KIND_BLOB), DataPayload(0x00140011, Buffer(3000, 0x5A))),
  };
  size_t accepted = 0, refused = 0;
  for (int round = 0; round < 30000; ++round) {
    Buffer b;
    if (round % 4 == 0) {
      b.resize(rng() % 600);
      for (uint8_t& byte : b) byte = static_cast<uint8_t>(rng());
    } else {
      b = seeds[rng() % seeds.size()];
      int edits = 1 + rng() % 4;
      for (int e = 0; e < edits; ++e) {
        size_t at = rng() % b.size();
        switch (rng() % 4) {
          case 0: b[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
          case 1: b[at] = static_cast<uint8_t>(rng()); break;
          case 2: b.resize(at); break;
          default: b.insert(b.begin() + at, static_cast<uint8_t>(rng())); break;
        }
        if (b.empty()) break;
      }
    }
    DecodeResult r = Decode(b);
    if (r.reason) {
      ++refused;
      continue;
    }
    ++accepted;
    ASSERT_EQ(Reencode(r.datagram), b) << "round " << round;
  }
  // Both outcomes must occur, or the mutations tested nothing.
  EXPECT_GT(accepted, 100u);
  EXPECT_GT(refused, 10000u);
}

TEST(CollectorDecoder, NoProperPrefixOfAValidDatagramIsAccepted) {
  const Buffer whole = EncodeDatagram(WithKind(KIND_BLOB), DataPayload(17, Buffer(200, 1)));
  ASSERT_EQ(Decode(whole).reason, nullptr);
  for (size_t n = 0; n < whole.size(); ++n) {
    EXPECT_NE(Decode(Buffer(whole.begin(), whole.begin() + n)).reason, nullptr) << n;
  }
}
