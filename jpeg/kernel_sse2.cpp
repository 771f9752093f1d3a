// The SSE2 kernel. The 32-bit build is compiled without -msse2 (its processor may lack SSE2), so
// every function here asks for SSE2 itself and is reached only after the processor said it has it.
#include <emmintrin.h>

#include "jpeg/block_kernels.h"

// A 32-bit host built by another compiler may call in with a stack aligned to 4 bytes only, and
// SSE2 spills need 16; the entry point realigns it. 64-bit Windows always keeps 16.
#if defined(__i386__)
#define VX_SSE2_ENTRY __attribute__((target("sse2"), force_align_arg_pointer))
#else
#define VX_SSE2_ENTRY __attribute__((target("sse2")))
#endif
#define VX_SSE2 __attribute__((target("sse2"), always_inline)) inline

namespace vxjpeg {
namespace {

// The same steps as the portable Fdct8, on four independent lanes.
VX_SSE2 void Fdct8(__m128 d[8]) {
  const __m128 cos4 = _mm_set1_ps(kCos4);
  const __m128 tmp0 = _mm_add_ps(d[0], d[7]);
  const __m128 tmp7 = _mm_sub_ps(d[0], d[7]);
  const __m128 tmp1 = _mm_add_ps(d[1], d[6]);
  const __m128 tmp6 = _mm_sub_ps(d[1], d[6]);
  const __m128 tmp2 = _mm_add_ps(d[2], d[5]);
  const __m128 tmp5 = _mm_sub_ps(d[2], d[5]);
  const __m128 tmp3 = _mm_add_ps(d[3], d[4]);
  const __m128 tmp4 = _mm_sub_ps(d[3], d[4]);

  const __m128 even0 = _mm_add_ps(tmp0, tmp3);
  const __m128 even3 = _mm_sub_ps(tmp0, tmp3);
  const __m128 even1 = _mm_add_ps(tmp1, tmp2);
  const __m128 even2 = _mm_sub_ps(tmp1, tmp2);
  d[0] = _mm_add_ps(even0, even1);
  d[4] = _mm_sub_ps(even0, even1);
  const __m128 z1 = _mm_mul_ps(_mm_add_ps(even2, even3), cos4);
  d[2] = _mm_add_ps(even3, z1);
  d[6] = _mm_sub_ps(even3, z1);

  const __m128 odd0 = _mm_add_ps(tmp4, tmp5);
  const __m128 odd1 = _mm_add_ps(tmp5, tmp6);
  const __m128 odd2 = _mm_add_ps(tmp6, tmp7);
  const __m128 z5 = _mm_mul_ps(_mm_sub_ps(odd0, odd2), _mm_set1_ps(kRot6));
  const __m128 z2 = _mm_add_ps(_mm_mul_ps(odd0, _mm_set1_ps(kRot2m6)), z5);
  const __m128 z4 = _mm_add_ps(_mm_mul_ps(odd2, _mm_set1_ps(kRot2p6)), z5);
  const __m128 z3 = _mm_mul_ps(odd1, cos4);
  const __m128 z11 = _mm_add_ps(tmp7, z3);
  const __m128 z13 = _mm_sub_ps(tmp7, z3);
  d[5] = _mm_add_ps(z13, z2);
  d[3] = _mm_sub_ps(z13, z2);
  d[1] = _mm_add_ps(z11, z4);
  d[7] = _mm_sub_ps(z11, z4);
}

VX_SSE2 void Transpose4(const __m128 in[4], __m128 out[4]) {
  const __m128 t0 = _mm_unpacklo_ps(in[0], in[1]);
  const __m128 t1 = _mm_unpacklo_ps(in[2], in[3]);
  const __m128 t2 = _mm_unpackhi_ps(in[0], in[1]);
  const __m128 t3 = _mm_unpackhi_ps(in[2], in[3]);
  out[0] = _mm_movelh_ps(t0, t1);
  out[1] = _mm_movehl_ps(t1, t0);
  out[2] = _mm_movelh_ps(t2, t3);
  out[3] = _mm_movehl_ps(t3, t2);
}

// Round half away from zero, as the portable kernel does: add 0.5 carrying the value's sign, then
// truncate.
VX_SSE2 __m128i RoundToInt(__m128 v) {
  const __m128 sign = _mm_and_ps(v, _mm_set1_ps(-0.0f));
  return _mm_cvttps_epi32(_mm_add_ps(v, _mm_or_ps(sign, _mm_set1_ps(0.5f))));
}

// For each nibble of a column-major nonzero mask, the zigzag-order bits its four coefficients stand
// for: sixteen lookups turn one mask into the other.
struct ZigzagNibbles {
  uint64_t bits[16][16];
  constexpr ZigzagNibbles() : bits() {
    for (int nibble = 0; nibble < 16; ++nibble) {
      for (int value = 0; value < 16; ++value) {
        uint64_t zigzag = 0;
        for (int b = 0; b < 4; ++b) {
          if (value & (1 << b)) zigzag |= uint64_t{1} << kZigzagColumnMajor.position[nibble * 4 + b];
        }
        bits[nibble][value] = zigzag;
      }
    }
  }
};
constexpr ZigzagNibbles kZigzagNibbles;

// samples: row-major floats. Writes column-major coefficients and their zigzag-order nonzero mask.
VX_SSE2 void QuantiseBlock(const float* samples, const float* divisors, int16_t* out, uint64_t* nonzero) {
  __m128 left[8];
  __m128 right[8];
  for (int r = 0; r < 8; ++r) {
    left[r] = _mm_loadu_ps(samples + r * 8);
    right[r] = _mm_loadu_ps(samples + r * 8 + 4);
  }
  // Down the columns: each vector holds four columns of one row.
  Fdct8(left);
  Fdct8(right);
  // Exchange rows and columns, then along the rows.
  __m128 top[8];
  __m128 bottom[8];
  Transpose4(left, top);
  Transpose4(left + 4, bottom);
  Transpose4(right, top + 4);
  Transpose4(right + 4, bottom + 4);
  Fdct8(top);
  Fdct8(bottom);
  // top[u] holds coefficients (rows 0..3, column u), bottom[u] rows 4..7: column u whole.
  const __m128i limit = _mm_set1_epi16(kCoefficientLimit);
  const __m128i neg_limit = _mm_set1_epi16(-kCoefficientLimit);
  const __m128i zero = _mm_setzero_si128();
  uint64_t zero_mask = 0;
  __m128i previous = zero;
  for (int u = 0; u < 8; ++u) {
    const __m128i low = RoundToInt(_mm_mul_ps(top[u], _mm_loadu_ps(divisors + u * 8)));
    const __m128i high = RoundToInt(_mm_mul_ps(bottom[u], _mm_loadu_ps(divisors + u * 8 + 4)));
    __m128i column = _mm_packs_epi32(low, high);
    column = _mm_min_epi16(_mm_max_epi16(column, neg_limit), limit);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + u * 8), column);
    if (u % 2 == 1) {
      const __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(previous, zero), _mm_cmpeq_epi16(column, zero));
      zero_mask |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(zeros))) << ((u / 2) * 16);
    }
    previous = column;
  }
  const uint64_t column_major = ~zero_mask;
  uint64_t zigzag = 0;
  for (int nibble = 0; nibble < 16; ++nibble) {
    zigzag |= kZigzagNibbles.bits[nibble][(column_major >> (nibble * 4)) & 15];
  }
  *nonzero = zigzag;
}

