#include "jpeg/entropy_coder.h"

namespace vxjpeg {
namespace {

constexpr uint8_t kMarkerByte = 0xFF;
constexpr uint8_t kStuffedZero = 0x00;  // follows every 0xFF of entropy-coded data
constexpr uint8_t kEndOfBlock = 0x00;
constexpr uint8_t kSixteenZeros = 0xF0;
// The fast path writes up to eight bytes (four, each possibly stuffed) without looking.
constexpr long kFastRoom = 8;

// The coder's hot state, copied into a local for the length of one MCU: the output pointer is a byte
// pointer, and a store through it could otherwise alias every field and force reloads.
struct Sink {
  uint8_t* next;
  uint8_t* end;
  uint64_t bits;
  int count;
};

bool HasMarkerByte(uint32_t word) {
  // A byte of word is 0xFF exactly when that byte of ~word is zero.
  const uint32_t inverted = ~word;
  return ((inverted - 0x01010101u) & ~inverted & 0x80808080u) != 0;
}

// Writes one byte, stuffing a zero after 0xFF, without passing end. Returns the new position; sets
// *full instead of writing when there is no room.
uint8_t* PutByteStuffed(uint8_t* next, uint8_t* end, uint8_t byte, bool* full) {
  if (*full) return next;
  if (next == end) {
    *full = true;
    return next;
  }
  *next++ = byte;
  if (byte == kMarkerByte) return PutByteStuffed(next, end, kStuffedZero, full);
  return next;
}

__attribute__((noinline)) uint8_t* EmitWordSlow(uint8_t* next, uint8_t* end, uint32_t word, bool* full) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    next = PutByteStuffed(next, end, static_cast<uint8_t>(word >> shift), full);
  }
  return next;
}

// length is at most 27 (a 16-bit code and 11 extra bits), and count below 32 on entry, so the
// 64-bit accumulator never loses a pending bit.
inline void PutBits(Sink& sink, bool* full, uint32_t value, int length) {
  sink.bits = (sink.bits << length) | value;
  sink.count += length;
  if (sink.count < 32) return;
  sink.count -= 32;
  const uint32_t word = static_cast<uint32_t>(sink.bits >> sink.count);
  if (sink.end - sink.next >= kFastRoom && !HasMarkerByte(word)) {
    sink.next[0] = static_cast<uint8_t>(word >> 24);
    sink.next[1] = static_cast<uint8_t>(word >> 16);
    sink.next[2] = static_cast<uint8_t>(word >> 8);
    sink.next[3] = static_cast<uint8_t>(word);
    sink.next += 4;
    return;
  }
  sink.next = EmitWordSlow(sink.next, sink.end, word, full);
}

// A coefficient is sent as its size category (the bit length of its magnitude) through the Huffman
// table, then `size` extra bits: the value itself if positive, value - 1 (ones' complement) if negative.
inline int SizeOf(int value) {
  const unsigned magnitude = static_cast<unsigned>(value < 0 ? -value : value);
  return magnitude == 0 ? 0 : 32 - __builtin_clz(magnitude);
}

inline void PutCoded(Sink& sink, bool* full, const HuffmanCodes& table, int symbol, int value, int size) {
  const uint32_t extra = static_cast<uint32_t>(value < 0 ? value - 1 : value) & ((1u << size) - 1);
  PutBits(sink, full, (static_cast<uint32_t>(table.code[symbol]) << size) | extra, table.length[symbol] + size);
}

// block: column-major; nonzero: zigzag order.
inline void EncodeBlock(Sink& sink, bool* full, int* last_dc, const int16_t* block, uint64_t nonzero,
                        const HuffmanCodes& dc, const HuffmanCodes& ac) {
  const int difference = block[0] - *last_dc;
  *last_dc = block[0];
  const int dc_size = SizeOf(difference);
  PutCoded(sink, full, dc, dc_size, difference, dc_size);

  uint64_t remaining = nonzero & ~uint64_t{1};
  int last = 0;
  while (remaining != 0) {
    const int k = __builtin_ctzll(remaining);
    int run = k - last - 1;
    while (run >= 16) {
      PutBits(sink, full, ac.code[kSixteenZeros], ac.length[kSixteenZeros]);
      run -= 16;
    }
    const int value = block[kZigzagColumnMajor.index[k]];
    const int size = SizeOf(value);
    PutCoded(sink, full, ac, (run << 4) | size, value, size);
    last = k;
    remaining &= remaining - 1;
  }
  if (last != kBlockSize - 1) PutBits(sink, full, ac.code[kEndOfBlock], ac.length[kEndOfBlock]);
}

}  // namespace

void StartEntropy(EntropyCoder* coder, uint8_t* begin, uint8_t* end, const HuffmanCodes* dc_luma,
                  const HuffmanCodes* ac_luma, const HuffmanCodes* dc_chroma, const HuffmanCodes* ac_chroma) {
  *coder = EntropyCoder{};
  coder->next = begin;
  coder->end = end;
  coder->dc_luma = dc_luma;
  coder->ac_luma = ac_luma;
  coder->dc_chroma = dc_chroma;
  coder->ac_chroma = ac_chroma;
}

void EncodeMcu(EntropyCoder* coder, const McuCoefficients& mcu) {
  Sink sink{coder->next, coder->end, coder->bits, coder->count};
  bool full = coder->full;
  int last_dc[3] = {coder->last_dc[0], coder->last_dc[1], coder->last_dc[2]};
  const HuffmanCodes& dc_luma = *coder->dc_luma;
  const HuffmanCodes& ac_luma = *coder->ac_luma;
  const HuffmanCodes& dc_chroma = *coder->dc_chroma;
  const HuffmanCodes& ac_chroma = *coder->ac_chroma;
  for (int b = 0; b < 4; ++b) EncodeBlock(sink, &full, &last_dc[0], mcu.block[b], mcu.nonzero[b], dc_luma, ac_luma);
  EncodeBlock(sink, &full, &last_dc[1], mcu.block[4], mcu.nonzero[4], dc_chroma, ac_chroma);
  EncodeBlock(sink, &full, &last_dc[2], mcu.block[5], mcu.nonzero[5], dc_chroma, ac_chroma);
  coder->next = sink.next;
  coder->bits = sink.bits;
  coder->count = sink.count;
  coder->full = full;
  for (int c = 0; c < 3; ++c) coder->last_dc[c] = last_dc[c];
}

bool FinishEntropy(EntropyCoder* coder) {
  const int pad = (8 - coder->count % 8) % 8;
  Sink sink{coder->next, coder->end, coder->bits, coder->count};
  bool full = coder->full;
  if (pad != 0) PutBits(sink, &full, (1u << pad) - 1, pad);
  for (sink.count -= 8; sink.count >= 0; sink.count -= 8) {
    sink.next = PutByteStuffed(sink.next, sink.end, static_cast<uint8_t>(sink.bits >> sink.count), &full);
  }
  coder->next = sink.next;
  coder->count = 0;
  coder->full = full;
  return !full;
}

}  // namespace vxjpeg
