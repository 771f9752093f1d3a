// A recorded machine for the probes: cpuid words per leaf and registry keys with their values.
// The probes reach it through plain function pointers, so the state is process-wide; each test
// starts from FakeMachine::Reset().
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "hwinfo/cpu_identify.h"

namespace fake {

struct Machine {
  bool has_cpuid = true;
  int supported_calls = 0;
  std::map<uint32_t, CpuIdRegs> leaves;  // a leaf not recorded answers all zero
  // key -> value name -> raw bytes; a key present with no values opens but reads nothing.
  std::map<std::string, std::map<std::string, std::string>> registry;
};

Machine& Current();
void Reset();

// Leaf 0x80000000 reporting `highest`, and leaves 0x80000002..4 holding the 48 bytes of brand
// (cut or padded with zero bytes).
void SetBrand(const std::string& brand, uint32_t highest = 0x80000004);
// Leaf 0 with the 12 characters of id in EBX, EDX, ECX.
void SetVendorId(const std::string& id);
void SetString(const std::string& key, const std::string& value, const std::string& text);  // with terminator
void SetDword(const std::string& key, const std::string& value, uint32_t number);

bool Supported();
CpuIdRegs Leaf(uint32_t leaf);
RegRead ReadRegistry(const char* key, const char* value, void* out, uint32_t capacity, uint32_t* size);

inline CpuSource Cpu() { return {Supported, Leaf, ReadRegistry}; }

}  // namespace fake