// Four pixels at p as floats, one colour per vector. Reads sixteen bytes: the four that follow the
// pixels are loaded and dropped.
VX_SSE2 void LoadPixels4(const uint8_t* p, __m128* blue, __m128* green, __m128* red) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  // Move each 3-byte pixel into a 32-bit lane of its own, blue lowest.
  const __m128i first = _mm_unpacklo_epi32(bytes, _mm_srli_si128(bytes, 3));
  const __m128i second = _mm_unpacklo_epi32(_mm_srli_si128(bytes, 6), _mm_srli_si128(bytes, 9));
  const __m128i lanes = _mm_unpacklo_epi64(first, second);
  const __m128i low_byte = _mm_set1_epi32(0xFF);
  *blue = _mm_cvtepi32_ps(_mm_and_si128(lanes, low_byte));
  *green = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(lanes, 8), low_byte));
  *red = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(lanes, 16), low_byte));
}

VX_SSE2 __m128 Luma4(__m128 red, __m128 green, __m128 blue) {
  const __m128 weighted = _mm_add_ps(_mm_add_ps(_mm_mul_ps(red, _mm_set1_ps(kLumaRed)),
                                                _mm_mul_ps(green, _mm_set1_ps(kLumaGreen))),
                                     _mm_mul_ps(blue, _mm_set1_ps(kLumaBlue)));
  return _mm_sub_ps(weighted, _mm_set1_ps(kLevelShift));
}

