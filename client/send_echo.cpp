#include "client/send_echo.h"

#include <cassert>
#include <cstring>

namespace {

// The most one byte adds: two blanks after a group of 8, a line feed, "xx ".
constexpr size_t kByteEchoMax = 6;

// The crash worker echoes while other threads are frozen, perhaps inside the C runtime's locale
// lock, so the numbers are formatted by hand rather than with printf.
char* AppendText(char* p, const char* text) {
  size_t n = std::strlen(text);
  std::memcpy(p, text, n);
  return p + n;
}

char* AppendInt(char* p, int value) {
  char digits[12];
  int n = 0;
  uint32_t magnitude = value < 0 ? 0u - uint32_t(value) : uint32_t(value);
  do {
    digits[n++] = char('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude);
  if (value < 0) *p++ = '-';
  while (n) *p++ = digits[--n];
  return p;
}

// The caller's piece buffer, handed to the sink whenever the next part would not fit.
class PieceWriter {
 public:
  PieceWriter(char* piece, size_t size, SendEchoSink sink, void* context)
      : piece_(piece), size_(size), fill_(0), sink_(sink), context_(context) {}

  void Append(const char* part, size_t size) {
    if (size_ - fill_ < size) Flush();
    std::memcpy(piece_ + fill_, part, size);
    fill_ += size;
  }

  void Flush() {
    if (fill_ > 0) sink_(context_, piece_, fill_);
    fill_ = 0;
  }

 private:
  char* piece_;
  size_t size_;
  size_t fill_;
  SendEchoSink sink_;
  void* context_;
};

}  // namespace

void WriteSendEcho(const uint8_t* bytes, size_t length, int last_result, int failed_tries, char* piece,
                   size_t piece_size, SendEchoSink sink, void* context) {
  assert(piece_size >= kSendEchoMinPiece);
  static const char kHex[] = "0123456789abcdef";
  PieceWriter out(piece, piece_size, sink, context);
  for (size_t i = 0; i < length; ++i) {
    char part[kByteEchoMax];
    char* p = part;
    if (i > 0 && i % 8 == 0) {
      *p++ = ' ';
      *p++ = ' ';
    }
    if (i > 0 && i % 16 == 0) *p++ = '\n';
    *p++ = kHex[bytes[i] >> 4];
    *p++ = kHex[bytes[i] & 0xF];
    *p++ = ' ';
    out.Append(part, size_t(p - part));
  }
  char status[kSendEchoStatusMax];
  char* p = status;
  *p++ = '\n';
  p = AppendInt(AppendText(p, "SendOut:"), last_result);
  p = AppendInt(AppendText(p, " RepSendCount:"), failed_tries);
  p = AppendText(p, "\n");
  out.Append(status, size_t(p - status));
  out.Flush();
}
