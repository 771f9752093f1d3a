// dialog_presser SCENARIO [--shot] [--dismiss CAPTION]: plays the user at the user-description
// dialog of another process. Finds it by its caption, checks its controls against the scenario,
// tries to close it (Esc, IDCANCEL, WM_CLOSE, SC_CLOSE), types the scenario's texts and presses the
// button. With --shot it prints "SHOT left top width height" once the texts are in and waits for a
// line on standard input, so that its driver can take a picture; with --dismiss it then presses OK
// on the message box of that caption. Exit code 0 when every check held.
// dialog_presser SCENARIO --write-settings PATH: writes the HVModule.dat that makes a crash show
// the scenario's dialog, and prints the texts the crash report must then hold ("want1=<hex>").
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "crashcapture/dialog_template.h"
#include "tests/dialog/dialog_scenarios.h"

namespace {

const wchar_t kCaption[] = L"\u7528\u6237\u4FE1\u606F\u8F93\u5165";  // user information input
const wchar_t kButtonText[] = L"\u786E\u5B9A";                       // OK
// lParam of a posted key: one repeat and the key's scan code, as the keyboard gives them.
constexpr LPARAM kEscapeKey = 0x00010001;
constexpr LPARAM kReturnKey = 0x001C0001;

int g_failures = 0;

void Fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  printf("FAIL ");
  vprintf(format, args);
  printf("\n");
  fflush(stdout);
  va_end(args);
  ++g_failures;
}

template <typename F>
bool WaitUntil(F done, DWORD timeout_ms) {
  for (DWORD waited = 0;; waited += 50) {
    if (done()) return true;
    if (waited >= timeout_ms) return false;
    Sleep(50);
  }
}

std::wstring Wide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }
std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// WM_GETTEXT itself: GetWindowText gives only the stored caption of another process's control.
std::wstring TextOf(HWND window) {
  wchar_t text[4096] = {};
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 5000,
                      &copied);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

struct ExpectedControl {
  uint16_t id;
  const wchar_t* window_class;
  uint32_t needs;  // the field bit that makes it present, 0 for always
  std::wstring text;
};

void CheckControls(HWND dialog, const DialogScenario& s) {
  const ExpectedControl controls[] = {
      {kUserInfoButtonId, L"Button", 0, kButtonText},
      {kUserInfoPromptId, L"Static", 0, Wide(s.title_shown)},
      {kUserInfoLabel1Id, L"Static", kDumpUserText1, Wide(s.info1_shown)},
      {kUserInfoLabel2Id, L"Static", kDumpUserText2, Wide(s.info2_shown)},
      {kUserInfoLabel3Id, L"Static", kDumpUserText3, Wide(s.info3_shown)},
      {kUserInfoEdit1Id, L"Edit", kDumpUserText1, L""},
      {kUserInfoEdit2Id, L"Edit", kDumpUserText2, L""},
      {kUserInfoEdit3Id, L"Edit", kDumpUserText3, L""},
  };
  for (const ExpectedControl& c : controls) {
    HWND control = GetDlgItem(dialog, c.id);
    const bool wanted = c.needs == 0 || (s.flags & c.needs) != 0;
    if (!wanted) {
      if (control != nullptr) Fail("control %u is there but its field was not asked for", c.id);
      continue;
    }
    if (control == nullptr) {
      Fail("control %u is missing", c.id);
      continue;
    }
    if (_wcsicmp(ClassOf(control).c_str(), c.window_class) != 0)
      Fail("control %u is of class %ls, not %ls", c.id, ClassOf(control).c_str(), c.window_class);
    if (TextOf(control) != c.text) Fail("control %u shows %ls", c.id, TextOf(control).c_str());
  }

  // Whatever the flags, the controls lie inside the dialog and none covers another.
  RECT client;
  GetClientRect(dialog, &client);
  MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&client), 2);
  RECT rects[8];
  int count = 0;
  for (uint16_t id = kUserInfoButtonId; id <= kUserInfoEdit3Id; ++id) {
    HWND control = GetDlgItem(dialog, id);
    if (control == nullptr) continue;
    RECT r, inside;
    GetWindowRect(control, &r);
    IntersectRect(&inside, &r, &client);
    if (!EqualRect(&inside, &r)) Fail("control %u reaches outside the dialog", id);
    for (int i = 0; i < count; ++i) {
      RECT overlap;
      if (IntersectRect(&overlap, &r, &rects[i])) Fail("control %u overlaps another", id);
    }
    rects[count++] = r;
  }
  if (GetWindowLongW(dialog, GWL_STYLE) & WS_SYSMENU) Fail("the dialog has a system menu");
  // In front of everything, a frozen full-screen game included.
  if (!(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST)) Fail("the dialog is not topmost");
  if (GetForegroundWindow() != dialog) Fail("the dialog is not the foreground window");
}

