// A small builder for the one-line JSON objects the collector prints and saves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "bytes.h"

namespace collector {

class JsonWriter {
 public:
  JsonWriter() : out_(&own_) {}
  // Appends to `*out` instead, so that a line goes straight into a batch with no copy of its own.
  explicit JsonWriter(std::string* out) : out_(out) {}
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  JsonWriter& BeginObject();
  JsonWriter& EndObject() { return Close('}'); }
  JsonWriter& BeginArray();
  JsonWriter& EndArray() { return Close(']'); }
  JsonWriter& Key(std::string_view key);
  JsonWriter& Uint(uint64_t value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();
  // Plain ASCII that the collector chose itself (event names, reasons, paths it made).
  JsonWriter& String(std::string_view text) { return ByteString(text); }
  // Arbitrary bytes, GBK texts among them. Each byte becomes the code point of the same value, so
  // a reader that encodes the decoded string as latin-1 gets the exact bytes back.
  JsonWriter& ByteString(std::string_view bytes);
  JsonWriter& ByteString(Bytes bytes);
  // UTF-16 text such as the module names of a minidump, escaped unit by unit.
  JsonWriter& Utf16String(const std::u16string& text);
  JsonWriter& Hex(Bytes bytes);  // lower-case hex digits, two per byte

  const std::string& str() const { return *out_; }

 private:
  // The collector's objects nest a few levels deep at most.
  static constexpr int kMaxDepth = 32;

  void BeforeValue();
  JsonWriter& Close(char bracket);
  void AppendQuoted(std::string_view bytes);
  std::string own_;
  std::string* out_;
  // One bit per open object or array: whether it already holds an element.
  uint32_t has_element_ = 0;
  int depth_ = 0;
  bool after_key_ = false;
};

}  // namespace collector
