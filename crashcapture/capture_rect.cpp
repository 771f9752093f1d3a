#include "crashcapture/capture_rect.h"

#include <cstdint>

namespace {

// One axis. The far side is worked out in 64 bits: a caller's x + width may not fit an int, and
// wrapping would turn a request reaching past the edge into an empty or negative one.
bool Span(int screen, int start, int length, int* first, int* count) {
  const int64_t wanted = length < 0 ? screen : length;
  const int64_t near_side = start > 0 ? start : 0;
  int64_t far_side = int64_t{start} + wanted;
  if (far_side > screen) far_side = screen;
  if (far_side - near_side <= 0) return false;
  *first = static_cast<int>(near_side);
  *count = static_cast<int>(far_side - near_side);
  return true;
}

}  // namespace

bool ComputeCaptureRect(int screen_width, int screen_height, int x, int y, int width, int height,
                        CaptureRect* out) {
  CaptureRect rect;
  if (!Span(screen_width, x, width, &rect.left, &rect.width)) return false;
  if (!Span(screen_height, y, height, &rect.top, &rect.height)) return false;
  *out = rect;
  return true;
}
