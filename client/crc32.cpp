#include "client/crc32.h"

namespace {

struct Crc32Table {
  uint32_t entry[256];
};

constexpr Crc32Table MakeCrc32Table() {
  Crc32Table t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t.entry[i] = c;
  }
  return t;
}

constexpr Crc32Table kCrc32 = MakeCrc32Table();

}  // namespace

uint32_t Crc32Update(uint32_t crc, const void* data, size_t n) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) crc = kCrc32.entry[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}
