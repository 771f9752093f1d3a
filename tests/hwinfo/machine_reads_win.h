// What the Windows tests read of the machine for themselves, by other calls than the probes use
// (their own cpuid, RegGetValueA), to compare with what the probes find.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "hwinfo/cpu_identify.h"

namespace wintest {

CpuIdRegs OwnCpuId(uint32_t leaf);
std::string OwnBrandString();  // empty when the brand leaves are not offered
std::string OwnVendorId();     // the 12 characters of leaf 0
std::string Trimmed(const std::string& text);  // without leading and trailing spaces

// RegGetValueA under HKEY_LOCAL_MACHINE; false when the value cannot be read.
bool OwnRegString(const char* key, const char* value, std::string* out);
bool OwnRegDword(const char* key, const char* value, uint32_t* out);

std::string ExeDir();  // the folder of the running test program, with a trailing backslash

// The "name=value" fields of a profile, in order.
std::vector<std::pair<std::string, std::string>> ProfileFields(const std::string& profile);

}  // namespace wintest
