#include "client/send_echo.h"

#include <cstring>

namespace {

constexpr size_t kStatusLineMax = 48;  // "SendOut:%d RepSendCount:%d\n" with two 11-digit numbers

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

}  // namespace

size_t SendEchoSize(size_t length) {
  // "xx " per byte, two blanks after every 8th, a line feed before every 16th, the final line feed.
  return length * 3 + (length / 8) * 2 + length / 16 + 1 + kStatusLineMax + 1;
}

size_t FormatSendEcho(const uint8_t* bytes, size_t length, int last_result, int failed_tries, char* out,
                      size_t capacity) {
  if (capacity < SendEchoSize(length)) return 0;
  static const char kHex[] = "0123456789abcdef";
  char* p = out;
  for (size_t i = 0; i < length; ++i) {
    if (i > 0 && i % 8 == 0) {
      *p++ = ' ';
      *p++ = ' ';
    }
    if (i > 0 && i % 16 == 0) *p++ = '\n';
    *p++ = kHex[bytes[i] >> 4];
    *p++ = kHex[bytes[i] & 0xF];
    *p++ = ' ';
  }
  *p++ = '\n';
  p = AppendInt(AppendText(p, "SendOut:"), last_result);
  p = AppendInt(AppendText(p, " RepSendCount:"), failed_tries);
  p = AppendText(p, "\n");
  *p = 0;
  return size_t(p - out);
}
