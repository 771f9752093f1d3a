#include "client/package_fec_layout.h"

#include "client/erasure_code.h"

namespace {

uint32_t CeilDiv(uint64_t a, uint64_t b) { return uint32_t((a + b - 1) / b); }

uint32_t StripeSymbols(const FecParams& params) {
  return uint32_t(params.block_symbols) * params.stripe_blocks;
}

}  // namespace

uint32_t RepairCountFor(const FecParams& params, uint32_t sources) {
  return CeilDiv(uint64_t(sources) * params.repair_percent, 100);
}

bool MakeFecLayout(const FecParams& params, uint32_t package_length, FecLayout* out) {
  *out = FecLayout();
  if (params.symbol_size == 0 || params.block_symbols == 0 || params.stripe_blocks == 0) return false;
  if (package_length == 0 || params.repair_percent > 100) return false;
  // A block's repair count grows with its size, so the full block is the largest.
  if (params.block_symbols + RepairCountFor(params, params.block_symbols) > uint32_t(kMaxBlockCodeSymbols)) {
    return false;
  }
  FecLayout layout;
  layout.params = params;
  layout.package_length = package_length;
  layout.symbol_count = CeilDiv(package_length, params.symbol_size);
  layout.stripe_count = CeilDiv(layout.symbol_count, StripeSymbols(params));
  const StripeShape last = StripeAt(layout, layout.stripe_count - 1);
  const uint64_t blocks = uint64_t(last.first_block) + last.blocks;
  if (blocks > kMaxBlocks) return false;
  layout.block_count = uint32_t(blocks);
  // Every block of a full stripe is full; only the last stripe's blocks may be smaller.
  layout.repair_count = last.first_block * RepairCountFor(params, params.block_symbols);
  for (uint32_t b = 0; b < last.blocks; ++b) layout.repair_count += BlockRepairCount(layout, last.first_block + b);
  *out = layout;
  return true;
}

StripeShape StripeAt(const FecLayout& layout, uint32_t stripe) {
  const FecParams& params = layout.params;
  StripeShape shape;
  shape.first_symbol = stripe * StripeSymbols(params);
  shape.symbols = layout.symbol_count - shape.first_symbol;
  if (shape.symbols > StripeSymbols(params)) shape.symbols = StripeSymbols(params);
  shape.first_block = stripe * params.stripe_blocks;
  shape.blocks = CeilDiv(shape.symbols, params.block_symbols);
  return shape;
}

BlockPlace PlaceOfSource(const FecLayout& layout, uint32_t symbol) {
  const StripeShape stripe = StripeAt(layout, symbol / StripeSymbols(layout.params));
  const uint32_t local = symbol - stripe.first_symbol;
  return BlockPlace{stripe.first_block + local % stripe.blocks, local / stripe.blocks};
}

uint32_t SourceAt(const FecLayout& layout, uint32_t block, uint32_t position) {
  const StripeShape stripe = StripeAt(layout, block / layout.params.stripe_blocks);
  return stripe.first_symbol + position * stripe.blocks + (block - stripe.first_block);
}

uint32_t BlockSourceCount(const FecLayout& layout, uint32_t block) {
  const StripeShape stripe = StripeAt(layout, block / layout.params.stripe_blocks);
  const uint32_t b = block - stripe.first_block;
  return CeilDiv(stripe.symbols - b, stripe.blocks);
}

uint32_t BlockRepairCount(const FecLayout& layout, uint32_t block) {
  return RepairCountFor(layout.params, BlockSourceCount(layout, block));
}

uint32_t SourceLength(const FecLayout& layout, uint32_t symbol) {
  const uint64_t start = uint64_t(symbol) * layout.params.symbol_size;
  const uint64_t left = layout.package_length - start;
  return uint32_t(left < layout.params.symbol_size ? left : layout.params.symbol_size);
}

bool SymbolIdValid(const FecLayout& layout, uint32_t id) {
  if (!(id & kRepairSymbolFlag)) return id < layout.symbol_count;
  const uint32_t block = (id & ~kRepairSymbolFlag) >> 8;
  const uint32_t repair = id & 0xFF;
  return block < layout.block_count && repair < BlockRepairCount(layout, block);
}
