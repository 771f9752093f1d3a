#include "client/erasure_code.h"

#include <cassert>

namespace {

struct GfTables {
  uint8_t exp[510];  // doubled, so that exp[log a + log b] needs no reduction
  uint8_t log[256];  // log[0] unused
  uint8_t mul[256][256];
};

constexpr GfTables MakeGfTables() {
  GfTables t{};
  unsigned x = 1;
  for (int i = 0; i < 255; ++i) {
    t.exp[i] = t.exp[i + 255] = uint8_t(x);
    t.log[x] = uint8_t(i);
    x <<= 1;
    if (x & 0x100) x ^= kGfPolynomial;
  }
  for (int a = 1; a < 256; ++a) {
    for (int b = 1; b < 256; ++b) t.mul[a][b] = t.exp[t.log[a] + t.log[b]];
  }
  return t;
}

// 64 KiB of products: one table lookup per byte is what lets the crash path encode a megabyte in
// a few tens of milliseconds without SIMD.
constexpr GfTables kGf = MakeGfTables();

}  // namespace

uint8_t GfMul(uint8_t a, uint8_t b) { return kGf.mul[a][b]; }

uint8_t GfInverse(uint8_t a) {
  assert(a != 0);
  return kGf.exp[255 - kGf.log[a]];
}

uint8_t CauchyCoefficient(int repair, int position) {
  assert(repair >= 0 && position >= 0 && repair + position < 255);
  // x_r + y_p in GF(2^8) is their exclusive or; distinct points keep it nonzero.
  return GfInverse(uint8_t((255 - repair) ^ position));
}

void GfMulAdd(uint8_t* dst, const uint8_t* src, size_t n, uint8_t c) {
  if (c == 0) return;
  const uint8_t* row = kGf.mul[c];
  for (size_t i = 0; i < n; ++i) dst[i] ^= row[src[i]];
}

void GfScale(uint8_t* dst, size_t n, uint8_t c) {
  const uint8_t* row = kGf.mul[c];
  for (size_t i = 0; i < n; ++i) dst[i] = row[dst[i]];
}
