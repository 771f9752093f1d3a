// One dump package being put together from its parts: the symbols that arrived, block by block,
// each block rebuilt as soon as it holds as many symbols as it has sources, and the package
// checked against its CRC-32 once every block is whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "client/package_fec_layout.h"
#include "client/package_part_datagram.h"

namespace reassembly {

// A package's bytes [begin, end) that neither arrived nor could be rebuilt.
struct ByteRange {
  uint32_t begin;
  uint32_t end;
};

struct ShortBlock {
  uint32_t block;
  uint32_t have;  // distinct symbols that arrived
  uint32_t need;  // its source count
};

// What kept a package from being whole.
struct MissingReport {
  uint32_t blocks = 0;
  std::vector<ShortBlock> short_blocks;
  std::vector<ByteRange> missing_bytes;
  uint64_t missing_byte_count = 0;
};

enum class PartOutcome {
  kStored,      // a new symbol
  kDuplicate,   // this symbol arrived before, or its block was already whole
  kMismatch,    // the part describes another package (parameters, length or checksum differ)
  kOverBudget,  // storing it would pass the memory bound
};

class PackageAssembly {
 public:
  // `part` is the first part that arrived; Add it too.
  explicit PackageAssembly(const PackagePart& part);

  // budget: the bytes this package may still allocate; what it allocates is added to held_bytes().
  PartOutcome Add(const PackagePart& part, size_t budget);

  bool AllBlocksWhole() const { return whole_blocks_ == layout_.block_count; }
  // The package in order, once every block is whole. Empty when it fails its checksum: then the
  // parts did not make the package their sender announced.
  std::vector<uint8_t> Assemble() const;
  MissingReport Missing() const;

  const FecLayout& layout() const { return layout_; }
  uint32_t crc() const { return crc_; }
  size_t held_bytes() const { return held_bytes_; }
  uint64_t symbols_received() const { return symbols_received_; }

 private:
  struct Block {
    std::vector<uint8_t> bytes;  // sources then repairs, symbol_size each; empty until needed
    std::vector<bool> present;
    uint32_t have = 0;
    bool whole = false;
  };

  bool SamePackage(const PackagePart& part) const;
  void Rebuild(uint32_t block_index);
  size_t BlockBytes(uint32_t block_index) const;

  FecLayout layout_;
  uint32_t crash_id_;
  uint32_t crc_;
  std::vector<Block> blocks_;
  uint32_t whole_blocks_ = 0;
  size_t held_bytes_ = 0;
  uint64_t symbols_received_ = 0;
};

}  // namespace reassembly
