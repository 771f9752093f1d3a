// The user-description dialog: a template built from a dump format's texts, run modally.
#include <windows.h>

#include <cstring>

#include "crashcapture/crash_capture.h"
#include "crashcapture/crash_state_win.h"
#include "crashcapture/dialog_template.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16 units");

namespace {

// The settings are written in GBK whatever the system's code page is.
constexpr UINT kSettingsCodePage = 936;

// A DumpFormat's fields are filled without measuring, so none is trusted to hold its terminator.
template <size_t N>
size_t FieldLength(const char (&field)[N]) {
  return strnlen(field, N - 1);
}

// out holds at least as many units as the text has bytes, so the conversion never runs short.
DialogText ToUtf16(const char* text, size_t bytes, char16_t* out, size_t out_units) {
  if (bytes == 0) return {out, 0};
  wchar_t* wide = reinterpret_cast<wchar_t*>(out);
  int units = MultiByteToWideChar(kSettingsCodePage, 0, text, static_cast<int>(bytes), wide,
                                  static_cast<int>(out_units));
  // A system without the GBK table still shows the texts as its own code page reads them.
  if (units <= 0)
    units = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(bytes), wide,
                                static_cast<int>(out_units));
  return {out, units > 0 ? static_cast<size_t>(units) : 0};
}

// A double-byte text cut to its buffer can end in the first byte of a character (Wine's
// GetDlgItemTextA cuts there); that byte would garble the report's last character, so it goes.
void DropHalfCharacter(char* text) {
  for (char* p = text; *p != 0; ++p) {
    if (!IsDBCSLeadByte(static_cast<BYTE>(*p))) continue;
    if (p[1] == 0) {
      *p = 0;
      return;
    }
    ++p;
  }
}

void CopyTexts(HWND dialog, UserInfo* info) {
  // A field without its box is left an empty text rather than whatever the record held.
  info->text1[0] = info->text2[0] = info->text3[0] = 0;
  // Each call keeps room for the terminator, so what was typed beyond a field is cut there.
  GetDlgItemTextA(dialog, kUserInfoEdit1Id, info->text1, sizeof info->text1);
  GetDlgItemTextA(dialog, kUserInfoEdit2Id, info->text2, sizeof info->text2);
  GetDlgItemTextA(dialog, kUserInfoEdit3Id, info->text3, sizeof info->text3);
  DropHalfCharacter(info->text1);
  DropHalfCharacter(info->text2);
  DropHalfCharacter(info->text3);
}

constexpr UINT_PTR kTimeLimitTimer = 1;  // the dialog's only timer
constexpr INT_PTR kEndedByButton = 1;
constexpr INT_PTR kEndedByTimeLimit = 2;

// What WM_INITDIALOG receives.
struct DialogStart {
  UserInfo* info;
  UINT time_limit_ms;
};

// Behind a game in exclusive full screen the dialog would never be seen, and a player who sees
// nothing kills the game and the report with it: it goes above every window that is not topmost
// itself, and takes the foreground, which the crashed game's process still holds.
void BringToFront(HWND dialog) {
  SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetForegroundWindow(dialog);
}

// Counted afresh whenever the user changes a text: a player who is typing is there, and is not cut
// off in the middle of a sentence.
void RestartTimeLimit(HWND dialog) {
  if (g_crash_state.dialog_time_limit_ms != 0)
    SetTimer(dialog, kTimeLimitTimer, g_crash_state.dialog_time_limit_ms, nullptr);
}

// The button and the time limit end the dialog alike: with what was typed so far.
void EndWithTexts(HWND dialog, INT_PTR how) {
  KillTimer(dialog, kTimeLimitTimer);
  UserInfo*& user_info = g_crash_state.dialog_user_info;
  if (user_info != nullptr) CopyTexts(dialog, user_info);
  user_info = nullptr;
  EndDialog(dialog, how);
}

// Returns FALSE for every message, WM_INITDIALOG too, so the system leaves the focus where it
// puts it. Nothing answers IDCANCEL: Esc and the close command leave the dialog open.
// Where the texts go and the time limit are set when the dialog starts and cleared when it ends:
// one dialog at a time, a second would share them.
INT_PTR CALLBACK UserInfoDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    const DialogStart* start = reinterpret_cast<const DialogStart*>(lparam);
    g_crash_state.dialog_user_info = start->info;
    g_crash_state.dialog_time_limit_ms = start->time_limit_ms;
    BringToFront(dialog);
    RestartTimeLimit(dialog);
  } else if (message == WM_COMMAND && LOWORD(wparam) == kUserInfoButtonId) {
    EndWithTexts(dialog, kEndedByButton);
  } else if (message == WM_COMMAND && HIWORD(wparam) == EN_CHANGE) {
    RestartTimeLimit(dialog);
  } else if (message == WM_TIMER && wparam == kTimeLimitTimer) {
    EndWithTexts(dialog, kEndedByTimeLimit);
  }
  return FALSE;
}

}  // namespace

bool ShowUserInfoDialogFor(const DumpFormat& format, UserInfo* info, uint32_t timeout_seconds) {
  const size_t title_bytes = FieldLength(format.title);
  const size_t info1_bytes = FieldLength(format.info1);
  const size_t info2_bytes = FieldLength(format.info2);
  const size_t info3_bytes = FieldLength(format.info3);
  const size_t capacity =
      UserInfoTemplateCapacity(title_bytes + info1_bytes + info2_bytes + info3_bytes);

  // Fixed memory: the handle is the address, and it stays put while the dialog reads it.
  HGLOBAL block = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, capacity);
  if (block == nullptr) return false;
  void* memory = GlobalLock(block);
  if (memory == nullptr) {
    GlobalFree(block);
    return false;
  }

  char16_t title[kDialogTitleLimit];
  char16_t info1[kDialogInfo12Limit];
  char16_t info2[kDialogInfo12Limit];
  char16_t info3[kDialogInfo3Limit];
  static_assert(sizeof format.title <= kDialogTitleLimit &&
                    sizeof format.info1 <= kDialogInfo12Limit &&
                    sizeof format.info3 <= kDialogInfo3Limit,
                "every byte of a setting has a unit in its buffer");
  UserInfoDialogTexts texts;
  texts.title = ToUtf16(format.title, title_bytes, title, kDialogTitleLimit);
  texts.info1 = ToUtf16(format.info1, info1_bytes, info1, kDialogInfo12Limit);
  texts.info2 = ToUtf16(format.info2, info2_bytes, info2, kDialogInfo12Limit);
  texts.info3 = ToUtf16(format.info3, info3_bytes, info3, kDialogInfo3Limit);
  texts.title_bytes = title_bytes;
  const size_t size =
      BuildUserInfoTemplate(texts, format.flags, static_cast<uint8_t*>(memory), capacity);
  GlobalUnlock(block);
  if (size == 0) {  // the capacity holds every template, so this is a fault of ours
    GlobalFree(block);
    return false;
  }

  // No owner: in a crash every other thread, and so every window of the host, is frozen.
  DialogStart start = {info, UINT(timeout_seconds) * 1000u};
  const INT_PTR result =
      DialogBoxIndirectParamA(GetModuleHandleA(nullptr), static_cast<LPCDLGTEMPLATEA>(memory),
                              nullptr, UserInfoDialogProc, reinterpret_cast<LPARAM>(&start));
  g_crash_state.dialog_user_info = nullptr;
  g_crash_state.dialog_time_limit_ms = 0;
  GlobalFree(block);
  // -1 (or 0 for a bad owner) means no dialog was made; only the button and the time limit end it.
  return result == kEndedByButton || result == kEndedByTimeLimit;
}
