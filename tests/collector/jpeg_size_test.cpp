#include "jpeg_size.h"

#include <gtest/gtest.h>

#include "collector_test_support.h"

using namespace collector;
using namespace collector_test;

namespace {

bool Size(const Buffer& b, JpegSize* size) { return ReadJpegSize(View(b), size); }

// SOI, an APP0 segment of four bytes, then whatever the case adds.
Buffer Start(const Buffer& rest) {
  Buffer b = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x06, 'J', 'F', 'I', 'F'};
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

// A frame header of `marker` for a width x height image with one component.
Buffer Frame(uint8_t marker, uint16_t width, uint16_t height) {
  return {0xFF, marker, 0x00, 0x0B, 8, uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8),
          uint8_t(width), 1, 1, 0x11, 0};
}

}  // namespace

TEST(CollectorJpeg, RealImage) {
  JpegSize size;
  ASSERT_TRUE(Size(ReadFile(DataPath("screenshot.jpg")), &size));
  EXPECT_EQ(size.width, 37);
  EXPECT_EQ(size.height, 23);
}

TEST(CollectorJpeg, MarkersAndBounds) {
  Buffer fill = {0xFF, 0xFF, 0xFF};  // fill bytes before a marker are allowed
  Buffer wide = Frame(0xC0, 1920, 1080);
  wide.insert(wide.begin(), fill.begin(), fill.end());
  struct Case {
    const char* name;
    Buffer jpeg;
    bool ok;
    uint16_t width, height;
  };
  const Case cases[] = {
      {"baseline", Start(Frame(0xC0, 640, 480)), true, 640, 480},
      {"fill bytes", Start(wide), true, 1920, 1080},
      {"progressive", Start(Frame(0xC2, 3, 65535)), true, 3, 65535},
      {"restart marker skipped", Start(Buffer{0xFF, 0xD0, 0xFF, 0xC0, 0, 7, 8, 0, 2, 0, 5}), true, 5, 2},
      {"not a JPEG", Frame(0xC0, 1, 1), false, 0, 0},
      {"scan before frame", Start(Buffer{0xFF, 0xDA, 0, 2}), false, 0, 0},
      {"frame header cut", Start(Buffer{0xFF, 0xC0, 0x00, 0x0B, 8, 0}), false, 0, 0},
      {"frame length below 7", Start(Buffer{0xFF, 0xC0, 0x00, 0x04, 8, 0, 1, 0, 1}), false, 0, 0},
      {"segment length 1", Start(Buffer{0xFF, 0xE1, 0x00, 0x01}), false, 0, 0},
      {"segment past end", Start(Buffer{0xFF, 0xE1, 0xFF, 0xFF, 0}), false, 0, 0},
      {"garbage between segments", Start(Buffer{0x00, 0xFF, 0xC0, 0, 7, 8, 0, 2, 0, 5}), false, 0, 0},
      {"only fill bytes", Start(Buffer{0xFF, 0xFF}), false, 0, 0},
  };
  for (const Case& c : cases) {
    JpegSize size;
    ASSERT_EQ(Size(c.jpeg, &size), c.ok) << c.name;
    if (!c.ok) continue;
    EXPECT_EQ(size.width, c.width) << c.name;
    EXPECT_EQ(size.height, c.height) << c.name;
  }
}

TEST(CollectorJpeg, EveryPrefixOfARealImage) {
  Buffer jpeg = ReadFile(DataPath("screenshot.jpg"));
  size_t found_from = 0;
  for (size_t n = 0; n <= jpeg.size(); ++n) {
    JpegSize size;
    bool ok = Size(Buffer(jpeg.begin(), jpeg.begin() + n), &size);
    if (ok && !found_from) found_from = n;
    EXPECT_EQ(ok, found_from && n >= found_from) << n;  // once readable, every longer prefix is too
  }
  EXPECT_GT(found_from, 0u);
}
