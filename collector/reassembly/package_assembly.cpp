#include "package_assembly.h"

#include <zlib.h>

#include <cstring>

#include "block_decoder.h"

namespace reassembly {

PackageAssembly::PackageAssembly(const PackagePart& part) : crash_id_(part.crash_id), crc_(part.package_crc) {
  // The part was decoded, so its layout is sound.
  MakeFecLayout(part.params, part.package_length, &layout_);
  blocks_.resize(layout_.block_count);
}

bool PackageAssembly::SamePackage(const PackagePart& part) const {
  const FecParams& a = part.params;
  const FecParams& b = layout_.params;
  return part.crash_id == crash_id_ && part.package_length == layout_.package_length && part.package_crc == crc_ &&
         a.symbol_size == b.symbol_size && a.block_symbols == b.block_symbols &&
         a.repair_percent == b.repair_percent && a.stripe_blocks == b.stripe_blocks;
}

size_t PackageAssembly::BlockBytes(uint32_t block_index) const {
  const size_t symbols = BlockSourceCount(layout_, block_index) + BlockRepairCount(layout_, block_index);
  return symbols * layout_.params.symbol_size;
}

PartOutcome PackageAssembly::Add(const PackagePart& part, size_t budget) {
  if (!SamePackage(part)) return PartOutcome::kMismatch;
  uint32_t block_index;
  uint32_t slot;
  if (part.symbol_id & kRepairSymbolFlag) {
    block_index = (part.symbol_id & ~kRepairSymbolFlag) >> 8;
    slot = BlockSourceCount(layout_, block_index) + (part.symbol_id & 0xFF);
  } else {
    const BlockPlace place = PlaceOfSource(layout_, part.symbol_id);
    block_index = place.block;
    slot = place.position;
  }
  Block& block = blocks_[block_index];
  if (block.whole || (!block.present.empty() && block.present[slot])) return PartOutcome::kDuplicate;
  if (block.bytes.empty()) {
    const size_t bytes = BlockBytes(block_index);
    if (bytes > budget) return PartOutcome::kOverBudget;
    block.bytes.assign(bytes, 0);  // zeros also pad a short last symbol, as the sender counted it
    block.present.assign(bytes / layout_.params.symbol_size, false);
    held_bytes_ += bytes;
  }
  std::memcpy(&block.bytes[size_t(slot) * layout_.params.symbol_size], part.data, part.data_length);
  block.present[slot] = true;
  ++block.have;
  ++symbols_received_;
  if (block.have >= BlockSourceCount(layout_, block_index)) Rebuild(block_index);
  return PartOutcome::kStored;
}

void PackageAssembly::Rebuild(uint32_t block_index) {
  Block& block = blocks_[block_index];
  const size_t size = layout_.params.symbol_size;
  CodedBlock coded{size, BlockSourceCount(layout_, block_index), BlockRepairCount(layout_, block_index), {}, block.present};
  for (size_t i = 0; i < block.present.size(); ++i) coded.symbols.push_back(&block.bytes[i * size]);
  if (!RebuildBlock(coded)) return;  // K symbols always suffice; kept for safety
  // Only the sources are needed from here on: the repairs' memory goes back.
  const size_t source_bytes = size_t(coded.source_count) * size;
  held_bytes_ -= block.bytes.size() - source_bytes;
  block.bytes.resize(source_bytes);
  block.bytes.shrink_to_fit();
  block.present.assign(coded.source_count, true);
  block.whole = true;
  ++whole_blocks_;
}

std::vector<uint8_t> PackageAssembly::Assemble() const {
  std::vector<uint8_t> package;
  if (!AllBlocksWhole()) return package;
  package.reserve(layout_.package_length);
  for (uint32_t symbol = 0; symbol < layout_.symbol_count; ++symbol) {
    const BlockPlace place = PlaceOfSource(layout_, symbol);
    const uint8_t* at = &blocks_[place.block].bytes[size_t(place.position) * layout_.params.symbol_size];
    package.insert(package.end(), at, at + SourceLength(layout_, symbol));
  }
  // zlib's own CRC rather than the sender's code: an independent check of what arrived.
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32_z(crc, package.data(), package.size());
  if (uint32_t(crc) != crc_) package.clear();
  return package;
}

MissingReport PackageAssembly::Missing() const {
  MissingReport report;
  report.blocks = layout_.block_count;
  for (uint32_t b = 0; b < layout_.block_count; ++b) {
    if (!blocks_[b].whole) report.short_blocks.push_back({b, blocks_[b].have, BlockSourceCount(layout_, b)});
  }
  for (uint32_t symbol = 0; symbol < layout_.symbol_count; ++symbol) {
    const BlockPlace place = PlaceOfSource(layout_, symbol);
    const Block& block = blocks_[place.block];
    if (block.whole || (!block.present.empty() && block.present[place.position])) continue;
    const uint32_t begin = symbol * layout_.params.symbol_size;
    const uint32_t end = begin + SourceLength(layout_, symbol);
    report.missing_byte_count += end - begin;
    if (!report.missing_bytes.empty() && report.missing_bytes.back().end == begin) {
      report.missing_bytes.back().end = end;
    } else {
      report.missing_bytes.push_back({begin, end});
    }
  }
  return report;
}

}  // namespace reassembly
