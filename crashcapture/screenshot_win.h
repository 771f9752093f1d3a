// The screenshot of a dump: a rectangle of the primary display, copied with GDI and encoded as a
// baseline JPEG by the still-image encoder.
#pragma once

// Captures the rectangle at (x, y) of width by height screen pixels (a negative width or height: up
// to the screen's edge; parts off the screen are cut away) and encodes it at quality 0..100 (values
// outside are clamped). Returns the JPEG's byte count and stores its block through out, for the
// caller to give back with FreeScreenshot; or returns 0 and stores null (when out is not null),
// having kept nothing. The blocks come from VirtualAlloc, not the heap: the capture runs while the
// host's threads are frozen, and one of them may hold the heap's lock.
int CaptureScreenshot(unsigned char** out, int quality, int x, int y, int width, int height);

// Gives back a block from CaptureScreenshot; null is ignored.
void FreeScreenshot(unsigned char* jpeg);
