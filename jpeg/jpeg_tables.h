// The fixed tables of the baseline format and the ones derived from them per image.
#pragma once

#include <cstdint>

namespace vxjpeg {

constexpr int kBlockSize = 64;

// kZigzag[k] is the row-major index (row * 8 + column) of the k-th coefficient in the order the
// entropy coder and the quantisation-table marker use.
inline constexpr uint8_t kZigzag[kBlockSize] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

// The kernels leave a block's coefficients column-major (column * 8 + row): their DCT ends on a
// pass that produces one column per register. kZigzagColumnMajor[k] is where the k-th coefficient
// of the zigzag order lies then.
struct ZigzagColumnMajor {
  uint8_t index[kBlockSize];
  uint8_t position[kBlockSize];  // the inverse: zigzag position of each column-major index
  constexpr ZigzagColumnMajor() : index(), position() {
    for (int k = 0; k < kBlockSize; ++k) {
      index[k] = static_cast<uint8_t>((kZigzag[k] % 8) * 8 + kZigzag[k] / 8);
      position[index[k]] = static_cast<uint8_t>(k);
    }
  }
};
inline constexpr ZigzagColumnMajor kZigzagColumnMajor;

// The example tables of T.81 Annex K.1 (luminance) and K.2 (chrominance), row-major.
extern const uint8_t kBaseLumaQuant[kBlockSize];
extern const uint8_t kBaseChromaQuant[kBlockSize];

// A Huffman table as the DHT marker carries it: counts[i] codes of length i + 1, then the symbols in
// order of increasing code length.
struct HuffmanSpec {
  uint8_t counts[16];
  const uint8_t* symbols;
  int symbol_count;
};

// The typical tables of T.81 Annex K.3: DC and AC, luminance and chrominance.
extern const HuffmanSpec kDcLumaSpec;
extern const HuffmanSpec kAcLumaSpec;
extern const HuffmanSpec kDcChromaSpec;
extern const HuffmanSpec kAcChromaSpec;

// Code and length per symbol, for encoding. Length 0 marks a symbol the table does not hold.
struct HuffmanCodes {
  uint16_t code[256];
  uint8_t length[256];
};

// Assigns the canonical codes of T.81 Annex C to a table's symbols.
void BuildHuffmanCodes(const HuffmanSpec& spec, HuffmanCodes* codes);

// Clamps a quality to 0..100.
int ClampQuality(int quality);

// Scales a base table by quality the way the Independent JPEG Group's library does, so that a
// quality number means the same tables (and so about the same size and fidelity) as in the tools
// people compare against. Entries are limited to 1..255, the range of 8-bit baseline tables.
// Quality 0 gives the same tables as 1. Output row-major.
void ScaleQuantTable(const uint8_t base[kBlockSize], int quality, uint16_t out[kBlockSize]);

}  // namespace vxjpeg
