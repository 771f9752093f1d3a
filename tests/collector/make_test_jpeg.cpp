// Test-only native program that writes the small baseline JPEG placed in the crash dump's
// screenshot stream (tests/collector/data/screenshot.jpg). Its odd size (37 x 23) makes a reader
// that confuses width with height, or reads the wrong bytes of the frame header, visible.
//
//   g++ -O1 -o build/make_test_jpeg tests/collector/make_test_jpeg.cpp -lturbojpeg
//   build/make_test_jpeg tests/collector/data/screenshot.jpg
#include <turbojpeg.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_test_jpeg OUT.jpg\n");
    return 2;
  }
  const int width = 37, height = 23;
  std::vector<unsigned char> rgb(width * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      unsigned char* p = &rgb[(y * width + x) * 3];
      p[0] = static_cast<unsigned char>(x * 255 / width);
      p[1] = static_cast<unsigned char>(y * 255 / height);
      p[2] = 128;
    }
  }
  tjhandle handle = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  if (!handle || tjCompress2(handle, rgb.data(), width, 0, height, TJPF_RGB, &jpeg, &size, TJSAMP_420, 50, 0) != 0) {
    std::fprintf(stderr, "compression failed\n");
    return 1;
  }
  FILE* f = std::fopen(argv[1], "wb");
  bool ok = f && std::fwrite(jpeg, 1, size, f) == size;
  if (f) std::fclose(f);
  tjFree(jpeg);
  tjDestroy(handle);
  return ok ? 0 : 1;
}
