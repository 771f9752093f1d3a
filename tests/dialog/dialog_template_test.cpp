// The user-description dialog's template, read back with a reader of our own that knows the
// DLGTEMPLATE layout only from Windows' documentation (not from the builder's structs).
#include "crashcapture/dialog_template.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "crashmodule/module_types.h"

namespace {

constexpr uint32_t kAllFields = kDumpUserText1 | kDumpUserText2 | kDumpUserText3;
constexpr uint16_t kButton = 0x80, kEdit = 0x81, kStatic = 0x82;

struct ParsedItem {
  size_t offset;
  uint32_t style, extended_style;
  int x, y, cx, cy;
  uint16_t id;
  uint16_t class_marker, atom;
  std::u16string text;
  uint16_t creation_data;
};

struct ParsedTemplate {
  uint32_t style, extended_style;
  uint16_t item_count;
  int x, y, cx, cy;
  uint16_t menu, window_class;
  std::u16string caption;
  uint16_t points;
  std::u16string font;
  std::vector<ParsedItem> items;
  size_t end;
};

class Reader {
 public:
  Reader(const std::vector<uint8_t>& bytes, size_t size) : bytes_(bytes), size_(size) {}
  uint16_t Word() {
    if (pos_ + 2 > size_) {
      ADD_FAILURE() << "read past the template's end at " << pos_;
      pos_ = size_;
      return 0;
    }
    uint16_t w = static_cast<uint16_t>(bytes_[pos_] | bytes_[pos_ + 1] << 8);
    pos_ += 2;
    return w;
  }
  uint32_t Dword() {
    uint32_t low = Word();
    return low | static_cast<uint32_t>(Word()) << 16;
  }
  int Short() { return static_cast<int16_t>(Word()); }
  std::u16string String() {
    std::u16string s;
    for (uint16_t w = Word(); w != 0 && pos_ < size_; w = Word()) s.push_back(w);
    return s;
  }
  void Align4() {
    while (pos_ % 4 != 0 && pos_ < size_) {
      EXPECT_EQ(bytes_[pos_], 0) << "padding at " << pos_;
      ++pos_;
    }
  }
  size_t pos() const { return pos_; }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t size_;
  size_t pos_ = 0;
};

ParsedTemplate Parse(const std::vector<uint8_t>& bytes, size_t size) {
  Reader r(bytes, size);
  ParsedTemplate t;
  t.style = r.Dword();
  t.extended_style = r.Dword();
  t.item_count = r.Word();
  t.x = r.Short();
  t.y = r.Short();
  t.cx = r.Short();
  t.cy = r.Short();
  t.menu = r.Word();
  t.window_class = r.Word();
  t.caption = r.String();
  t.points = r.Word();
  t.font = r.String();
  for (int i = 0; i < t.item_count; ++i) {
    r.Align4();
    ParsedItem item;
    item.offset = r.pos();
    item.style = r.Dword();
    item.extended_style = r.Dword();
    item.x = r.Short();
    item.y = r.Short();
    item.cx = r.Short();
    item.cy = r.Short();
    item.id = r.Word();
    item.class_marker = r.Word();
    item.atom = r.Word();
    item.text = r.String();
    item.creation_data = r.Word();
    t.items.push_back(item);
  }
  t.end = r.pos();
  return t;
}

// Texts the tests own; the builder only points at them.
struct Texts {
  std::u16string title, info1, info2, info3;
  size_t title_bytes;
  UserInfoDialogTexts View() const {
    return {{title.data(), title.size()},
            {info1.data(), info1.size()},
            {info2.data(), info2.size()},
            {info3.data(), info3.size()},
            title_bytes};
  }
};

Texts Ascii(size_t title_length) {
  return {std::u16string(title_length, u'T'), u"Name", u"Mail", u"What happened", title_length};
}

struct Built {
  std::vector<uint8_t> bytes;
  size_t size;
  ParsedTemplate parsed;
};

// The block starts filled with 0xAA so that padding and terminators must really be written.
Built Build(const Texts& texts, uint32_t flags) {
  // A code page 936 text has at least as many bytes as units; some tests give more units.
  const size_t text_bytes = std::max(texts.title_bytes, texts.title.size()) + texts.info1.size() +
                            texts.info2.size() + texts.info3.size();
  Built b;
  b.bytes.assign(UserInfoTemplateCapacity(text_bytes), 0xAA);
  b.size = BuildUserInfoTemplate(texts.View(), flags, b.bytes.data(), b.bytes.size());
  EXPECT_GT(b.size, 0u);
  b.parsed = Parse(b.bytes, b.size);
  EXPECT_EQ(b.parsed.end, b.size) << "the template ends where its last item ends";
  return b;
}

std::vector<uint16_t> Ids(const ParsedTemplate& t) {
  std::vector<uint16_t> ids;
  for (const ParsedItem& item : t.items) ids.push_back(item.id);
  return ids;
}

// The code page 936 texts of the dialog, converted by the C library rather than by us.
std::u16string FromGbk(const char* gbk) {
  iconv_t cd = iconv_open("UTF-16LE", "GBK");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string in(gbk);
  std::vector<char> out(in.size() * 4);
  char* in_ptr = in.data();
  char* out_ptr = out.data();
  size_t in_left = in.size(), out_left = out.size();
  EXPECT_NE(iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left), static_cast<size_t>(-1));
  iconv_close(cd);
  std::u16string s;
  for (const char* p = out.data(); p < out_ptr; p += 2)
    s.push_back(
        static_cast<char16_t>(static_cast<uint8_t>(p[0]) | static_cast<uint8_t>(p[1]) << 8));
  return s;
}

