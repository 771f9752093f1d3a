// Our tables against the ones libjpeg-turbo writes: the Annex K Huffman tables, and quantisation
// tables scaled by quality exactly as that library scales them.
#include <gtest/gtest.h>

#include <map>

#include "jpeg/jpeg_tables.h"
#include "tests/jpeg/jpeg_test_support.h"

namespace {

// DQT payloads hold one or more tables: precision/id byte and 64 bytes each. Keyed by id.
std::map<int, std::vector<uint8_t>> QuantTables(const std::vector<uint8_t>& jpeg) {
  std::map<int, std::vector<uint8_t>> tables;
  for (const auto& segment : jpegtest::SegmentsOf(jpeg, 0xDB)) {
    for (size_t at = 0; at + 65 <= segment.size(); at += 65) {
      tables[segment[at]] = std::vector<uint8_t>(segment.begin() + at + 1, segment.begin() + at + 65);
    }
  }
  return tables;
}

// DHT payloads: class/id byte, 16 counts, the symbols. Keyed by the class/id byte.
std::map<int, std::vector<uint8_t>> HuffmanTables(const std::vector<uint8_t>& jpeg) {
  std::map<int, std::vector<uint8_t>> tables;
  for (const auto& segment : jpegtest::SegmentsOf(jpeg, 0xC4)) {
    size_t at = 0;
    while (at + 17 <= segment.size()) {
      size_t symbols = 0;
      for (int i = 1; i <= 16; ++i) symbols += segment[at + i];
      tables[segment[at]] = std::vector<uint8_t>(segment.begin() + at + 1, segment.begin() + at + 17 + symbols);
      at += 17 + symbols;
    }
  }
  return tables;
}

TEST(JpegTables, QuantisationMatchesLibjpegAtEveryQuality) {
  const jpegtest::BgrImage image = jpegtest::MakeNaturalImage(16, 16, 0, 1);
  for (int quality = 1; quality <= 100; ++quality) {
    SCOPED_TRACE(quality);
    const auto ours = QuantTables(jpegtest::EncodeOurs(image, quality, kJpegKernelAuto).jpeg);
    const auto theirs = QuantTables(jpegtest::EncodeTurbo(image, quality));
    ASSERT_EQ(ours.size(), 2u);
    EXPECT_EQ(ours, theirs);
  }
}

TEST(JpegTables, HuffmanTablesAreTheTypicalOnesLibjpegWrites) {
  const jpegtest::BgrImage image = jpegtest::MakeNaturalImage(16, 16, 0, 1);
  const auto ours = HuffmanTables(jpegtest::EncodeOurs(image, 75, kJpegKernelAuto).jpeg);
  ASSERT_EQ(ours.size(), 4u);
  EXPECT_EQ(ours, HuffmanTables(jpegtest::EncodeTurbo(image, 75)));
}

// A few codes printed in T.81's Tables K.3 to K.6, as BuildHuffmanCodes assigns them.
TEST(JpegTables, CanonicalCodesMatchThePrintedTables) {
  struct Code {
    const vxjpeg::HuffmanSpec* spec;
    int symbol;
    uint16_t code;
    int length;
  };
  const Code codes[] = {
      {&vxjpeg::kDcLumaSpec, 0, 0b00, 2},          {&vxjpeg::kDcLumaSpec, 5, 0b110, 3},
      {&vxjpeg::kDcLumaSpec, 11, 0b111111110, 9},  {&vxjpeg::kDcChromaSpec, 0, 0b00, 2},
      {&vxjpeg::kDcChromaSpec, 11, 0b11111111110, 11},
      {&vxjpeg::kAcLumaSpec, 0x00, 0b1010, 4},     {&vxjpeg::kAcLumaSpec, 0x01, 0b00, 2},
      {&vxjpeg::kAcLumaSpec, 0xF0, 0b11111111001, 11}, {&vxjpeg::kAcLumaSpec, 0xFA, 0xFFFE, 16},
      {&vxjpeg::kAcChromaSpec, 0x00, 0b00, 2},     {&vxjpeg::kAcChromaSpec, 0xF0, 0b1111111010, 10},
  };
  for (const Code& c : codes) {
    SCOPED_TRACE(testing::Message() << "symbol " << c.symbol << " of table " << c.spec);
    vxjpeg::HuffmanCodes built;
    vxjpeg::BuildHuffmanCodes(*c.spec, &built);
    EXPECT_EQ(built.length[c.symbol], c.length);
    EXPECT_EQ(built.code[c.symbol], c.code);
  }
}

}  // namespace
