#include "client/package_part_encoder.h"

#include <cstring>

#include "client/erasure_code.h"

bool PackagePartEncoder::Begin(PackagePartMemory* memory, const PackagePartJob& job, PackageSource* source) {
  failed_ = true;
  layout_ = FecLayout();
  FecLayout layout;
  if (!DatagramIdentityComplete(job.who) || job.params.symbol_size > kMaxPartSymbolSize) return false;
  if (!MakeFecLayout(job.params, job.package_length, &layout)) return false;
  if (job.params.stripe_blocks > kMaxStripeBlocks ||
      RepairCountFor(job.params, job.params.block_symbols) > uint32_t(kMaxRepairPerBlock)) {
    return false;
  }
  memory_ = memory;
  source_ = source;
  job_ = job;
  layout_ = layout;
  sent_ = 0;
  next_source_ = 0;
  failed_ = false;
  StartStripe(0);
  return true;
}

void PackagePartEncoder::StartStripe(uint32_t stripe) {
  stripe_index_ = stripe;
  next_repair_ = 0;
  if (stripe >= layout_.stripe_count) return;
  stripe_ = StripeAt(layout_, stripe);
  for (uint32_t b = 0; b < stripe_.blocks; ++b) {
    const uint32_t repairs = BlockRepairCount(layout_, stripe_.first_block + b);
    for (uint32_t r = 0; r < repairs; ++r) std::memset(RepairBuffer(b, r), 0, layout_.params.symbol_size);
  }
}

uint8_t* PackagePartEncoder::RepairBuffer(uint32_t block_in_stripe, uint32_t repair) const {
  return memory_->repair[block_in_stripe * kMaxRepairPerBlock + repair];
}

int PackagePartEncoder::Next(uint8_t* out, size_t capacity) {
  if (failed_) return -1;
  for (;;) {
    if (stripe_index_ >= layout_.stripe_count) return 0;
    int length;
    if (next_source_ < stripe_.first_symbol + stripe_.symbols) {
      length = NextSource(out, capacity);
    } else if (NextRepairInStripe()) {
      length = NextRepair(out, capacity);
    } else {
      StartStripe(stripe_index_ + 1);
      continue;
    }
    if (length <= 0) {
      failed_ = true;
      return -1;
    }
    ++sent_;
    return length;
  }
}

// Reads until the symbol is full, so that short reads do not move symbol boundaries.
bool PackagePartEncoder::ReadSymbol(uint32_t length) {
  uint32_t filled = 0;
  while (filled < length) {
    const int got = source_->Read(memory_->symbol + filled, int(length - filled));
    if (got <= 0) return false;
    filled += uint32_t(got);
  }
  return true;
}

int PackagePartEncoder::NextSource(uint8_t* out, size_t capacity) {
  const uint32_t symbol = next_source_;
  const uint32_t length = SourceLength(layout_, symbol);
  if (!ReadSymbol(length)) return -1;
  // A short last symbol counts as padded with zeros, which add nothing to the sums.
  const BlockPlace place = PlaceOfSource(layout_, symbol);
  const uint32_t block_in_stripe = place.block - stripe_.first_block;
  const uint32_t repairs = BlockRepairCount(layout_, place.block);
  for (uint32_t r = 0; r < repairs; ++r) {
    GfMulAdd(RepairBuffer(block_in_stripe, r), memory_->symbol, length, CauchyCoefficient(int(r), int(place.position)));
  }
  ++next_source_;
  PackagePart part{job_.params, job_.crash_id, job_.package_length, job_.package_crc, symbol, memory_->symbol, length};
  return int(BuildPackagePartDatagram(out, capacity, job_.who, part));
}

// Repairs go out index by index across the stripe's blocks (repair 0 of every block, then
// repair 1, ...), so that a burst at the stripe's end is spread over its blocks too. Skips the
// indices that smaller blocks lack; false when the stripe has no repair left.
bool PackagePartEncoder::NextRepairInStripe() {
  // The first block of a stripe is its largest, so it has the most repairs.
  const uint32_t most = BlockRepairCount(layout_, stripe_.first_block);
  for (; next_repair_ < most * stripe_.blocks; ++next_repair_) {
    const uint32_t repair = next_repair_ / stripe_.blocks;
    const uint32_t block = stripe_.first_block + next_repair_ % stripe_.blocks;
    if (repair < BlockRepairCount(layout_, block)) return true;
  }
  return false;
}

int PackagePartEncoder::NextRepair(uint8_t* out, size_t capacity) {
  const uint32_t repair = next_repair_ / stripe_.blocks;
  const uint32_t block_in_stripe = next_repair_ % stripe_.blocks;
  ++next_repair_;
  PackagePart part{job_.params,
                   job_.crash_id,
                   job_.package_length,
                   job_.package_crc,
                   RepairSymbolId(stripe_.first_block + block_in_stripe, repair),
                   RepairBuffer(block_in_stripe, repair),
                   layout_.params.symbol_size};
  return int(BuildPackagePartDatagram(out, capacity, job_.who, part));
}