TEST(DialogTemplate, HeaderCaptionAndFont) {
  Built b = Build(Ascii(10), 0);
  const ParsedTemplate& t = b.parsed;
  EXPECT_EQ(t.style, 0x80C009C8u);
  EXPECT_EQ(t.extended_style, 0u);
  EXPECT_EQ(t.x, 0);
  EXPECT_EQ(t.y, 0);
  EXPECT_EQ(t.cx, 250);
  EXPECT_EQ(t.menu, 0);
  EXPECT_EQ(t.window_class, 0);
  EXPECT_EQ(t.caption, FromGbk("\xD3\xC3\xBB\xA7\xD0\xC5\xCF\xA2\xCA\xE4\xC8\xEB"));
  EXPECT_EQ(t.points, 8);
  EXPECT_EQ(t.font, u"MS Shell Dlg");
}

// A 100-byte title with all three fields, row by row.
TEST(DialogTemplate, ExampleLayout) {
  Texts texts = Ascii(100);
  Built b = Build(texts, kAllFields);
  const ParsedTemplate& t = b.parsed;
  ASSERT_EQ(t.item_count, 8);
  ASSERT_EQ(t.items.size(), 8u);
  const std::u16string empty;
  const std::u16string ok = FromGbk("\xC8\xB7\xB6\xA8");
  struct Row {
    uint16_t id, atom;
    uint32_t style, extended_style;
    int x, y, cx, cy;
    const std::u16string& text;
  } rows[] = {
      {1002, kStatic, 0x50000000, 0, 3, 4, 244, 16, texts.title},
      {1003, kStatic, 0x50000000, 0, 4, 26, 120, 8, texts.info1},
      {1006, kEdit, 0x50010080, 0x200, 126, 24, 120, 12, empty},
      {1004, kStatic, 0x50000000, 0, 4, 42, 120, 8, texts.info2},
      {1007, kEdit, 0x50010080, 0x200, 126, 40, 120, 12, empty},
      {1005, kStatic, 0x50000000, 0, 4, 56, 240, 8, texts.info3},
      {1008, kEdit, 0x50211044, 0x200, 4, 66, 240, 52, empty},
      {1001, kButton, 0x50010001, 0, 107, 124, 35, 18, ok},
  };
  for (size_t i = 0; i < 8; ++i) {
    const Row& want = rows[i];
    const ParsedItem& got = t.items[i];
    SCOPED_TRACE("item " + std::to_string(i + 1));
    EXPECT_EQ(got.id, want.id);
    EXPECT_EQ(got.class_marker, 0xFFFF);
    EXPECT_EQ(got.atom, want.atom);
    EXPECT_EQ(got.style, want.style);
    EXPECT_EQ(got.extended_style, want.extended_style);
    EXPECT_EQ(got.x, want.x);
    EXPECT_EQ(got.y, want.y);
    EXPECT_EQ(got.cx, want.cx);
    EXPECT_EQ(got.cy, want.cy);
    EXPECT_EQ(got.text, want.text);
    EXPECT_EQ(got.creation_data, 0);
  }
  EXPECT_EQ(t.cy, 146);
}

