#include "crashcapture/dialog_template.h"

#include <cstring>

#include "crashmodule/module_types.h"

// The block is handed to Windows as it is, and the packed structs are copied in host order.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the template is little-endian");

namespace {

// Window and control styles, with the values of the Windows headers.
constexpr uint32_t kWsPopup = 0x80000000;
constexpr uint32_t kWsChild = 0x40000000;
constexpr uint32_t kWsVisible = 0x10000000;
constexpr uint32_t kWsCaption = 0x00C00000;
constexpr uint32_t kWsVScroll = 0x00200000;
constexpr uint32_t kWsTabStop = 0x00010000;
constexpr uint32_t kWsExClientEdge = 0x00000200;
constexpr uint32_t kDsFixedSys = 0x0008;
constexpr uint32_t kDsSetFont = 0x0040;
constexpr uint32_t kDsModalFrame = 0x0080;
constexpr uint32_t kDsNoIdleMsg = 0x0100;
constexpr uint32_t kDsCenter = 0x0800;
constexpr uint32_t kEsMultiline = 0x0004;
constexpr uint32_t kEsAutoVScroll = 0x0040;
constexpr uint32_t kEsAutoHScroll = 0x0080;
constexpr uint32_t kEsWantReturn = 0x1000;
constexpr uint32_t kBsDefPushButton = 0x0001;

// No system menu, so the dialog has no close box.
constexpr uint32_t kDialogStyle =
    kWsPopup | kWsCaption | kDsModalFrame | kDsCenter | kDsSetFont | kDsFixedSys | kDsNoIdleMsg;
constexpr uint32_t kStaticStyle = kWsChild | kWsVisible;
constexpr uint32_t kLineEditStyle = kWsChild | kWsVisible | kWsTabStop | kEsAutoHScroll;
constexpr uint32_t kBoxEditStyle =
    kWsChild | kWsVisible | kWsVScroll | kWsTabStop | kEsMultiline | kEsAutoVScroll | kEsWantReturn;
constexpr uint32_t kButtonStyle = kWsChild | kWsVisible | kWsTabStop | kBsDefPushButton;
static_assert(kDialogStyle == 0x80C009C8, "dialog style");
static_assert(kBoxEditStyle == 0x50211044, "multi-line box style");

// A control names its class by atom: 0xFFFF, then the atom of the predefined class.
constexpr uint16_t kClassByAtom = 0xFFFF;
constexpr uint16_t kButtonAtom = 0x0080;
constexpr uint16_t kEditAtom = 0x0081;
constexpr uint16_t kStaticAtom = 0x0082;

// "\xD3\xC3\xBB\xA7\xD0\xC5\xCF\xA2\xCA\xE4\xC8\xEB" (user information input) and
// "\xC8\xB7\xB6\xA8" (OK) in code page 936, as the UTF-16 units the template needs.
constexpr char16_t kCaption[] = {0x7528, 0x6237, 0x4FE1, 0x606F, 0x8F93, 0x5165};
constexpr char16_t kButtonText[] = {0x786E, 0x5B9A};
constexpr char16_t kFontName[] = u"MS Shell Dlg";
constexpr uint16_t kFontPoints = 8;

// Dialog units.
constexpr int kDialogWidth = 250;
constexpr int kTitleBytesPerLine = 60;
constexpr int kLineHeight = 8;
constexpr int kEditHeight = 12;
constexpr int kBoxHeight = 52;
constexpr int kButtonHeight = 18;
constexpr int kGap = 4;

// Writes into the caller's block and never past its end; once something did not fit, the
// writer only remembers that.
class TemplateWriter {
 public:
  TemplateWriter(uint8_t* out, size_t capacity) : out_(out), capacity_(capacity) {}

  void Bytes(const void* data, size_t size) {
    if (size == 0) return;  // an empty text may come without units
    if (failed_ || size > capacity_ - size_) {
      failed_ = true;
      return;
    }
    memcpy(out_ + size_, data, size);
    size_ += size;
  }
  void Unit(uint16_t unit) { Bytes(&unit, sizeof unit); }
  // At most limit - 1 units of the text, then the terminator.
  void Text(const char16_t* units, size_t count, size_t limit) {
    if (count > limit - 1) count = limit - 1;
    Bytes(units, count * sizeof(char16_t));
    Unit(0);
  }
  // Items start on 4-byte boundaries of the block; the padding is written, not assumed.
  void Align4() {
    while (!failed_ && size_ % 4 != 0) {
      const uint8_t zero = 0;
      Bytes(&zero, 1);
    }
  }

  bool failed() const { return failed_; }
  size_t size() const { return size_; }

