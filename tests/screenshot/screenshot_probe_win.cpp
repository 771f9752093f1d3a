// Paints the test pattern over the whole screen, then calls CaptureScreenshot the ways a test needs
// and writes each JPEG with a manifest line for the native checker, which decodes them:
//   <name>.jpg <left> <top> <width> <height>
// The checks that need no decoding (results, failures, clamped qualities, what stays allocated)
// are made here. Exit code 0 when they all held.
//
//   screenshot_probe <output folder>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "crashcapture/screenshot_win.h"
#include "tests/screenshot/screen_pattern.h"

namespace {

int g_failures = 0;

void Check(bool ok, const char* what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
  if (!ok) ++g_failures;
}

LRESULT CALLBACK PatternProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_ERASEBKGND) return 1;
  if (message != WM_PAINT) return DefWindowProcA(window, message, wparam, lparam);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT client;
  GetClientRect(window, &client);
  for (int top = 0; top < client.bottom; top += screenpattern::kCellHeight) {
    for (int left = 0; left < client.right; left += screenpattern::kCellWidth) {
      const screenpattern::Rgb c = screenpattern::ColourAt(left, top);
      HBRUSH brush = CreateSolidBrush(RGB(c.red, c.green, c.blue));
      RECT cell = {left, top, left + screenpattern::kCellWidth, top + screenpattern::kCellHeight};
      FillRect(dc, &cell, brush);
      DeleteObject(brush);
    }
  }
  EndPaint(window, &paint);
  return 0;
}

// A borderless topmost window over the whole screen, painted and given time to reach the display.
HWND ShowPattern(int width, int height) {
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = PatternProc;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = "ScreenshotPattern";
  RegisterClassA(&window_class);
  HWND window = CreateWindowExA(WS_EX_TOPMOST, "ScreenshotPattern", "", WS_POPUP | WS_VISIBLE, 0, 0, width, height,
                                nullptr, nullptr, window_class.hInstance, nullptr);
  UpdateWindow(window);
  const DWORD until = GetTickCount() + 1500;
  while (GetTickCount() < until) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    Sleep(20);
  }
  GdiFlush();
  return window;
}

// Width and height from the JPEG's baseline frame header.
bool FrameSize(const unsigned char* jpeg, int size, int* width, int* height) {
  for (int at = 2; at + 9 < size;) {
    if (jpeg[at] != 0xFF) return false;
    const int length = jpeg[at + 2] << 8 | jpeg[at + 3];
    if (jpeg[at + 1] == 0xC0) {
      *height = jpeg[at + 5] << 8 | jpeg[at + 6];
      *width = jpeg[at + 7] << 8 | jpeg[at + 8];
      return true;
    }
    at += 2 + length;
  }
  return false;
}

std::string g_folder;
FILE* g_manifest = nullptr;

// Captures, checks the frame size against the expected rectangle, and keeps the JPEG for the checker.
void CaptureAndKeep(const char* name, int quality, int x, int y, int width, int height, int expect_left,
                    int expect_top, int expect_width, int expect_height) {
  unsigned char* jpeg = nullptr;
  const int size = CaptureScreenshot(&jpeg, quality, x, y, width, height);
  char what[160];
  std::snprintf(what, sizeof what, "%s: CaptureScreenshot(q%d, %d, %d, %d, %d) gave %d bytes", name, quality, x, y,
                width, height, size);
  Check(size > 0 && jpeg != nullptr, what);
  if (size <= 0 || jpeg == nullptr) return;
  int frame_width = 0, frame_height = 0;
  const bool framed = FrameSize(jpeg, size, &frame_width, &frame_height);
  std::snprintf(what, sizeof what, "%s: frame %dx%d, expected %dx%d", name, frame_width, frame_height, expect_width,
                expect_height);
  Check(framed && frame_width == expect_width && frame_height == expect_height, what);
  Check(jpeg[0] == 0xFF && jpeg[1] == 0xD8 && jpeg[size - 2] == 0xFF && jpeg[size - 1] == 0xD9,
        "  starts with SOI, ends with EOI");
  const std::string file = g_folder + "\\" + name + ".jpg";
  if (FILE* out = std::fopen(file.c_str(), "wb")) {
    std::fwrite(jpeg, 1, static_cast<size_t>(size), out);
    std::fclose(out);
    std::fprintf(g_manifest, "%s.jpg %d %d %d %d\n", name, expect_left, expect_top, expect_width, expect_height);
  } else {
    Check(false, "  write the JPEG");
  }
  FreeScreenshot(jpeg);
}

