#include "json_writer.h"

#include <cassert>

namespace collector {
namespace {

const char kHexDigits[] = "0123456789abcdef";

void AppendEscapedUnit(std::string* out, unsigned unit) {
  if (unit == '"' || unit == '\\') {
    *out += '\\';
    *out += static_cast<char>(unit);
  } else if (unit >= 0x20 && unit < 0x7F) {
    *out += static_cast<char>(unit);
  } else {
    // Controls, DEL and everything above ASCII as \uXXXX, so every line is plain ASCII.
    *out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) *out += kHexDigits[(unit >> shift) & 15];
  }
}

}  // namespace

void JsonWriter::BeforeValue() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!has_element_.empty()) {
    if (has_element_.back()) out_ += ',';
    has_element_.back() = true;
  }
}

JsonWriter& JsonWriter::BeginObject() {
  BeforeValue();
  out_ += '{';
  has_element_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::Close(char bracket) {
  assert(!has_element_.empty() && !after_key_);
  has_element_.pop_back();
  out_ += bracket;
  return *this;
}

JsonWriter& JsonWriter::BeginArray() {
  BeforeValue();
  out_ += '[';
  has_element_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key) {
  BeforeValue();
  AppendQuoted(key);
  out_ += ':';
  after_key_ = true;  // the value that follows belongs to this key: no comma before it
  return *this;
}

JsonWriter& JsonWriter::Uint(uint64_t value) {
  BeforeValue();
  out_ += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
  BeforeValue();
  out_ += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::Null() {
  BeforeValue();
  out_ += "null";
  return *this;
}

void JsonWriter::AppendQuoted(std::string_view bytes) {
  out_ += '"';
  for (char c : bytes) AppendEscapedUnit(&out_, static_cast<uint8_t>(c));
  out_ += '"';
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
  out_ += '"';
  for (char16_t unit : text) AppendEscapedUnit(&out_, unit);
  out_ += '"';
  return *this;
}

JsonWriter& JsonWriter::Hex(Bytes bytes) {
  BeforeValue();
  out_ += '"';
  for (size_t i = 0; i < bytes.size; ++i) {
    out_ += kHexDigits[bytes.data[i] >> 4];
    out_ += kHexDigits[bytes.data[i] & 15];
  }
  out_ += '"';
  return *this;
}

}  // namespace collector