 private:
  uint8_t* out_;
  size_t capacity_;
  size_t size_ = 0;
  bool failed_ = false;
};

struct Item {
  uint16_t atom;
  uint16_t id;
  uint32_t style;
  uint32_t extended_style;
  int x, y, cx, cy;
  DialogText text;
  size_t limit;
};

void WriteItem(TemplateWriter& writer, const Item& item) {
  writer.Align4();
  DialogItemHeader header = {};
  header.style = item.style;
  header.extended_style = item.extended_style;
  header.x = static_cast<int16_t>(item.x);
  header.y = static_cast<int16_t>(item.y);
  header.cx = static_cast<int16_t>(item.cx);
  header.cy = static_cast<int16_t>(item.cy);
  header.id = item.id;
  writer.Bytes(&header, sizeof header);
  writer.Unit(kClassByAtom);
  writer.Unit(item.atom);
  writer.Text(item.text.units, item.text.count, item.limit);
  writer.Unit(0);  // no creation data
}

Item Label(uint16_t id, int x, int y, int cx, DialogText text, size_t limit) {
  return {kStaticAtom, id, kStaticStyle, 0, x, y, cx, kLineHeight, text, limit};
}

Item Edit(uint16_t id, uint32_t style, int x, int y, int cx, int cy) {
  return {kEditAtom, id, style, kWsExClientEdge, x, y, cx, cy, {nullptr, 0}, 1};
}

}  // namespace

size_t UserInfoTemplateCapacity(size_t text_bytes) {
  // Header 18, menu and class 4, caption 14, font 28; eight items of 26 bytes (header, class
  // atom, text terminator, creation-data size), the button's text and up to three bytes of
  // padding before each item: 300 bytes besides two per text byte. 512 leaves room.
  constexpr size_t kFixedBytes = 512;
  return 2 * text_bytes + kFixedBytes;
}

size_t BuildUserInfoTemplate(const UserInfoDialogTexts& texts, uint32_t flags, uint8_t* out,
                             size_t capacity) {
  TemplateWriter writer(out, capacity);

  // The item count and the height are known at the end; the header is written again then.
  DialogTemplateHeader header = {};
  header.style = kDialogStyle;
  header.cx = kDialogWidth;
  writer.Bytes(&header, sizeof header);
  writer.Unit(0);  // no menu
  writer.Unit(0);  // the default dialog class
  writer.Text(kCaption, sizeof kCaption / sizeof kCaption[0], kDialogFixedTextLimit);
  writer.Unit(kFontPoints);
  writer.Text(kFontName, sizeof kFontName / sizeof kFontName[0] - 1, kDialogFixedTextLimit);

  int count = 0;
  auto add = [&](const Item& item) {
    WriteItem(writer, item);
    ++count;
  };

  const size_t title_lines = texts.title_bytes / kTitleBytesPerLine + 1;
  if (title_lines > 1000) return 0;  // a height beyond the 16-bit units of a template
  const int prompt_height = static_cast<int>(title_lines) * kLineHeight;
  add({kStaticAtom, kUserInfoPromptId, kStaticStyle, 0, 3, 4, 244, prompt_height, texts.title,
       kDialogTitleLimit});

  // c runs down the dialog. The one-line fields put their label 2 units below the edit box so
  // that the label's text sits level with the text typed beside it.
  int c = prompt_height + 8;
  if (flags & kDumpUserText1) {
    add(Label(kUserInfoLabel1Id, 4, c + 2, 120, texts.info1, kDialogInfo12Limit));
    add(Edit(kUserInfoEdit1Id, kLineEditStyle, 126, c, 120, kEditHeight));
    c += kEditHeight + kGap;
  }
  if (flags & kDumpUserText2) {
    add(Label(kUserInfoLabel2Id, 4, c + 2, 120, texts.info2, kDialogInfo12Limit));
    add(Edit(kUserInfoEdit2Id, kLineEditStyle, 126, c, 120, kEditHeight));
    c += kEditHeight + kGap;
  }
  if (flags & kDumpUserText3) {
    add(Label(kUserInfoLabel3Id, 4, c, 240, texts.info3, kDialogInfo3Limit));
    c += kLineHeight + 2;
    add(Edit(kUserInfoEdit3Id, kBoxEditStyle, 4, c, 240, kBoxHeight));
    c += kBoxHeight + kGap;
  }
  c += 2;
  const DialogText ok = {kButtonText, sizeof kButtonText / sizeof kButtonText[0]};
  add({kButtonAtom, kUserInfoButtonId, kButtonStyle, 0, 107, c, 35, kButtonHeight, ok,
       kDialogFixedTextLimit});
  if (writer.failed()) return 0;

  header.item_count = static_cast<uint16_t>(count);
  header.cy = static_cast<int16_t>(c + kButtonHeight + kGap);
  memcpy(out, &header, sizeof header);
  return writer.size();
}