// Every way a user or the system asks a dialog to go away; none may close this one.
void TryToClose(HWND dialog, const DialogScenario& s) {
  const uint16_t edits[] = {kUserInfoEdit1Id, kUserInfoEdit2Id, kUserInfoEdit3Id};
  for (uint16_t id : edits) {
    if (HWND edit = GetDlgItem(dialog, id)) {
      PostMessageW(edit, WM_KEYDOWN, VK_ESCAPE, kEscapeKey);
      PostMessageW(edit, WM_KEYUP, VK_ESCAPE, kEscapeKey | 0xC0000000);
    }
  }
  PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, kEscapeKey);
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  SendMessageW(dialog, WM_CLOSE, 0, 0);
  SendMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  Sleep(500);  // the posted keys go through the dialog's own loop
  if (!IsWindow(dialog) || !IsWindowVisible(dialog))
    Fail("the dialog of scenario %s closed without its button", s.name);
}

void Type(HWND dialog, uint16_t id, const std::u16string& text, const std::string& shown,
          bool by_keys) {
  HWND edit = GetDlgItem(dialog, id);
  if (edit == nullptr || text.empty()) return;
  if (by_keys) {
    // One key at a time, each waited for as a typist would: the WM_CHAR that the dialog's loop
    // makes of an Enter key joins the end of the queue, behind keys posted after it.
    for (char16_t c : text) {
      const std::wstring before = TextOf(edit);
      if (c == '\r') {
        // Enter as the keyboard gives it: the dialog's loop decides whether it is a line break
        // or the default button.
        PostMessageW(edit, WM_KEYDOWN, VK_RETURN, kReturnKey);
        PostMessageW(edit, WM_KEYUP, VK_RETURN, kReturnKey | 0xC0000000);
      } else {
        PostMessageW(edit, WM_CHAR, c, 1);
      }
      WaitUntil([&] { return !IsWindow(dialog) || TextOf(edit) != before; }, 2000);
    }
  } else {
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Wide(text).c_str()));
  }
  // Keys typed are short ASCII, so what the box shows is what the host will receive.
  const std::wstring want = by_keys ? Wide(shown) : Wide(text);
  if (!WaitUntil([&] { return !IsWindow(dialog) || TextOf(edit) == want; }, 10000) ||
      !IsWindow(dialog))
    Fail("box %u does not hold what was typed: %ls", id,
         IsWindow(dialog) ? TextOf(edit).c_str() : L"(closed)");
}

void Press(HWND dialog, DialogPress press) {
  HWND button = GetDlgItem(dialog, kUserInfoButtonId);
  switch (press) {
    case DialogPress::kButtonClick:
      SendMessageW(button, BM_CLICK, 0, 0);
      break;
    case DialogPress::kEnterInLine:
      PostMessageW(GetDlgItem(dialog, kUserInfoEdit1Id), WM_KEYDOWN, VK_RETURN, kReturnKey);
      break;
    case DialogPress::kCommand:
      PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(kUserInfoButtonId, BN_CLICKED),
                   reinterpret_cast<LPARAM>(button));
      break;
    case DialogPress::kNobody:
      break;
  }
}

// The settings are code page 936 bytes, written as they are.
bool WriteSettings(const DialogScenario& s, const char* path) {
  FILE* file = fopen(path, "wb");
  if (file == nullptr) return false;
  fprintf(file,
          "[VXException]\r\nFormat_CrashDump=%s\r\nFormat_CrashDump_Title=%s\r\n"
          "Format_CrashDump_Info1=%s\r\nFormat_CrashDump_Info2=%s\r\nFormat_CrashDump_Info3=%s\r\n",
          CrashDumpLetters(s.flags).c_str(), s.title.c_str(), s.info1.c_str(), s.info2.c_str(),
          s.info3.c_str());
  fprintf(file, "Format_UserInfo_Timeout=%u\r\n", s.time_limit_seconds);
  const bool ok = fclose(file) == 0;
  const std::string* wants[] = {&s.want1, &s.want2, &s.want3};
  for (int i = 0; i < 3; ++i) {
    printf("want%d=", i + 1);
    for (unsigned char c : *wants[i]) printf("%02X", c);
    printf("\n");
  }
  return ok;
}

