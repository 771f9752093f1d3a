// How the crash summary reads the process's memory: through this one call, so that the walkers
// above it build natively and run over a fake address space in tests. On the crash path every read
// is a guarded copy, since a frozen thread may be rewriting what we read (the loader's list, a
// stack) and any pointer we follow may lead nowhere.
#pragma once

#include <cstddef>
#include <cstdint>

class MemoryReader {
 public:
  // Copies size bytes from address into out; false when any of them cannot be read.
  virtual bool Read(uint64_t address, void* out, size_t size) = 0;

  // A pointer of pointer_size bytes (4 or 8), little-endian as both architectures store it.
  bool ReadPointer(uint64_t address, int pointer_size, uint64_t* out);
  bool ReadU32(uint64_t address, uint32_t* out);
  bool ReadU16(uint64_t address, uint16_t* out);

 protected:
  ~MemoryReader() = default;
};
