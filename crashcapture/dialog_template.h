// The in-memory template of the user-description dialog, built byte for byte as Windows'
// DialogBoxIndirectParam reads it: a DLGTEMPLATE, its menu, class, caption and font, then one
// DLGITEMTEMPLATE per control. Portable: no <windows.h>; the texts arrive already in UTF-16.
#pragma once

#include <cstddef>
#include <cstdint>

// Control ids. The dialog procedure and whoever drives the dialog from outside rely on them.
constexpr uint16_t kUserInfoButtonId = 1001;
constexpr uint16_t kUserInfoPromptId = 1002;
constexpr uint16_t kUserInfoLabel1Id = 1003;
constexpr uint16_t kUserInfoLabel2Id = 1004;
constexpr uint16_t kUserInfoLabel3Id = 1005;
constexpr uint16_t kUserInfoEdit1Id = 1006;
constexpr uint16_t kUserInfoEdit2Id = 1007;
constexpr uint16_t kUserInfoEdit3Id = 1008;

// Windows' own layouts, which the dialog manager reads from the block. Packed: DLGTEMPLATE and
// DLGITEMTEMPLATE are declared under #pragma pack(2) and only WORD-aligned.
#pragma pack(push, 1)
struct DialogTemplateHeader {  // DLGTEMPLATE
  uint32_t style;
  uint32_t extended_style;
  uint16_t item_count;
  int16_t x;
  int16_t y;
  int16_t cx;
  int16_t cy;
};
struct DialogItemHeader {  // DLGITEMTEMPLATE
  uint32_t style;
  uint32_t extended_style;
  int16_t x;
  int16_t y;
  int16_t cx;
  int16_t cy;
  uint16_t id;
};
#pragma pack(pop)
static_assert(sizeof(DialogTemplateHeader) == 18, "DLGTEMPLATE is 18 bytes");
static_assert(sizeof(DialogItemHeader) == 18, "DLGITEMTEMPLATE is 18 bytes");

// A UTF-16 text given by its units; it needs no terminator.
struct DialogText {
  const char16_t* units;
  size_t count;
};

// What the settings put into the dialog, converted from code page 936.
struct UserInfoDialogTexts {
  DialogText title;
  DialogText info1;
  DialogText info2;
  DialogText info3;
  // The title's length in code page 936 bytes: the prompt gets one line per 60 of them, so its
  // height follows the bytes of the setting, not the characters they make.
  size_t title_bytes;
};

// The most a text may occupy in the template, terminator included, in UTF-16 units; longer texts
// are cut to one unit less.
constexpr size_t kDialogTitleLimit = 1024;
constexpr size_t kDialogInfo12Limit = 128;
constexpr size_t kDialogInfo3Limit = 256;
constexpr size_t kDialogFixedTextLimit = 50;  // caption, font name, button text

// Bytes that hold the whole template when the four texts together are text_bytes bytes long in
// code page 936 (which never gives more UTF-16 units than it has bytes).
size_t UserInfoTemplateCapacity(size_t text_bytes);

// Writes the template for the fields that flags ask for (kDumpUserText1..3) into out, which holds
// capacity bytes and is 4-byte aligned. Returns the bytes written, or 0 when the template does not
// fit; nothing is written past capacity either way.
size_t BuildUserInfoTemplate(const UserInfoDialogTexts& texts, uint32_t flags, uint8_t* out,
                             size_t capacity);
