#include "crashcapture/memory_reader.h"

namespace {

uint64_t LittleEndian(const uint8_t* bytes, int size) {
  uint64_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

}  // namespace

bool MemoryReader::ReadPointer(uint64_t address, int pointer_size, uint64_t* out) {
  uint8_t bytes[8];
  if ((pointer_size != 4 && pointer_size != 8) || !Read(address, bytes, size_t(pointer_size))) return false;
  *out = LittleEndian(bytes, pointer_size);
  return true;
}

bool MemoryReader::ReadU32(uint64_t address, uint32_t* out) {
  uint8_t bytes[4];
  if (!Read(address, bytes, sizeof bytes)) return false;
  *out = uint32_t(LittleEndian(bytes, 4));
  return true;
}

bool MemoryReader::ReadU16(uint64_t address, uint16_t* out) {
  uint8_t bytes[2];
  if (!Read(address, bytes, sizeof bytes)) return false;
  *out = uint16_t(LittleEndian(bytes, 2));
  return true;
}
