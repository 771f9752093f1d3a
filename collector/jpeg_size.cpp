#include "jpeg_size.h"

namespace collector {
namespace {

// Marker codes (the byte after 0xFF).
constexpr uint8_t kSoi = 0xD8;  // start of image
constexpr uint8_t kEoi = 0xD9;  // end of image
constexpr uint8_t kSos = 0xDA;  // start of scan: entropy-coded data follows, no frame header after it
constexpr uint8_t kSof0 = 0xC0;  // baseline frame header, what the screenshot encoder writes
constexpr uint8_t kSof2 = 0xC2;  // extended (0xC1) and progressive (0xC2) frames have the same header
constexpr uint8_t kTem = 0x01;  // stands alone, like the restart markers
constexpr uint8_t kRst0 = 0xD0;
constexpr uint8_t kRst7 = 0xD7;

bool StandsAlone(uint8_t marker) { return marker == kTem || (marker >= kRst0 && marker <= kRst7); }

}  // namespace

bool ReadJpegSize(Bytes jpeg, JpegSize* size) {
  if (jpeg.size < 2 || jpeg.data[0] != 0xFF || jpeg.data[1] != kSoi) return false;
  uint64_t at = 2;
  while (at < jpeg.size) {
    if (jpeg.data[at] != 0xFF) return false;  // segments follow one another without gaps
    while (at < jpeg.size && jpeg.data[at] == 0xFF) ++at;  // 0xFF fill bytes may precede a marker
    if (at >= jpeg.size) return false;
    uint8_t marker = jpeg.data[at++];
    if (StandsAlone(marker)) continue;
    if (marker == kSoi || marker == kEoi || marker == kSos) return false;
    uint16_t length = 0;  // counts itself but not the marker
    if (!ReadBe16(jpeg, at, &length) || length < 2 || !InBounds(jpeg.size, at, length)) return false;
    if (marker >= kSof0 && marker <= kSof2) {
      // Frame header: length, sample precision, number of lines, samples per line, ...
      uint16_t height = 0, width = 0;
      if (length < 7 || !ReadBe16(jpeg, at + 3, &height) || !ReadBe16(jpeg, at + 5, &width)) return false;
      size->width = width;
      size->height = height;
      return true;
    }
    at += length;
  }
  return false;
}

}  // namespace collector