BOOL CALLBACK PrintWindow(HWND window, LPARAM) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  printf("presser: window of process %lu: %ls \"%ls\"%s\n", process, ClassOf(window).c_str(),
         TextOf(window).c_str(), IsWindowVisible(window) ? " visible" : "");
  return TRUE;
}

void DismissMessageBox(const char* caption) {
  const std::wstring wide = Wide(std::string(caption));
  HWND box = nullptr;
  if (!WaitUntil([&] { return (box = FindWindowW(L"#32770", wide.c_str())) != nullptr; }, 30000)) {
    Fail("no message box \"%s\" after the dialog", caption);
    EnumWindows(PrintWindow, 0);  // what there is instead
    return;
  }
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  printf("presser: pressed OK on the message box \"%s\"\n", caption);
}

}  // namespace

int main(int argc, char** argv) {
  const DialogScenario* scenario = argc >= 2 ? FindDialogScenario(argv[1]) : nullptr;
  bool shot = false;
  const char* dismiss = nullptr;
  const char* settings = nullptr;
  for (int i = 2; i < argc; ++i) {
    if (strcmp(argv[i], "--shot") == 0)
      shot = true;
    else if (strcmp(argv[i], "--dismiss") == 0 && i + 1 < argc)
      dismiss = argv[++i];
    else if (strcmp(argv[i], "--write-settings") == 0 && i + 1 < argc)
      settings = argv[++i];
    else
      scenario = nullptr;
  }
  if (scenario == nullptr) {
    fprintf(
        stderr,
        "usage: dialog_presser SCENARIO [--shot] [--dismiss CAPTION] | --write-settings PATH\n");
    return 2;
  }
  if (settings != nullptr) return WriteSettings(*scenario, settings) ? 0 : 1;
  HWND dialog = nullptr;
  if (!WaitUntil(
          [&] {
            return (dialog = FindWindowW(L"#32770", kCaption)) != nullptr &&
                   IsWindowVisible(dialog);
          },
          30000)) {
    Fail("no dialog with the caption appeared");
    return 1;
  }
  printf("presser: found the dialog of scenario %s\n", scenario->name);
  fflush(stdout);

  CheckControls(dialog, *scenario);
  TryToClose(dialog, *scenario);
  Type(dialog, kUserInfoEdit1Id, scenario->type1, scenario->want1, scenario->by_keys);
  Type(dialog, kUserInfoEdit2Id, scenario->type2, scenario->want2, scenario->by_keys);
  Type(dialog, kUserInfoEdit3Id, scenario->type3, scenario->want3, scenario->by_keys);
  const ULONGLONG typed = GetTickCount64();

  if (shot && IsWindow(dialog)) {
    Sleep(500);  // let the host paint what was typed
    RECT r;
    GetWindowRect(dialog, &r);
    printf("SHOT %ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    fflush(stdout);
    char line[16];
    if (fgets(line, sizeof line, stdin) == nullptr) Fail("no go-ahead after the picture");
  }

  Press(dialog, scenario->press);
  if (scenario->press == DialogPress::kNobody) {
    // Counted from the last change to a text, which came a little before the typing was seen
    // done (a multi-line box set whole does not count as a change): never much sooner.
    const DWORD limit_ms = scenario->time_limit_seconds * 1000;
    if (!WaitUntil([&] { return !IsWindow(dialog); }, limit_ms + 30000))
      Fail("the dialog did not end by itself within its time limit and 30 s");
    const ULONGLONG waited = GetTickCount64() - typed;
    printf("presser: the dialog ended by itself %llu ms after the typing\n", waited);
    if (waited + 2000 < limit_ms) Fail("the dialog ended before its time limit of %lu ms", limit_ms);
  } else if (!WaitUntil([&] { return !IsWindow(dialog); }, 10000)) {
    Fail("the button did not close the dialog");
  }
  if (dismiss != nullptr) DismissMessageBox(dismiss);
  printf("presser: %d failures\n", g_failures);
  return g_failures == 0 ? 0 : 1;
}
