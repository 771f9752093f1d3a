#include "json_writer.h"

#include <cassert>
#include <charconv>

namespace collector {
namespace {

const char kHexDigits[] = "0123456789abcdef";

bool Plain(unsigned unit) { return unit >= 0x20 && unit < 0x7F && unit != '"' && unit != '\\'; }

void AppendEscapedUnit(std::string* out, unsigned unit) {
  if (unit == '"' || unit == '\\') {
    char escaped[2] = {'\\', static_cast<char>(unit)};
    out->append(escaped, 2);
  } else if (Plain(unit)) {
    *out += static_cast<char>(unit);
  } else {
    // Controls, DEL and everything above ASCII as \uXXXX, so every line is plain ASCII.
    char escaped[6] = {'\\', 'u', kHexDigits[unit >> 12 & 15], kHexDigits[unit >> 8 & 15], kHexDigits[unit >> 4 & 15],
                       kHexDigits[unit & 15]};
    out->append(escaped, 6);
  }
}

}  // namespace

void JsonWriter::BeforeValue() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (depth_ > 0) {
    uint32_t bit = 1u << (depth_ - 1);
    if (has_element_ & bit) *out_ += ',';
    has_element_ |= bit;
  }
}

JsonWriter& JsonWriter::BeginObject() {
  BeforeValue();
  *out_ += '{';
  assert(depth_ < kMaxDepth);
  has_element_ &= ~(1u << depth_++);
  return *this;
}

JsonWriter& JsonWriter::Close(char bracket) {
  assert(depth_ > 0 && !after_key_);
  --depth_;
  *out_ += bracket;
  return *this;
}

JsonWriter& JsonWriter::BeginArray() {
  BeforeValue();
  *out_ += '[';
  assert(depth_ < kMaxDepth);
  has_element_ &= ~(1u << depth_++);
  return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key) {
  BeforeValue();
  AppendQuoted(key);
  *out_ += ':';
  after_key_ = true;  // the value that follows belongs to this key: no comma before it
  return *this;
}

JsonWriter& JsonWriter::Uint(uint64_t value) {
  BeforeValue();
  char digits[20];
  char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out_->append(digits, static_cast<size_t>(end - digits));
  return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
  BeforeValue();
  *out_ += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::Null() {
  BeforeValue();
  *out_ += "null";
  return *this;
}

void JsonWriter::AppendQuoted(std::string_view bytes) {
  *out_ += '"';
  // Runs of plain characters are copied whole; only the rest is escaped one by one.
  size_t at = 0;
  while (at < bytes.size()) {
    size_t run = at;
    while (run < bytes.size() && Plain(static_cast<uint8_t>(bytes[run]))) ++run;
    out_->append(bytes.data() + at, run - at);
    if (run < bytes.size()) AppendEscapedUnit(out_, static_cast<uint8_t>(bytes[run++]));
    at = run;
  }
  *out_ += '"';
}

JsonWriter& JsonWriter::ByteString(std::string_view bytes) {
  BeforeValue();
  AppendQuoted(bytes);
  return *this;
}

JsonWriter& JsonWriter::ByteString(Bytes bytes) {
  return ByteString(std::string_view(reinterpret_cast<const char*>(bytes.data), bytes.size));
}

JsonWriter& JsonWriter::Utf16String(const std::u16string& text) {
  BeforeValue();
  *out_ += '"';
  for (char16_t unit : text) AppendEscapedUnit(out_, unit);
  *out_ += '"';
  return *this;
}

JsonWriter& JsonWriter::Hex(Bytes bytes) {
  BeforeValue();
  size_t start = out_->size();
  out_->resize(start + 2 + 2 * bytes.size);
  char* p = &(*out_)[start];
  *p++ = '"';
  for (size_t i = 0; i < bytes.size; ++i) {
    *p++ = kHexDigits[bytes.data[i] >> 4];
    *p++ = kHexDigits[bytes.data[i] & 15];
  }
  *p = '"';
  return *this;
}

}  // namespace collector
