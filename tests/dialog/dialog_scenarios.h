// The cases that the dialog host shows and the dialog presser fills, shared by both programs so
// that the host can tell whether it received what the presser typed.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "crashmodule/module_types.h"

enum class DialogPress {
  kButtonClick,  // BM_CLICK on the button, as a mouse click does
  kEnterInLine,  // Enter in the first one-line box: the default button
  kCommand,      // WM_COMMAND with the button's id
  kNobody,       // nothing: the dialog must end by itself once its time limit has passed
};

struct DialogScenario {
  const char* name;
  uint32_t flags;
  // The settings, in code page 936, and the UTF-16 that the labels must then show.
  std::string title, info1, info2, info3;
  std::u16string title_shown, info1_shown, info2_shown, info3_shown;
  // What the presser types into boxes 1006, 1007 and 1008 (posted key by key when by_keys, else
  // set whole), and what the host must then receive.
  std::u16string type1, type2, type3;
  bool by_keys;
  DialogPress press;
  std::string want1, want2, want3;
  // The dialog's time limit in seconds (Format_UserInfo_Timeout): the module's default unless a
  // scenario waits for it.
  uint32_t time_limit_seconds = 120;
};

// "0123456789" repeated up to length: a cut shows where it happened.
inline std::string Digits(size_t length) {
  std::string s;
  while (s.size() < length) s.push_back(static_cast<char>('0' + s.size() % 10));
  return s;
}

inline std::u16string Ascii16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

inline std::u16string Repeat16(char16_t c, size_t count) { return std::u16string(count, c); }

inline std::string Repeat(const char* text, size_t count) {
  std::string s;
  for (size_t i = 0; i < count; ++i) s += text;
  return s;
}

// Long enough for the presser to check the controls before it types (typing restarts the limit),
// short enough to wait for.
constexpr uint32_t kUnansweredTimeLimit = 10;

inline std::vector<DialogScenario> DialogScenarios() {
  const uint32_t all = kDumpUserText1 | kDumpUserText2 | kDumpUserText3;
  // "\xB3\xCC\xD0\xF2\xB1\xC0\xC0\xA3" is the GBK of the four characters U+7A0B U+5E8F U+5D29
  // U+6E83 (the program crashed).
  const char* crashed = "\xB3\xCC\xD0\xF2\xB1\xC0\xC0\xA3";
  const std::u16string crashed16 = u"\u7A0B\u5E8F\u5D29\u6E83";
  const char16_t kCuo = u'\u9519';  // a character that code page 936 writes as B4 ED
  const char* kCuoGbk = "\xB4\xED";
  // 65 bytes but 61 characters: the prompt has two lines.
  const std::string two_lines =
      std::string(crashed) + ", please tell us what you were doing when it stopped.....";
  const std::u16string two_lines16 =
      crashed16 + u", please tell us what you were doing when it stopped.....";
  return {
      {"all", all | kDumpFilterMemory | kDumpShotHigh, two_lines, "\xD0\xD5\xC3\xFB Name", "E-mail",
       "\xCB\xB5\xC3\xF7 What happened", two_lines16, u"\u59D3\u540D Name", u"E-mail",
       u"\u8BF4\u660E What happened", u"Alice", u"alice@example.com",
       u"I clicked Start\rand it closed.", true, DialogPress::kButtonClick, "Alice",
       "alice@example.com", "I clicked Start\r\nand it closed."},
      {"long", all, "Too much text", "One", "Two", "Three", u"Too much text", u"One", u"Two",
       u"Three", Ascii16(Digits(300)), Ascii16(Digits(128)), Ascii16(Digits(3000)), false,
       DialogPress::kEnterInLine, Digits(127), Digits(127), Digits(2047)},
      {"only3", kDumpUserText3, "", "unused 1", "unused 2", "Box only", u"", u"", u"", u"Box only",
       u"", u"", u"first\rsecond", true, DialogPress::kCommand, "", "", "first\r\nsecond"},
      {"blank", kDumpUserText1 | kDumpUserText2, crashed, "A", "B", "", crashed16, u"A", u"B", u"",
       u"", u"", u"", false, DialogPress::kButtonClick, "", "", ""},
      {"nofields", 0, "Nothing to ask", "", "", "", u"Nothing to ask", u"", u"", u"", u"", u"", u"",
       false, DialogPress::kButtonClick, "", "", ""},
      // Typed in Chinese, received in code page 936 (two bytes a character): a cut never leaves
      // half a character, so a field may come back a byte short of its 127 or 2047.
      {"chinese", all, crashed, "1", "2", "3", crashed16, u"1", u"2", u"3", Repeat16(kCuo, 100),
       u"a" + Repeat16(kCuo, 100), Repeat16(kCuo, 1100), false, DialogPress::kButtonClick,
       Repeat(kCuoGbk, 63), "a" + Repeat(kCuoGbk, 63), Repeat(kCuoGbk, 1023)},
      // The dialog of a real crash through VXIdent.dll, set up by the HVModule.dat
      // that dialog_presser --write-settings writes.
      {"crash", kDumpFilterMemory | kDumpShotHigh | all, two_lines, "\xD0\xD5\xC3\xFB", "E-mail",
       "\xCB\xB5\xC3\xF7", two_lines16, u"\u59D3\u540D", u"E-mail", u"\u8BF4\u660E", u"Bob",
       u"bob@example.com", u"It froze\rwhen I saved.", true, DialogPress::kButtonClick, "Bob",
       "bob@example.com", "It froze\r\nwhen I saved."},
      // Nobody presses the button: after the time limit the dialog ends with what was typed.
      {"unanswered", kDumpUserText1 | kDumpUserText3, "Nobody is there", "Name", "", "What happened",
       u"Nobody is there", u"Name", u"", u"What happened", u"Carol", u"", u"It stopped.", false,
       DialogPress::kNobody, "Carol", "", "It stopped.", kUnansweredTimeLimit},
      // The same in a real crash through VXIdent.dll, behind which nobody answers either.
      {"crash_unanswered", kDumpFilterMemory | kDumpUserText1 | kDumpUserText3, "Nobody is there",
       "Name", "", "What happened", u"Nobody is there", u"Name", u"", u"What happened", u"Dave", u"",
       u"The screen went black.", false, DialogPress::kNobody, "Dave", "", "The screen went black.",
       kUnansweredTimeLimit},
  };
}

// The letters of Format_CrashDump that give a scenario's flags.
inline std::string CrashDumpLetters(uint32_t flags) {
  struct Letter {
    uint32_t bit;
    char letter;
  };
  const Letter letters[] = {{kDumpFilterMemory, 'S'}, {kDumpShotHigh, 'H'}, {kDumpUserText1, '1'},
                            {kDumpUserText2, '2'},    {kDumpUserText3, '3'}};
  std::string out;
  for (const Letter& l : letters)
    if (flags & l.bit) out.push_back(l.letter);
  return out;
}

inline const DialogScenario* FindDialogScenario(const char* name) {
  static const std::vector<DialogScenario> scenarios = DialogScenarios();
  for (const DialogScenario& s : scenarios)
    if (strcmp(s.name, name) == 0) return &s;
  return nullptr;
}
