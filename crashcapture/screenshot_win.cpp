#include "crashcapture/screenshot_win.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "crashcapture/capture_rect.h"
#include "guard/guard.h"
#include "jpeg/jpeg_encoder.h"

namespace {

constexpr int kBytesPerPixel = 3;
constexpr int kDibRowAlignment = 4;  // a device-independent bitmap's rows start on 4-byte boundaries
constexpr int kMinQuality = 0;
constexpr int kMaxQuality = 100;
// The output block holds 3 bytes a pixel and this much more. JPEG at 4:2:0 stays well under
// 3 bytes a pixel even for noise at quality 100; the markers and tables take about 600 bytes, which
// the page rounding below leaves room for even when the capture is a few pixels.
constexpr size_t kOutputSlack = 100;

// Everything the capture holds, so that whatever point it stops at (a failed call, or a fault
// inside a guarded step) Release can give it all back.
struct Capture {
  HDC display = nullptr;
  HDC memory = nullptr;
  HGDIOBJ previous = nullptr;  // the memory context's bitmap before ours was selected
  HBITMAP bitmap = nullptr;
  HDC screen = nullptr;
  unsigned char* pixels = nullptr;
  unsigned char* jpeg = nullptr;
  bool encoder_ready = false;
  JpegProperties encoder = {};
};

unsigned char* ReservePages(size_t bytes) {
  return static_cast<unsigned char*>(VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
}

void ReleasePages(unsigned char*& block) {
  if (block != nullptr) VirtualFree(block, 0, MEM_RELEASE);
  block = nullptr;
}

// VirtualAlloc hands out whole pages; asking for them all costs nothing and gives a tiny capture
// room for the JPEG's fixed markers.
size_t WholePages(size_t bytes) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const size_t page = info.dwPageSize;
  return (bytes + page - 1) / page * page;
}

void DeleteContexts(Capture* c) {
  if (c->memory != nullptr) {
    if (c->previous != nullptr) SelectObject(c->memory, c->previous);
    c->previous = nullptr;
    DeleteDC(c->memory);
    c->memory = nullptr;
  }
  if (c->display != nullptr) DeleteDC(c->display);
  c->display = nullptr;
}

void Release(Capture* c) {
  DeleteContexts(c);
  if (c->screen != nullptr) ReleaseDC(nullptr, c->screen);
  c->screen = nullptr;
  if (c->bitmap != nullptr) DeleteObject(c->bitmap);
  c->bitmap = nullptr;
  if (c->encoder_ready) JpegRelease(&c->encoder);
  c->encoder_ready = false;
  ReleasePages(c->pixels);
  ReleasePages(c->jpeg);
}

// One BitBlt of the rectangle into a bitmap of its size; the contexts are gone afterwards.
bool CopyFromScreen(Capture* c, const CaptureRect& rect) {
  c->memory = CreateCompatibleDC(c->display);
  if (c->memory == nullptr) return false;
  c->bitmap = CreateCompatibleBitmap(c->display, rect.width, rect.height);
  if (c->bitmap == nullptr) return false;
  c->previous = SelectObject(c->memory, c->bitmap);
  const BOOL copied = BitBlt(c->memory, 0, 0, rect.width, rect.height, c->display, rect.left, rect.top, SRCCOPY);
  DeleteContexts(c);
  return copied != FALSE;
}

// One GetDIBits of the whole bitmap as 24-bit rows, top row first.
bool ReadPixels(Capture* c, const CaptureRect& rect, size_t row_bytes) {
  c->pixels = ReservePages(row_bytes * static_cast<size_t>(rect.height));
  if (c->pixels == nullptr) return false;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = rect.width;
  info.bmiHeader.biHeight = -rect.height;  // negative: top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  c->screen = GetDC(nullptr);
  const int lines = GetDIBits(c->screen, c->bitmap, 0, static_cast<UINT>(rect.height), c->pixels, &info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, c->screen);
  c->screen = nullptr;
  DeleteObject(c->bitmap);
  c->bitmap = nullptr;
  return lines >= rect.height;
}

// Initialises the encoder, reserves the output block and writes the whole image into it.
size_t Encode(Capture* c, const CaptureRect& rect, size_t row_bytes, int quality) {
  if (JpegInit(&c->encoder) != kJpegOk) return 0;
  c->encoder_ready = true;
  JpegProperties& p = c->encoder;
  p.input_pixels = c->pixels;
  p.input_width = rect.width;
  p.input_height = rect.height;
  p.input_pad_bytes = static_cast<int32_t>(row_bytes - static_cast<size_t>(rect.width) * kBytesPerPixel);
  p.input_channels = kBytesPerPixel;
  p.input_order = kJpegOrderBgr;
  p.output_width = rect.width;
  p.output_height = rect.height;
  p.output_channels = 3;
  p.output_space = kJpegSpaceYCbCr;
  p.output_sampling = kJpegSampling420;
  p.quality = quality;
  p.mode = kJpegModeWholeImageToMemory;
  const size_t block = WholePages(size_t{3} * rect.width * rect.height + kOutputSlack);
  c->jpeg = ReservePages(block);
  if (c->jpeg == nullptr) return 0;
  p.output_buffer = c->jpeg;
  p.output_size = block;
  if (JpegWrite(&p) != kJpegOk) return 0;
  return p.output_size;
}

struct Request {
  int quality, x, y, width, height;
};

// Every step of the capture; a fault in any of them ends it like a failed call.
size_t CaptureSteps(Capture* c, const Request& request) {
  c->display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  if (c->display == nullptr) return 0;
  const int screen_width = GetDeviceCaps(c->display, HORZRES);
  const int screen_height = GetDeviceCaps(c->display, VERTRES);
  CaptureRect rect;
  if (!ComputeCaptureRect(screen_width, screen_height, request.x, request.y, request.width, request.height, &rect)) {
    return 0;
  }
  if (!CopyFromScreen(c, rect)) return 0;
  const size_t row_bytes = (static_cast<size_t>(rect.width) * kBytesPerPixel + kDibRowAlignment - 1) /
                           kDibRowAlignment * kDibRowAlignment;
  if (!ReadPixels(c, rect, row_bytes)) return 0;
  return Encode(c, rect, row_bytes, request.quality);
}

}  // namespace

int CaptureScreenshot(unsigned char** out, int quality, int x, int y, int width, int height) {
  if (out == nullptr) return 0;
  *out = nullptr;
  if (quality < kMinQuality) quality = kMinQuality;
  if (quality > kMaxQuality) quality = kMaxQuality;
  const Request request{quality, x, y, width, height};
  Capture capture;
  size_t bytes = 0;
  if (!RunGuardedCall([&] { bytes = CaptureSteps(&capture, request); })) bytes = 0;
  if (bytes > 0 && bytes <= static_cast<size_t>(INT32_MAX)) {
    *out = capture.jpeg;
    capture.jpeg = nullptr;  // the caller's now
  } else {
    bytes = 0;
  }
  Release(&capture);
  return static_cast<int>(bytes);
}

void FreeScreenshot(unsigned char* jpeg) { ReleasePages(jpeg); }
