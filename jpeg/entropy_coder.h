// Huffman coding of quantised blocks into a bounded byte range.
#pragma once

#include <cstdint>

#include "jpeg/block_kernels.h"
#include "jpeg/jpeg_tables.h"

namespace vxjpeg {

struct EntropyCoder {
  uint8_t* next;
  uint8_t* end;    // never written at or beyond
  uint64_t bits;   // pending bits, the oldest highest; only the low `count` are still owed
  int count;
  bool full;       // the output ran out; everything after is dropped
  int last_dc[3];  // DC predictors of Y, Cb and Cr
  const HuffmanCodes* dc_luma;
  const HuffmanCodes* ac_luma;
  const HuffmanCodes* dc_chroma;
  const HuffmanCodes* ac_chroma;
};

void StartEntropy(EntropyCoder* coder, uint8_t* begin, uint8_t* end, const HuffmanCodes* dc_luma,
                  const HuffmanCodes* ac_luma, const HuffmanCodes* dc_chroma, const HuffmanCodes* ac_chroma);

// Codes the six blocks of one MCU in scan order (four luma, Cb, Cr).
void EncodeMcu(EntropyCoder* coder, const McuCoefficients& mcu);

// Pads the last byte with 1-bits and writes out what is pending. Returns false when the output
// ran out at any point.
bool FinishEntropy(EntropyCoder* coder);

}  // namespace vxjpeg
