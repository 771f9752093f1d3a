// The short processor model code of the profile: a vendor letter, refined by keywords of the name.
#pragma once

#include "hwinfo/cpu_identify.h"

constexpr int kCpuModelSize = 6;  // at most five characters: "II2x" and a suffix

// Writes the model code of the processor that `cpu` describes into out (kCpuModelSize bytes).
// A null out does nothing.
void GetCpuModel(const CpuSource& cpu, char* out);

// The decision itself: the code for a compact name (lower-case, brackets blanked, blanks removed)
// of a processor of the given CpuVendor.
void CpuModelCode(const char* compact, int vendor, char* out);
