// A small builder for the one-line JSON objects the collector prints and saves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bytes.h"

namespace collector {

class JsonWriter {
 public:
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

  const std::string& str() const { return out_; }

 private:
  void BeforeValue();
  JsonWriter& Close(char bracket);
  void AppendQuoted(std::string_view bytes);
  std::string out_;
  // One entry per open object or array: whether it already holds an element.
  std::vector<bool> has_element_;
  bool after_key_ = false;
};

}  // namespace collector
