// Rebuilds the lost source symbols of one error-correction block from any of its repair symbols
// (client/erasure_code.h): with e sources missing and at least e repairs present, the repairs less
// the known sources' part form e equations in the e unknown symbols, whose matrix is a square part
// of the Cauchy matrix and so always invertible.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace reassembly {

struct CodedBlock {
  size_t symbol_size;
  uint32_t source_count;                 // K
  uint32_t repair_count;                 // R
  std::vector<uint8_t*> symbols;         // K sources then R repairs, symbol_size bytes each
  std::vector<bool> present;             // one flag per symbol
};

// Fills in every missing source; false, with nothing changed, when fewer than K symbols are present.
bool RebuildBlock(CodedBlock& block);

}  // namespace reassembly
