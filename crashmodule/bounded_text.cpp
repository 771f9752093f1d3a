#include "crashmodule/bounded_text.h"

size_t CopyText(char* destination, size_t capacity, const char* source) {
  if (capacity == 0) return 0;
  size_t length = 0;
  if (source != nullptr) {
    while (length + 1 < capacity && source[length] != '\0') {
      destination[length] = source[length];
      ++length;
    }
  }
  destination[length] = '\0';
  return length;
}

TextBuilder::TextBuilder(char* out, size_t capacity) : out_(out), capacity_(capacity), length_(0) {
  if (capacity_ > 0) out_[0] = '\0';
}

void TextBuilder::Append(const char* text) {
  if (text == nullptr) return;
  while (*text != '\0' && length_ + 1 < capacity_) out_[length_++] = *text++;
  if (capacity_ > 0) out_[length_] = '\0';
}

void TextBuilder::Append(const char* text, size_t length) {
  for (size_t i = 0; i < length && length_ + 1 < capacity_; ++i) out_[length_++] = text[i];
  if (capacity_ > 0) out_[length_] = '\0';
}

void TextBuilder::AppendHex8(uint32_t value) {
  static const char kDigits[] = "0123456789ABCDEF";
  char digits[8];
  for (int i = 7; i >= 0; --i) {
    digits[i] = kDigits[value & 0xF];
    value >>= 4;
  }
  Append(digits, sizeof digits);
}
