// A sparse address space for the crash summary's walkers: regions of bytes at chosen addresses,
// everything else unreadable, as a guarded read of a crashed process sees it.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "crashcapture/memory_reader.h"

class FakeMemory : public MemoryReader {
 public:
  bool Read(uint64_t address, void* out, size_t size) override {
    auto it = regions_.upper_bound(address);
    if (it == regions_.begin()) return false;
    --it;
    const uint64_t offset = address - it->first;
    if (offset > it->second.size() || it->second.size() - offset < size) return false;
    std::memcpy(out, it->second.data() + offset, size);
    return true;
  }

  // A region of size zero bytes at base; the returned pointer stays valid while no region is added.
  uint8_t* Map(uint64_t base, size_t size) {
    regions_[base].assign(size, 0);
    return regions_[base].data();
  }

  void Put(uint64_t address, const void* data, size_t size) {
    auto it = --regions_.upper_bound(address);
    std::memcpy(it->second.data() + (address - it->first), data, size);
  }
  void PutU16(uint64_t address, uint16_t v) { Put(address, &v, 2); }
  void PutU32(uint64_t address, uint32_t v) { Put(address, &v, 4); }
  void PutPointer(uint64_t address, uint64_t v, int size) { Put(address, &v, size_t(size)); }

 private:
  std::map<uint64_t, std::vector<uint8_t>> regions_;
};

// A minimal PE image mapped at base: headers, one code section at code_rva of code_size bytes
// (filled with int3), and optionally a CodeView record in the debug directory.
struct FakeImage {
  uint64_t base;
  uint32_t size_of_image;
  uint32_t time_stamp;
  uint32_t code_rva;
  uint32_t code_size;
  bool pe32_plus;
};

inline constexpr uint32_t kFakeNtOffset = 0x80;

// Returns the RVA where the optional header's data directories begin.
inline uint32_t MapFakeImage(FakeMemory& memory, const FakeImage& image) {
  uint8_t* p = memory.Map(image.base, image.size_of_image);
  p[0] = 'M', p[1] = 'Z';
  std::memcpy(p + 0x3C, &kFakeNtOffset, 4);
  std::memcpy(p + kFakeNtOffset, "PE\0\0", 4);
  const uint32_t file_header = kFakeNtOffset + 4;
  const uint16_t sections = 2;
  std::memcpy(p + file_header + 2, &sections, 2);
  std::memcpy(p + file_header + 4, &image.time_stamp, 4);
  const uint32_t optional = file_header + 20;
  const uint16_t optional_size = image.pe32_plus ? 240 : 224;
  std::memcpy(p + file_header + 16, &optional_size, 2);
  const uint16_t magic = image.pe32_plus ? 0x20B : 0x10B;
  std::memcpy(p + optional, &magic, 2);
  std::memcpy(p + optional + 56, &image.size_of_image, 4);
  const uint32_t count_offset = image.pe32_plus ? 108 : 92;
  const uint32_t directories = 16;
  std::memcpy(p + optional + count_offset, &directories, 4);
  // A data section, then the code section.
  const uint32_t section = optional + optional_size;
  const uint32_t data_size = 0x100, data_rva = 0x100, data_flags = 0xC0000040;
  std::memcpy(p + section + 8, &data_size, 4);
  std::memcpy(p + section + 12, &data_rva, 4);
  std::memcpy(p + section + 36, &data_flags, 4);
  const uint32_t code_flags = 0x60000020;
  std::memcpy(p + section + 40 + 8, &image.code_size, 4);
  std::memcpy(p + section + 40 + 12, &image.code_rva, 4);
  std::memcpy(p + section + 40 + 36, &code_flags, 4);
  std::memset(p + image.code_rva, 0xCC, image.code_size);
  return optional + count_offset + 4;
}