TEST(DialogTemplate, ItemsFollowTheFlags) {
  struct Case {
    uint32_t flags;
    std::vector<uint16_t> ids;
    int button_y;
  } cases[] = {
      {0, {1002, 1001}, 18},
      {kDumpUserText1, {1002, 1003, 1006, 1001}, 34},
      {kDumpUserText2, {1002, 1004, 1007, 1001}, 34},
      {kDumpUserText3, {1002, 1005, 1008, 1001}, 84},
      {kDumpUserText1 | kDumpUserText2, {1002, 1003, 1006, 1004, 1007, 1001}, 50},
      {kDumpUserText1 | kDumpUserText3, {1002, 1003, 1006, 1005, 1008, 1001}, 100},
      {kAllFields, {1002, 1003, 1006, 1004, 1007, 1005, 1008, 1001}, 116},
      // Bits of the dump that are not fields change nothing.
      {0x0001F307, {1002, 1001}, 18},
      {0xFFFFFFFF, {1002, 1003, 1006, 1004, 1007, 1005, 1008, 1001}, 116},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags 0x" << std::hex << c.flags);
    Built b = Build(Ascii(0), c.flags);
    EXPECT_EQ(b.parsed.item_count, c.ids.size());
    EXPECT_EQ(Ids(b.parsed), c.ids);
    ASSERT_FALSE(b.parsed.items.empty());
    EXPECT_EQ(b.parsed.items.back().y, c.button_y);
    EXPECT_EQ(b.parsed.cy, c.button_y + 22);
  }
}

// Only field 3, under an empty title: its label right under the prompt, nothing of fields 1, 2.
TEST(DialogTemplate, OnlyFieldThree) {
  Built b = Build(Ascii(0), kDumpUserText3);
  ASSERT_EQ(b.parsed.items.size(), 4u);
  EXPECT_EQ(b.parsed.items[0].cy, 8);
  EXPECT_EQ(b.parsed.items[1].y, 16);
  EXPECT_EQ(b.parsed.items[2].y, 26);
  EXPECT_EQ(b.parsed.items[3].y, 84);
  EXPECT_EQ(b.parsed.cy, 106);
}

TEST(DialogTemplate, PromptHeightCountsTitleBytes) {
  struct Case {
    size_t bytes;
    int height;
  } cases[] = {{0, 8}, {59, 8}, {60, 16}, {100, 16}, {119, 16}, {120, 24}, {511, 72}};
  for (const Case& c : cases) {
    SCOPED_TRACE("title of " + std::to_string(c.bytes) + " bytes");
    Built b = Build(Ascii(c.bytes), kDumpUserText1);
    EXPECT_EQ(b.parsed.items[0].cy, c.height);
    EXPECT_EQ(b.parsed.items[1].y, c.height + 10);  // label 1 at c + 2
    EXPECT_EQ(b.parsed.items[2].y, c.height + 8);
  }
  // Thirty Chinese characters are 60 bytes in code page 936 but 30 UTF-16 units: two lines.
  Texts chinese = Ascii(0);
  chinese.title = std::u16string(30, u'\x9519');
  chinese.title_bytes = 60;
  EXPECT_EQ(Build(chinese, 0).parsed.items[0].cy, 16);
}

