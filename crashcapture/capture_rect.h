// Which part of the screen a screenshot request covers. Portable: the screen size comes in as numbers.
#pragma once

struct CaptureRect {
  int left;
  int top;
  int width;
  int height;
};

// The rectangle of the screen that a request for (x, y, width, height) captures: a negative width or
// height means "to the screen's edge", a corner left of or above the screen starts at its edge, and
// the far side stops at the screen's edge. False when no pixel remains.
bool ComputeCaptureRect(int screen_width, int screen_height, int x, int y, int width, int height,
                        CaptureRect* out);