std::string Capture(int quality, int x, int y, int width, int height) {
  unsigned char* jpeg = nullptr;
  const int size = CaptureScreenshot(&jpeg, quality, x, y, width, height);
  std::string bytes;
  if (size > 0 && jpeg != nullptr) bytes.assign(reinterpret_cast<char*>(jpeg), static_cast<size_t>(size));
  FreeScreenshot(jpeg);
  return bytes;
}

void ExpectNothing(const char* what, int x, int y, int width, int height) {
  unsigned char* jpeg = reinterpret_cast<unsigned char*>(&g_failures);  // must be overwritten with null
  const int size = CaptureScreenshot(&jpeg, 75, x, y, width, height);
  Check(size == 0 && jpeg == nullptr, what);
}

// Committed private memory of the process: what VirtualAlloc'd blocks left behind would add to.
size_t CommittedPrivateBytes() {
  size_t total = 0;
  MEMORY_BASIC_INFORMATION region;
  for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;
       at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
  }
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: screenshot_probe <output folder>\n");
    return 2;
  }
  g_folder = argv[1];
  g_manifest = std::fopen((g_folder + "\\manifest.txt").c_str(), "w");
  if (g_manifest == nullptr) {
    std::fprintf(stderr, "cannot write in %s\n", argv[1]);
    return 2;
  }
  const int screen_width = GetSystemMetrics(SM_CXSCREEN);
  const int screen_height = GetSystemMetrics(SM_CYSCREEN);
  std::printf("screen %dx%d\n", screen_width, screen_height);
  HWND window = ShowPattern(screen_width, screen_height);

  // 3 * 1366 = 4098 bytes a row: the bitmap pads each row to 4100.
  CaptureAndKeep("whole", 75, 0, 0, -1, -1, 0, 0, screen_width, screen_height);
  CaptureAndKeep("from_column_100", 75, 100, 0, -1, -1, 100, 0, screen_width - 100, screen_height);
  CaptureAndKeep("left_of_screen", 75, -10, 37, 100, 50, 0, 37, 90, 50);
  CaptureAndKeep("odd_piece", 40, 333, 129, 257, 131, 333, 129, 257, 131);
  CaptureAndKeep("one_pixel", 15, 85, 70, 1, 1, 85, 70, 1, 1);

  Check(CaptureScreenshot(nullptr, 75, 0, 0, -1, -1) == 0, "null out gives 0");
  ExpectNothing("a rectangle right of the screen gives 0 and null", screen_width, 0, -1, -1);
  ExpectNothing("a rectangle below the screen gives 0 and null", 0, screen_height, 10, 10);
  ExpectNothing("an empty rectangle gives 0 and null", 10, 10, 0, 10);

  // The screen stands still, so a clamped quality must give the very bytes of its limit.
  const std::string q0 = Capture(0, 0, 0, 640, 480);
  const std::string q100 = Capture(100, 0, 0, 640, 480);
  Check(!q0.empty() && Capture(-5, 0, 0, 640, 480) == q0, "quality -5 is quality 0");
  Check(!q100.empty() && Capture(150, 0, 0, 640, 480) == q100, "quality 150 is quality 100");
  Check(q0 != q100, "  and 0 differs from 100");

  // Nothing stays behind: neither the blocks of successful captures given back through
  // FreeScreenshot, nor anything of failed ones.
  Capture(75, 0, 0, -1, -1);  // warm GDI's own caches up first
  const size_t before = CommittedPrivateBytes();
  for (int i = 0; i < 8; ++i) {
    Capture(75, 0, 0, -1, -1);
    unsigned char* jpeg = nullptr;
    CaptureScreenshot(&jpeg, 75, screen_width + 5, 0, -1, -1);
  }
  const size_t after = CommittedPrivateBytes();
  char what[128];
  std::snprintf(what, sizeof what, "8 whole-screen captures leave %lld bytes committed behind (under 1 MB)",
                static_cast<long long>(after) - static_cast<long long>(before));
  Check(after < before + (1u << 20), what);

  DestroyWindow(window);
  std::fclose(g_manifest);
  std::printf("%d failure(s)\n", g_failures);
  return g_failures == 0 ? 0 : 1;
}
