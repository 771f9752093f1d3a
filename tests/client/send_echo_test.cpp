#include "client/send_echo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Echo(size_t length, int result, int failed) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = uint8_t(i);
  std::vector<char> out(SendEchoSize(length));
  size_t n = FormatSendEcho(bytes.data(), length, result, failed, out.data(), out.size());
  return std::string(out.data(), n);
}

TEST(SendEcho, FortyThreeBytesMakeThreeLinesAndTheStatus) {
  EXPECT_EQ(Echo(43, 43, 0),
            "00 01 02 03 04 05 06 07   08 09 0a 0b 0c 0d 0e 0f   \n"
            "10 11 12 13 14 15 16 17   18 19 1a 1b 1c 1d 1e 1f   \n"
            "20 21 22 23 24 25 26 27   28 29 2a \n"
            "SendOut:43 RepSendCount:0\n");
}

TEST(SendEcho, FailedSendsAndSizesAtTheEdges) {
  EXPECT_EQ(Echo(1, -1, 5), "00 \nSendOut:-1 RepSendCount:5\n");
  EXPECT_EQ(Echo(0, 0, 0), "\nSendOut:0 RepSendCount:0\n");
  std::string big = Echo(64555, -2147483647 - 1, 5);
  EXPECT_NE(big.find("SendOut:-2147483648 RepSendCount:5\n"), std::string::npos);
  EXPECT_LT(big.size() + 1, SendEchoSize(64555) + 1);
  std::vector<uint8_t> bytes(16);
  char small[10];
  EXPECT_EQ(FormatSendEcho(bytes.data(), bytes.size(), 16, 0, small, sizeof small), 0u);
}

}  // namespace
