#include "client/send_echo.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Pieces {
  std::vector<std::string> pieces;
  std::string Joined() const {
    std::string all;
    for (const std::string& p : pieces) all += p;
    return all;
  }
};

void Collect(void* context, const char* text, size_t size) {
  static_cast<Pieces*>(context)->pieces.emplace_back(text, size);
}

std::vector<uint8_t> Counting(size_t length) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = uint8_t(i * 7 + 3);
  return bytes;
}

Pieces Echo(const std::vector<uint8_t>& bytes, int result, int failed, size_t piece_size) {
  Pieces out;
  std::vector<char> piece(piece_size);
  WriteSendEcho(bytes.data(), bytes.size(), result, failed, piece.data(), piece.size(), Collect, &out);
  return out;
}

// The echo as the transport has always printed it, one printf at a time.
std::string PrintfEcho(const std::vector<uint8_t>& bytes, int result, int failed) {
  std::string out;
  char text[64];
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0 && i % 8 == 0) out += "  ";
    if (i > 0 && i % 16 == 0) out += "\n";
    snprintf(text, sizeof text, "%02x ", bytes[i]);
    out += text;
  }
  snprintf(text, sizeof text, "\nSendOut:%d RepSendCount:%d\n", result, failed);
  return out + text;
}

TEST(SendEcho, FortyThreeBytesMakeThreeLinesAndTheStatusInOnePiece) {
  std::vector<uint8_t> bytes(43);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i);
  Pieces echo = Echo(bytes, 43, 0, 2048);
  ASSERT_EQ(echo.pieces.size(), 1u);
  EXPECT_EQ(echo.pieces[0],
            "00 01 02 03 04 05 06 07   08 09 0a 0b 0c 0d 0e 0f   \n"
            "10 11 12 13 14 15 16 17   18 19 1a 1b 1c 1d 1e 1f   \n"
            "20 21 22 23 24 25 26 27   28 29 2a \n"
            "SendOut:43 RepSendCount:0\n");
}

TEST(SendEcho, FailedSendsAndEmptyDatagrams) {
  EXPECT_EQ(Echo({0}, -1, 5, 2048).Joined(), "00 \nSendOut:-1 RepSendCount:5\n");
  EXPECT_EQ(Echo({}, 0, 0, 2048).Joined(), "\nSendOut:0 RepSendCount:0\n");
  Pieces widest = Echo({}, -2147483647 - 1, -2147483647 - 1, kSendEchoMinPiece);
  EXPECT_EQ(widest.Joined(), "\nSendOut:-2147483648 RepSendCount:-2147483648\n");
  EXPECT_LE(widest.Joined().size(), SendEchoSize(0));
}

// Whatever the piece size, the pieces join into exactly the printf echo, none is empty or larger
// than the buffer, and an echo that fits the buffer goes in one piece.
TEST(SendEcho, PiecesJoinIntoTheWholeEcho) {
  const size_t lengths[] = {1, 8, 15, 16, 17, 43, 555, 64555};
  const size_t piece_sizes[] = {kSendEchoMinPiece, kSendEchoMinPiece + 1, 50, 51, 64, 100, 2048};
  for (size_t length : lengths) {
    const std::vector<uint8_t> bytes = Counting(length);
    const std::string want = PrintfEcho(bytes, int(length), 2);
    EXPECT_LE(want.size(), SendEchoSize(length));
    for (size_t piece_size : piece_sizes) {
      SCOPED_TRACE("length " + std::to_string(length) + ", pieces of " + std::to_string(piece_size));
      Pieces echo = Echo(bytes, int(length), 2, piece_size);
      EXPECT_EQ(echo.Joined(), want);
      for (const std::string& p : echo.pieces) {
        EXPECT_GT(p.size(), 0u);
        EXPECT_LE(p.size(), piece_size);
      }
      if (want.size() <= piece_size) {
        EXPECT_EQ(echo.pieces.size(), 1u);
      }
    }
  }
}

}  // namespace
