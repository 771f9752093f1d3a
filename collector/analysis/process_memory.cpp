#include "process_memory.h"

#include <algorithm>
#include <cstring>

namespace collector {
namespace {

// Dumps do not overlap their ranges, apart from a stack listed twice; so a lookup looks back over
// only a few ranges that start below the address, which keeps it logarithmic for a hostile dump.
constexpr size_t kOverlapLookback = 8;

bool CopyFrom(const MemoryRange& range, uint64_t address, size_t size, void* out) {
  Bytes slice;
  if (address < range.start || !Slice(range.bytes, address - range.start, size, &slice)) return false;
  std::memcpy(out, slice.data, size);
  return true;
}

}  // namespace

void ProcessMemory::Add(const MemoryRange& range) {
  if (range.bytes.size > 0) ranges_.push_back(range);
}

void ProcessMemory::Seal() {
  std::stable_sort(ranges_.begin(), ranges_.end(),
                   [](const MemoryRange& a, const MemoryRange& b) { return a.start < b.start; });
}

bool ProcessMemory::Read(uint64_t address, size_t size, void* out) const {
  if (preferred_ && CopyFrom(*preferred_, address, size, out)) return true;
  auto after = std::upper_bound(ranges_.begin(), ranges_.end(), address,
                                [](uint64_t a, const MemoryRange& r) { return a < r.start; });
  for (size_t looked = 0; after != ranges_.begin() && looked < kOverlapLookback; ++looked) {
    --after;
    if (CopyFrom(*after, address, size, out)) return true;
  }
  return false;
}

bool ProcessMemory::ReadPointer(uint64_t address, int pointer_size, uint64_t* out) const {
  uint8_t raw[8];
  if (pointer_size != 4 && pointer_size != 8) return false;
  if (!Read(address, pointer_size, raw)) return false;
  *out = 0;
  for (int i = pointer_size - 1; i >= 0; --i) *out = *out << 8 | raw[i];
  return true;
}

}  // namespace collector
