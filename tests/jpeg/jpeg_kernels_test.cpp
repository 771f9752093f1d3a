// The two kernels side by side on the same MCUs, without a decoder, so that it also runs in the
// Windows builds: under wine64, and as the i686 build whose portable kernel computes on the x87 unit
// and whose SSE2 kernel has eight registers and a realigned stack.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "jpeg/block_kernels.h"
#include "jpeg/cpu_features.h"
#include "jpeg/jpeg_tables.h"

namespace {

using vxjpeg::kBlockSize;
using vxjpeg::kBlocksPerMcu;
using vxjpeg::kMcuSide;

// One MCU of pixels, each row with the read slack the kernels are allowed.
struct McuSource {
  uint8_t bytes[kMcuSide][vxjpeg::kMcuRowReadBytes];
  const uint8_t* rows[kMcuSide];
};

void Fill(McuSource* source, uint32_t seed, int kind) {
  uint32_t state = seed * 2654435761u + 1;
  for (int y = 0; y < kMcuSide; ++y) {
    for (int i = 0; i < vxjpeg::kMcuRowReadBytes; ++i) {
      state = state * 1103515245u + 12345u;
      const int x = i / 3;
      int value;
      switch (kind) {
        case 0: value = static_cast<int>(state >> 24); break;                  // noise
        case 1: value = (x * 16 + y * 7 + (i % 3) * 40) & 0xFF; break;         // gradients
        case 2: value = ((x / 3 + y / 5) % 2) ? 255 : 0; break;                // hard edges
        default: value = 128 + static_cast<int>(state >> 28) - 8; break;       // nearly flat
      }
      source->bytes[y][i] = static_cast<uint8_t>(value);
    }
    source->rows[y] = source->bytes[y];
  }
}

TEST(JpegKernels, SameCoefficientsFromBothKernels) {
  if (!vxjpeg::ProcessorHasSse2()) GTEST_SKIP() << "no SSE2 on this processor";
  long compared = 0, differing = 0;
  for (int quality : {0, 15, 40, 75, 100}) {
    uint16_t luma[kBlockSize], chroma[kBlockSize];
    vxjpeg::ScaleQuantTable(vxjpeg::kBaseLumaQuant, quality, luma);
    vxjpeg::ScaleQuantTable(vxjpeg::kBaseChromaQuant, quality, chroma);
    vxjpeg::Divisors divisors;
    vxjpeg::PrepareDivisors(luma, chroma, &divisors);
    for (uint32_t seed = 0; seed < 50; ++seed) {
      McuSource source;
      Fill(&source, seed, static_cast<int>(seed % 4));
      vxjpeg::McuCoefficients scalar, sse2;
      vxjpeg::TransformMcuScalar(source.rows, divisors, &scalar);
      vxjpeg::TransformMcuSse2(source.rows, divisors, &sse2);
      for (int b = 0; b < kBlocksPerMcu; ++b) {
        for (int k = 0; k < kBlockSize; ++k) {
          const int at = vxjpeg::kZigzagColumnMajor.index[k];
          const int a = scalar.block[b][at], c = sse2.block[b][at];
          // Each mask bit must say whether its zigzag coefficient is nonzero.
          ASSERT_EQ((scalar.nonzero[b] >> k) & 1, uint64_t(a != 0)) << "scalar, block " << b << " k " << k;
          ASSERT_EQ((sse2.nonzero[b] >> k) & 1, uint64_t(c != 0)) << "sse2, block " << b << " k " << k;
          // Where the portable kernel keeps floats in wider registers (x87), a value on a rounding
          // tie may land one step apart; nothing more.
          ASSERT_LE(std::abs(a - c), 1) << "quality " << quality << " seed " << seed << " block " << b;
          ++compared;
          if (a != c) ++differing;
        }
      }
    }
  }
  EXPECT_LE(differing * 1000, compared) << differing << " of " << compared << " coefficients differ";
}

}  // namespace
