// Stands in for the screenshot until its own file is in the tree: the capture's failure result,
// so that a dump simply carries no screenshot stream.
int CaptureScreenshot(unsigned char** out, int, int, int, int, int) {
  if (out) *out = nullptr;
  return 0;
}

void FreeScreenshot(unsigned char*) {}
