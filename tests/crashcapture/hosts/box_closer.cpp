// Plays the user in front of the crash message box: waits for the box, leaves it standing for
// HOLD_MS, reads its text and caption, then presses OK. Lines "name=value" on standard error, among
// them when the box was found.
//
//   box_closer.exe HOLD_MS
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Microseconds since 1970, comparable with the driver's clock.
unsigned long long UnixMicroseconds() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return ticks / 10 - 11644473600ull * 1000000ull;
}

constexpr int kFindTimeoutMs = 60000;
constexpr int kMessageTextId = 0xFFFF;  // the static control that holds a message box's text

void PrintWide(const char* name, const wchar_t* text) {
  fprintf(stderr, "%s=", name);
  for (const wchar_t* p = text; *p; ++p) fprintf(stderr, "%04x", unsigned(*p));
  fprintf(stderr, "\n");
}

}  // namespace

int main(int argc, char** argv) {
  int hold_ms = argc > 1 ? atoi(argv[1]) : 0;
  HWND box = nullptr;
  for (int waited = 0; !box && waited < kFindTimeoutMs; waited += 100) {
    box = FindWindowW(L"#32770", nullptr);
    if (!box) Sleep(100);
  }
  fprintf(stderr, "box_found=%d\nfound_us=%llu\n", box != nullptr, UnixMicroseconds());
  fflush(stderr);
  if (!box) return 1;
  Sleep(DWORD(hold_ms));
  fprintf(stderr, "box_still_there=%d\n", IsWindow(box) ? 1 : 0);
  wchar_t text[256] = {}, caption[128] = {};
  GetDlgItemTextW(box, kMessageTextId, text, 256);
  GetWindowTextW(box, caption, 128);
  PrintWide("text_utf16", text);
  PrintWide("caption_utf16", caption);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  fprintf(stderr, "pressed=1\n");
  return 0;
}
