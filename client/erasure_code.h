// The arithmetic of the package's error correction: a systematic Reed-Solomon erasure code over
// GF(2^8) whose repair rows form a Cauchy matrix.
//
// A block holds K source symbols (the package's own bytes, sent as they are) and R repair symbols;
// repair r is the sum over positions p of CauchyCoefficient(r, p) times source p, byte by byte.
// Every square part of a Cauchy matrix is invertible, so any K of the K + R symbols rebuild the
// block: the code is MDS, and a block survives any R losses. The points are y_p = p for the
// sources and x_r = 255 - r for the repairs; they are distinct while K + R <= 256.
//
// Nothing here allocates or needs initialising: the field's tables are built at compile time and
// live in read-only data, so the crash path may use them while every other thread is frozen.
#pragma once

#include <cstddef>
#include <cstdint>

// x^8 + x^4 + x^3 + x^2 + 1, with 2 generating the multiplicative group.
constexpr unsigned kGfPolynomial = 0x11D;
// K + R may not exceed the number of field elements.
constexpr int kMaxBlockCodeSymbols = 256;

uint8_t GfMul(uint8_t a, uint8_t b);
// The multiplicative inverse; a must not be 0.
uint8_t GfInverse(uint8_t a);

// The weight of source position `position` in repair symbol `repair`.
uint8_t CauchyCoefficient(int repair, int position);

// dst[i] ^= c * src[i] for n bytes: adds a multiple of one symbol to another.
void GfMulAdd(uint8_t* dst, const uint8_t* src, size_t n, uint8_t c);
// dst[i] = c * dst[i].
void GfScale(uint8_t* dst, size_t n, uint8_t c);
