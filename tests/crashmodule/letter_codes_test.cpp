#include "crashmodule/letter_codes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct LetterCase {
  const char* text;
  uint32_t level;
  uint32_t dump;
  uint32_t log_format;
};

// One row per letter of the three codes, then the mixed cases.
const LetterCase kCases[] = {
    {"N", 0x1, 0x2, 0},           {"T", 0x2, 0, 0x4},        {"E", 0x4, 0x10000, 0},
    {"M", 0x100, 0x2000, 0x2},    {"D", 0x200, 0, 0},        {"O", 0x400, 0, 0},
    {"U", 0x800, 0, 0},           {"C", 0x1000, 0, 0},       {"L", 0x10000, 0x4000, 0},
    {"R", 0x20000, 0, 0},         {"S", 0, 0x1, 0x1},        {"F", 0, 0x4, 0},
    {"A", 0, 0x100, 0},           {"B", 0, 0x200, 0},        {"H", 0, 0x1000, 0},
    {"1", 0, 0x20000, 0},         {"2", 0, 0x40000, 0},      {"3", 0, 0x80000, 0},
    // Lower case counts the same.
    {"n", 0x1, 0x2, 0},           {"r", 0x20000, 0, 0},      {"s", 0, 0x1, 0x1},
    {"md", 0x300, 0x2000, 0x2},   {"xyz", 0, 0, 0},          {"", 0, 0, 0},
    // Repetition, order and other characters do not matter.
    {"DdDd", 0x200, 0, 0},        {"d,n;L", 0x10201, 0x4002, 0},
    {"LN", 0x10001, 0x4002, 0},   {"SE", 0x4, 0x10001, 0x1},
    {"ntemdoucLR", 0x31F07, 0x16002, 0x6},
    {"SNFABHMLE123", 0x10105, 0x000F7307, 0x3},
};

TEST(LetterCodes, EachCodeSetsTheBitsOfItsLettersOnly) {
  for (const LetterCase& row : kCases) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(ParseLevelFlags(row.text), row.level);
    EXPECT_EQ(ParseDumpFlags(row.text), row.dump);
    EXPECT_EQ(ParseLogFormatFlags(row.text), row.log_format);
  }
}

TEST(LetterCodes, NullTextGivesZero) {
  EXPECT_EQ(ParseLevelFlags(nullptr), 0u);
  EXPECT_EQ(ParseDumpFlags(nullptr), 0u);
  EXPECT_EQ(ParseLogFormatFlags(nullptr), 0u);
}

TEST(LetterCodes, OverlongTextIsLookedAtOnlyUpToTheWorkingBuffer) {
  // Letters within the first 1023 characters count; the rest is cut, never read into the buffer.
  const std::string early = "D" + std::string(5000, 'x');
  const std::string late = std::string(1023, 'x') + "D";
  EXPECT_EQ(ParseLevelFlags(early.c_str()), 0x200u);
  EXPECT_EQ(ParseLevelFlags(late.c_str()), 0u);
}

}  // namespace