// Items must start on 4-byte boundaries whatever lengths the texts before them have.
TEST(DialogTemplate, EveryItemOnFourByteBoundary) {
  for (size_t title = 0; title < 8; ++title) {
    for (size_t info = 0; info < 4; ++info) {
      Texts texts = {std::u16string(title, u'a'), std::u16string(info, u'b'),
                     std::u16string(info + 1, u'c'), std::u16string(info + 2, u'd'), title};
      Built b = Build(texts, kAllFields);
      ASSERT_EQ(b.parsed.items.size(), 8u);
      for (const ParsedItem& item : b.parsed.items)
        EXPECT_EQ(item.offset % 4, 0u)
            << "title " << title << ", info " << info << ", item " << item.id;
      EXPECT_EQ(b.parsed.items[0].text, texts.title);
      EXPECT_EQ(b.parsed.items[5].text, texts.info3);
    }
  }
}

TEST(DialogTemplate, TextsCutToTheirLimits) {
  struct Case {
    size_t title, info1, info2, info3;  // lengths given
    size_t want_title, want_info1, want_info2, want_info3;
  } cases[] = {
      {1023, 127, 127, 255, 1023, 127, 127, 255},  // the longest that fit whole
      {1024, 128, 128, 256, 1023, 127, 127, 255},
      {1500, 200, 300, 700, 1023, 127, 127, 255},
  };
  for (const Case& c : cases) {
    Texts texts = {std::u16string(c.title, u'T'), std::u16string(c.info1, u'1'),
                   std::u16string(c.info2, u'2'), std::u16string(c.info3, u'3'), 100};
    Built b = Build(texts, kAllFields);
    ASSERT_EQ(b.parsed.items.size(), 8u);
    EXPECT_EQ(b.parsed.items[0].text, std::u16string(c.want_title, u'T'));
    EXPECT_EQ(b.parsed.items[1].text, std::u16string(c.want_info1, u'1'));
    EXPECT_EQ(b.parsed.items[3].text, std::u16string(c.want_info2, u'2'));
    EXPECT_EQ(b.parsed.items[5].text, std::u16string(c.want_info3, u'3'));
    EXPECT_EQ(b.parsed.items[0].cy, 16) << "the height follows the bytes, not the cut";
  }
}

TEST(DialogTemplate, NeverWritesPastItsBlock) {
  // The longest texts a DumpFormat holds, each byte one unit: the worst case of the capacity.
  Texts longest = {std::u16string(511, u'T'), std::u16string(63, u'1'), std::u16string(63, u'2'),
                   std::u16string(127, u'3'), 511};
  const size_t capacity = UserInfoTemplateCapacity(511 + 63 + 63 + 127);
  std::vector<uint8_t> block(capacity);
  const size_t needed = BuildUserInfoTemplate(longest.View(), kAllFields, block.data(), capacity);
  ASSERT_GT(needed, 0u);
  EXPECT_LE(needed, capacity);

  // Exactly the size fits; a byte less fails. The heap blocks are exact, so the sanitizer sees
  // any write past them.
  std::vector<uint8_t> exact(needed);
  EXPECT_EQ(BuildUserInfoTemplate(longest.View(), kAllFields, exact.data(), exact.size()), needed);
  EXPECT_EQ(0, memcmp(exact.data(), block.data(), needed));
  for (size_t short_size : {needed - 1, needed / 2, size_t{17}, size_t{1}}) {
    std::vector<uint8_t> too_small(short_size);
    EXPECT_EQ(BuildUserInfoTemplate(longest.View(), kAllFields, too_small.data(), short_size), 0u)
        << short_size << " bytes";
  }
}

}  // namespace
