// Texts written into fixed buffers: every write is cut to the buffer, never past it.
#pragma once

#include <cstddef>
#include <cstdint>

// Copies source into destination (capacity bytes), cut to capacity - 1 characters and always
// terminated when capacity > 0. A null source gives an empty text. Returns the length written.
size_t CopyText(char* destination, size_t capacity, const char* source);

// Builds one text piece by piece into a fixed buffer; what does not fit is dropped.
class TextBuilder {
 public:
  TextBuilder(char* out, size_t capacity);
  void Append(const char* text);  // a null text appends nothing
  void Append(const char* text, size_t length);
  void AppendHex8(uint32_t value);  // eight upper-case hexadecimal digits
  size_t length() const { return length_; }

 private:
  char* out_;
  size_t capacity_;
  size_t length_;
};
