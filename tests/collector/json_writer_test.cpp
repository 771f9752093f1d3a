#include "json_writer.h"

#include <gtest/gtest.h>

#include <string>

using collector::JsonWriter;

namespace {

// Undoes the writer's string escaping as any JSON reader would; each \uXXXX gives one code point,
// which for byte strings must be the byte itself.
std::u16string Unescape(const std::string& quoted) {
  std::u16string out;
  EXPECT_EQ(quoted.front(), '"');
  EXPECT_EQ(quoted.back(), '"');
  for (size_t i = 1; i + 1 < quoted.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(quoted[i]);
    EXPECT_TRUE(c >= 0x20 && c < 0x7F) << "unescaped byte " << int(c);
    if (c != '\\') {
      EXPECT_NE(c, '"');
      out += c;
      continue;
    }
    char kind = quoted[++i];
    if (kind == 'u') {
      out += static_cast<char16_t>(std::stoul(quoted.substr(i + 1, 4), nullptr, 16));
      i += 4;
    } else {
      EXPECT_TRUE(kind == '"' || kind == '\\') << kind;
      out += kind;
    }
  }
  return out;
}

}  // namespace

TEST(CollectorJson, EveryByteComesBackAsItsOwnCodePoint) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  JsonWriter json;
  json.ByteString(all);
  std::u16string back = Unescape(json.str());
  ASSERT_EQ(back.size(), 256u);
  for (int b = 0; b < 256; ++b) EXPECT_EQ(back[b], b);
}

TEST(CollectorJson, GbkTextAndQuotes) {
  JsonWriter json;
  json.ByteString(std::string("\xB5\xF7\xCA\xD4 \"a\\b\"\n"));
  EXPECT_EQ(json.str(), R"("\u00b5\u00f7\u00ca\u00d4 \"a\\b\"\u000a")");
}

TEST(CollectorJson, Utf16NamesAndNesting) {
  JsonWriter json;
  json.BeginObject();
  json.Key("n").Uint(18446744073709551615ull);
  json.Key("list").BeginArray().Uint(1).Bool(false).Null().BeginObject().EndObject().EndArray();
  json.Key("name").Utf16String(u"C:\\\u6e38\u620f.dll");
  json.Key("hex").Hex(collector::Bytes{reinterpret_cast<const uint8_t*>("\x00\xff\x10"), 3});
  json.Key("empty").BeginArray().EndArray();
  json.EndObject();
  EXPECT_EQ(json.str(),
            R"({"n":18446744073709551615,"list":[1,false,null,{}],"name":"C:\\\u6e38\u620f.dll",)"
            R"("hex":"00ff10","empty":[]})");
}
