// The crashed process's memory as far as the dump holds it: thread stacks and the memory lists,
// looked up by address.
#pragma once

#include <cstdint>
#include <vector>

#include "dump_snapshot.h"

namespace collector {

class ProcessMemory {
 public:
  // Ranges may come in any order; Seal sorts them for lookups, which must not come before it.
  void Add(const MemoryRange& range);
  void Seal();

  // The walked thread's stack, looked at first: most reads of a walk land there.
  void SetPreferred(const MemoryRange* stack) { preferred_ = stack; }

  // Copies `size` bytes at `address` when one range holds all of them.
  bool Read(uint64_t address, size_t size, void* out) const;
  // A little-endian pointer of 4 or 8 bytes, zero-extended.
  bool ReadPointer(uint64_t address, int pointer_size, uint64_t* out) const;

 private:
  std::vector<MemoryRange> ranges_;  // by start address once sealed
  const MemoryRange* preferred_ = nullptr;
};

}  // namespace collector
