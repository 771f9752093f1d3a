#include "fake_machine.h"

#include <cstring>

namespace fake {

Machine& Current() {
  static Machine machine;
  return machine;
}

void Reset() { Current() = Machine(); }

void SetBrand(const std::string& brand, uint32_t highest) {
  Current().leaves[0x80000000] = {highest, 0, 0, 0};
  char bytes[48] = {};
  std::memcpy(bytes, brand.data(), brand.size() < 48 ? brand.size() : 48);
  for (uint32_t i = 0; i < 3; ++i) {
    uint32_t words[4];
    std::memcpy(words, bytes + 16 * i, 16);
    Current().leaves[0x80000002 + i] = {words[0], words[1], words[2], words[3]};
  }
}

void SetVendorId(const std::string& id) {
  char bytes[12] = {};
  std::memcpy(bytes, id.data(), id.size() < 12 ? id.size() : 12);
  uint32_t words[3];
  std::memcpy(words, bytes, 12);
  CpuIdRegs& regs = Current().leaves[0];
  regs.ebx = words[0];
  regs.edx = words[1];
  regs.ecx = words[2];
}

void SetString(const std::string& key, const std::string& value, const std::string& text) {
  Current().registry[key][value] = std::string(text.c_str(), text.size() + 1);
}

void SetDword(const std::string& key, const std::string& value, uint32_t number) {
  Current().registry[key][value] = std::string(reinterpret_cast<const char*>(&number), sizeof(number));
}

bool Supported() {
  ++Current().supported_calls;
  return Current().has_cpuid;
}

CpuIdRegs Leaf(uint32_t leaf) {
  auto it = Current().leaves.find(leaf);
  return it == Current().leaves.end() ? CpuIdRegs{} : it->second;
}

// Behaves as RegQueryValueExA does: a value larger than the buffer is not read at all.
RegRead ReadRegistry(const char* key, const char* value, void* out, uint32_t capacity, uint32_t* size) {
  *size = 0;
  auto k = Current().registry.find(key);
  if (k == Current().registry.end()) return RegRead::kNoKey;
  auto v = k->second.find(value);
  if (v == k->second.end() || v->second.size() > capacity) return RegRead::kNoValue;
  std::memcpy(out, v->second.data(), v->second.size());
  *size = uint32_t(v->second.size());
  return RegRead::kOk;
}

}  // namespace fake
