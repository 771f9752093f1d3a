// How the dump package is cut into symbols and grouped into error-correction blocks. Everything
// follows from five numbers that every package part carries, so the receiver needs nothing else.
//
// The package's N = ceil(length / S) source symbols are S bytes each (the last one shorter). They
// are taken in stripes of W * K consecutive symbols; a stripe's symbols are dealt out in turn to
// its blocks, symbol l of the stripe going to block l mod W_t at position l div W_t, where W_t is
// W for a full stripe and ceil(n / K) for a last stripe of n symbols. Consecutive datagrams thus
// belong to different blocks: a burst of up to W_t losses costs each block at most one symbol.
// Block b of a stripe gets ceil(K_b * P / 100) repair symbols, sent after the stripe's sources.
// The sender keeps only one stripe's repair symbols, so its memory does not grow with the package.
#pragma once

#include <cstdint>

struct FecParams {
  uint16_t symbol_size;    // S, bytes of a symbol
  uint8_t block_symbols;   // K, source symbols of a full block
  uint8_t repair_percent;  // P
  uint8_t stripe_blocks;   // W, blocks of a full stripe
};

struct FecLayout {
  FecParams params;
  uint32_t package_length;
  uint32_t symbol_count;  // N, source symbols
  uint32_t stripe_count;
  uint32_t block_count;
  uint32_t repair_count;  // repair symbols of all blocks
};

struct StripeShape {
  uint32_t first_symbol;
  uint32_t symbols;
  uint32_t first_block;
  uint32_t blocks;  // W_t
};

struct BlockPlace {
  uint32_t block;
  uint32_t position;
};

// Repair symbol ids set the top bit and carry the block and the repair's index in it; source
// symbol ids are the symbol's index in the package.
constexpr uint32_t kRepairSymbolFlag = 0x80000000u;
constexpr uint32_t kMaxBlocks = 1u << 23;  // what the 23 bits between the flag and the index hold

inline uint32_t RepairSymbolId(uint32_t block, uint32_t repair) {
  return kRepairSymbolFlag | block << 8 | repair;
}

// Repair symbols of a block of `sources` source symbols.
uint32_t RepairCountFor(const FecParams& params, uint32_t sources);

// False when the parameters cannot describe a package of this length: a zero count or size, a
// block whose sources and repairs exceed the field's 256 points, more blocks than ids can name.
bool MakeFecLayout(const FecParams& params, uint32_t package_length, FecLayout* out);

StripeShape StripeAt(const FecLayout& layout, uint32_t stripe);
BlockPlace PlaceOfSource(const FecLayout& layout, uint32_t symbol);
uint32_t SourceAt(const FecLayout& layout, uint32_t block, uint32_t position);
uint32_t BlockSourceCount(const FecLayout& layout, uint32_t block);
uint32_t BlockRepairCount(const FecLayout& layout, uint32_t block);
// S, or what is left of the package for its last symbol.
uint32_t SourceLength(const FecLayout& layout, uint32_t symbol);

// Whether id names a symbol of this layout.
bool SymbolIdValid(const FecLayout& layout, uint32_t id);
