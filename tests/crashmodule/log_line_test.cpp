#include "crashmodule/log_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Display(const char* message, const char* source, uint32_t level, uint32_t address) {
  char line[1024];
  const size_t length = FormatDisplayLine(line, sizeof line, message, source, kLevelNames[level],
                                          address);
  EXPECT_EQ(length, std::strlen(line));
  return line;
}

TEST(LogLine, WarnWithNullSourceAndMessage) {
  EXPECT_EQ(Display(nullptr, nullptr, kLogWarn, 0x0040ABCD),
            "[Velmor]\xBE\xAF\xB8\xE6- " " - [@P#]0x0040ABCD\n");
}

TEST(LogLine, EachLevelNameInItsGbkBytes) {
  const char* const kExpected[kLogLevelCount] = {
      "[src]\xB5\xF7\xCA\xD4- msg - [@P#]0x00000001\n",
      "[src]\xBE\xAF\xB8\xE6- msg - [@P#]0x00000001\n",
      "[src]\xD1\xCF\xD6\xD8\xB4\xED\xCE\xF3- msg - [@P#]0x00000001\n",
      "[src]\xB4\xED\xCE\xF3- msg - [@P#]0x00000001\n",
      "[src]LOG- msg - [@P#]0x00000001\n",
      "[src]\xD4\xB6\xB3\xCC" "LOG- msg - [@P#]0x00000001\n",
      "[src]DUMP- msg - [@P#]0x00000001\n",
  };
  for (uint32_t level = 0; level < kLogLevelCount; ++level) {
    EXPECT_EQ(Display("msg", "src", level, 1), kExpected[level]) << "level " << level;
  }
}

TEST(LogLine, AddressIsEightUpperCaseHexDigits) {
  EXPECT_EQ(Display("m", "s", kLogLog, 0xDEADBEEF), "[s]LOG- m - [@P#]0xDEADBEEF\n");
  EXPECT_EQ(Display("m", "s", kLogLog, 0xA), "[s]LOG- m - [@P#]0x0000000A\n");
  EXPECT_EQ(Display("m", "s", kLogLog, 0), "[s]LOG- m - [@P#]0x00000000\n");
}

TEST(LogLine, FileFormLeavesOutTheSource) {
  char line[1024];
  FormatFileLine(line, sizeof line, "disk full", kLevelNames[kLogLog], 0x00401234);
  EXPECT_STREQ(line, "LOG- disk full - [@P#]0x00401234\n");
  FormatFileLine(line, sizeof line, nullptr, kLevelNames[kLogDebug], 0xFFFFFFFF);
  EXPECT_STREQ(line, "\xB5\xF7\xCA\xD4-  - [@P#]0xFFFFFFFF\n");
}

TEST(LogLine, LongMessageIsCutToTheBuffer) {
  const std::string message(3000, 'm');
  char line[1024];
  std::memset(line, '#', sizeof line);
  EXPECT_EQ(FormatDisplayLine(line, sizeof line, message.c_str(), "s", "L", 1), 1023u);
  EXPECT_EQ(line[1023], '\0');
  EXPECT_EQ(std::string(line, 6), "[s]L- ");
  char small[8];
  EXPECT_EQ(FormatFileLine(small, sizeof small, message.c_str(), "L", 1), 7u);
  EXPECT_STREQ(small, "L- mmmm");
}

}  // namespace
