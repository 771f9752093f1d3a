// The portable kernel: plain C++ that any x86 processor (or any other) runs.
#include <cmath>

#include "jpeg/block_kernels.h"

namespace vxjpeg {

void PrepareDivisors(const uint16_t luma_quant[kBlockSize], const uint16_t chroma_quant[kBlockSize],
                     Divisors* out) {
  static const double kPi = 3.14159265358979323846;
  double scale[8];
  for (int k = 0; k < 8; ++k) scale[k] = k == 0 ? 1.0 : std::sqrt(2.0) * std::cos(k * kPi / 16);
  for (int row = 0; row < 8; ++row) {
    for (int column = 0; column < 8; ++column) {
      const double dct_gain = scale[row] * scale[column] * 8.0;
      const int natural = row * 8 + column;
      out->luma[column * 8 + row] = static_cast<float>(1.0 / (luma_quant[natural] * dct_gain));
      out->chroma[column * 8 + row] = static_cast<float>(1.0 / (chroma_quant[natural] * dct_gain));
    }
  }
}

namespace {

// One 8-point DCT over d[0], d[stride], ... d[7 * stride]. The SSE2 kernel runs the same sequence
// of operations on four columns at once.
void Fdct8(float* d, int stride) {
  const float tmp0 = d[0] + d[7 * stride];
  const float tmp7 = d[0] - d[7 * stride];
  const float tmp1 = d[1 * stride] + d[6 * stride];
  const float tmp6 = d[1 * stride] - d[6 * stride];
  const float tmp2 = d[2 * stride] + d[5 * stride];
  const float tmp5 = d[2 * stride] - d[5 * stride];
  const float tmp3 = d[3 * stride] + d[4 * stride];
  const float tmp4 = d[3 * stride] - d[4 * stride];

  const float even0 = tmp0 + tmp3;
  const float even3 = tmp0 - tmp3;
  const float even1 = tmp1 + tmp2;
  const float even2 = tmp1 - tmp2;
  d[0] = even0 + even1;
  d[4 * stride] = even0 - even1;
  const float z1 = (even2 + even3) * kCos4;
  d[2 * stride] = even3 + z1;
  d[6 * stride] = even3 - z1;

  const float odd0 = tmp4 + tmp5;
  const float odd1 = tmp5 + tmp6;
  const float odd2 = tmp6 + tmp7;
  const float z5 = (odd0 - odd2) * kRot6;
  const float z2 = odd0 * kRot2m6 + z5;
  const float z4 = odd2 * kRot2p6 + z5;
  const float z3 = odd1 * kCos4;
  const float z11 = tmp7 + z3;
  const float z13 = tmp7 - z3;
  d[5 * stride] = z13 + z2;
  d[3 * stride] = z13 - z2;
  d[1 * stride] = z11 + z4;
  d[7 * stride] = z11 - z4;
}

// Round half away from zero; the SSE2 kernel rounds the same way.
int RoundToInt(float v) { return static_cast<int>(v + (v >= 0 ? 0.5f : -0.5f)); }

// samples: row-major. Runs the DCT down the columns, then along the rows, as the SSE2 kernel does.
void QuantiseBlock(float samples[kBlockSize], const float divisors[kBlockSize], int16_t* out,
                   uint64_t* nonzero) {
  for (int column = 0; column < 8; ++column) Fdct8(samples + column, 8);
  for (int row = 0; row < 8; ++row) Fdct8(samples + row * 8, 1);
  uint64_t mask = 0;
  for (int column = 0; column < 8; ++column) {
    for (int row = 0; row < 8; ++row) {
      const int i = column * 8 + row;
      int value = RoundToInt(samples[row * 8 + column] * divisors[i]);
      if (value > kCoefficientLimit) value = kCoefficientLimit;
      if (value < -kCoefficientLimit) value = -kCoefficientLimit;
      out[i] = static_cast<int16_t>(value);
      mask |= static_cast<uint64_t>(value != 0) << kZigzagColumnMajor.position[i];
    }
  }
  *nonzero = mask;
}

}  // namespace

void TransformMcuScalar(const uint8_t* const rows[kMcuSide], const Divisors& divisors, McuCoefficients* out) {
  float luma[4][kBlockSize];
  for (int y = 0; y < kMcuSide; ++y) {
    const uint8_t* pixel = rows[y];
    for (int x = 0; x < kMcuSide; ++x, pixel += 3) {
      const float value = kLumaRed * pixel[2] + kLumaGreen * pixel[1] + kLumaBlue * pixel[0] - kLevelShift;
      luma[(y / 8) * 2 + x / 8][(y % 8) * 8 + x % 8] = value;
    }
  }
  float cb[kBlockSize];
  float cr[kBlockSize];
  for (int y = 0; y < 8; ++y) {
    const uint8_t* upper = rows[2 * y];
    const uint8_t* lower = rows[2 * y + 1];
    for (int x = 0; x < 8; ++x, upper += 6, lower += 6) {
      // Sums of the 2x2 group's values, one per colour (blue at offset 0, green 1, red 2).
      float sum[3];
      for (int c = 0; c < 3; ++c) sum[c] = static_cast<float>(upper[c] + upper[c + 3] + lower[c] + lower[c + 3]);
      cb[y * 8 + x] = kCbRed * sum[2] + kCbGreen * sum[1] + kCbBlue * sum[0];
      cr[y * 8 + x] = kCrRed * sum[2] + kCrGreen * sum[1] + kCrBlue * sum[0];
    }
  }
  for (int b = 0; b < 4; ++b) QuantiseBlock(luma[b], divisors.luma, out->block[b], &out->nonzero[b]);
  QuantiseBlock(cb, divisors.chroma, out->block[4], &out->nonzero[4]);
  QuantiseBlock(cr, divisors.chroma, out->block[5], &out->nonzero[5]);
}

}  // namespace vxjpeg