// Given two rows' vertical sums of eight pixels (a: pixels 0-3, b: 4-7), the four 2x2 group sums.
// The values are whole numbers far below 2^24, so float adds are exact in any order.
VX_SSE2 __m128 PairSums(__m128 a, __m128 b) {
  return _mm_add_ps(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)), _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
}

VX_SSE2 void Chroma4(__m128 red, __m128 green, __m128 blue, float* cb, float* cr) {
  _mm_storeu_ps(cb, _mm_add_ps(_mm_add_ps(_mm_mul_ps(red, _mm_set1_ps(kCbRed)), _mm_mul_ps(green, _mm_set1_ps(kCbGreen))),
                               _mm_mul_ps(blue, _mm_set1_ps(kCbBlue))));
  _mm_storeu_ps(cr, _mm_add_ps(_mm_add_ps(_mm_mul_ps(red, _mm_set1_ps(kCrRed)), _mm_mul_ps(green, _mm_set1_ps(kCrGreen))),
                               _mm_mul_ps(blue, _mm_set1_ps(kCrBlue))));
}

}  // namespace

VX_SSE2_ENTRY void TransformMcuSse2(const uint8_t* const rows[kMcuSide], const Divisors& divisors,
                                    McuCoefficients* out) {
  alignas(16) float luma[4][kBlockSize];
  alignas(16) float cb[kBlockSize];
  alignas(16) float cr[kBlockSize];
  __m128 upper_blue[4] = {}, upper_green[4] = {}, upper_red[4] = {};  // set on every even row
  for (int y = 0; y < kMcuSide; ++y) {
    __m128 blue[4], green[4], red[4];
    for (int group = 0; group < 4; ++group) {
      LoadPixels4(rows[y] + group * 12, &blue[group], &green[group], &red[group]);
      float* block = luma[(y / 8) * 2 + group / 2] + (y % 8) * 8 + (group % 2) * 4;
      _mm_store_ps(block, Luma4(red[group], green[group], blue[group]));
    }
    if (y % 2 == 0) {
      for (int group = 0; group < 4; ++group) {
        upper_blue[group] = blue[group];
        upper_green[group] = green[group];
        upper_red[group] = red[group];
      }
      continue;
    }
    for (int group = 0; group < 4; ++group) {
      blue[group] = _mm_add_ps(upper_blue[group], blue[group]);
      green[group] = _mm_add_ps(upper_green[group], green[group]);
      red[group] = _mm_add_ps(upper_red[group], red[group]);
    }
    float* cb_row = cb + (y / 2) * 8;
    float* cr_row = cr + (y / 2) * 8;
    Chroma4(PairSums(red[0], red[1]), PairSums(green[0], green[1]), PairSums(blue[0], blue[1]), cb_row, cr_row);
    Chroma4(PairSums(red[2], red[3]), PairSums(green[2], green[3]), PairSums(blue[2], blue[3]), cb_row + 4,
            cr_row + 4);
  }
  for (int b = 0; b < 4; ++b) QuantiseBlock(luma[b], divisors.luma, out->block[b], &out->nonzero[b]);
  QuantiseBlock(cb, divisors.chroma, out->block[4], &out->nonzero[4]);
  QuantiseBlock(cr, divisors.chroma, out->block[5], &out->nonzero[5]);
}

}  // namespace vxjpeg
