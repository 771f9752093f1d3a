// The arithmetic of one minimum coded unit (16x16 pixels): colour conversion with 2x2 chroma
// averaging, the forward DCT and quantisation. Two implementations with one interface: a portable one
// and an SSE2 one, chosen at run time because a 32-bit host may run on a processor without SSE2.
// Both perform the same floating-point operations in the same order, so they give the same
// coefficients wherever the processor rounds floats to single precision.
#pragma once

#include <cstdint>

#include "jpeg/jpeg_tables.h"

namespace vxjpeg {

constexpr int kMcuSide = 16;
constexpr int kBlocksPerMcu = 6;  // luma top-left, top-right, bottom-left, bottom-right; Cb; Cr

// What a kernel may read from each row of an MCU: sixteen 3-byte pixels, plus four bytes beyond them
// that it loads but ignores (SSE2 reads pixels sixteen bytes at a time). The caller copies a row
// whose slack would lie outside the image buffer.
constexpr int kMcuRowBytes = kMcuSide * 3;
constexpr int kMcuRowReadBytes = kMcuRowBytes + 4;

struct McuCoefficients {
  int16_t block[kBlocksPerMcu][kBlockSize];  // quantised, column-major (see kZigzagColumnMajor)
  uint64_t nonzero[kBlocksPerMcu];           // bit k set when the k-th coefficient in zigzag order is not 0
};

// Reciprocal quantisation steps with the DCT's own output scaling folded in, column-major like the
// coefficients.
struct Divisors {
  float luma[kBlockSize];
  float chroma[kBlockSize];
};

// rows[r]: the MCU's r-th row of blue-green-red pixels, already extended past the image's right and
// bottom edges by repeating its last column and row.
using McuTransform = void (*)(const uint8_t* const rows[kMcuSide], const Divisors& divisors, McuCoefficients* out);

void TransformMcuScalar(const uint8_t* const rows[kMcuSide], const Divisors& divisors, McuCoefficients* out);
// Only on a processor with SSE2.
void TransformMcuSse2(const uint8_t* const rows[kMcuSide], const Divisors& divisors, McuCoefficients* out);

// Colour conversion of T.81's companion JFIF: Y = 0.299 R + 0.587 G + 0.114 B, Cb and Cr centred on
// 128. Chroma is computed from the sum of a 2x2 group of pixels, so its weights are divided by 4.
// Luma is level-shifted by 128 here; centred chroma needs no shift.
constexpr float kLumaRed = 0.299f;
constexpr float kLumaGreen = 0.587f;
constexpr float kLumaBlue = 0.114f;
constexpr float kLevelShift = 128.0f;
constexpr float kCbRed = -0.168736f / 4;
constexpr float kCbGreen = -0.331264f / 4;
constexpr float kCbBlue = 0.5f / 4;
constexpr float kCrRed = 0.5f / 4;
constexpr float kCrGreen = -0.418688f / 4;
constexpr float kCrBlue = -0.081312f / 4;

// Multipliers of the separable DCT below (Arai, Agui and Nakajima's factorisation).
constexpr float kCos4 = 0.707106781f;     // cos(4 pi / 16)
constexpr float kRot6 = 0.382683433f;     // cos(6 pi / 16)
constexpr float kRot2m6 = 0.541196100f;   // cos(2 pi / 16) - cos(6 pi / 16)
constexpr float kRot2p6 = 1.306562965f;   // cos(2 pi / 16) + cos(6 pi / 16)

// Baseline AC coefficients carry at most 10 magnitude bits; the DCT of 8-bit samples stays inside that,
// so the limit only guards against rounding at the extremes.
constexpr int kCoefficientLimit = 1023;

// From row-major quantisation tables. The factorised DCT leaves coefficient (u, v) multiplied by
// 8 * s(u) * s(v), s(0) = 1 and s(k) = sqrt(2) cos(k pi / 16); the quantiser divides that back out.
void PrepareDivisors(const uint16_t luma_quant[kBlockSize], const uint16_t chroma_quant[kBlockSize],
                     Divisors* out);

}  // namespace vxjpeg
