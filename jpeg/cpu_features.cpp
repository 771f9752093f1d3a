#include "jpeg/cpu_features.h"

#include <cpuid.h>

namespace vxjpeg {

bool ProcessorHasSse2() {
  constexpr unsigned kSse2Bit = 1u << 26;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  // __get_cpuid also answers false on a 32-bit processor too old to have the instruction at all.
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  return (edx & kSse2Bit) != 0;
}

}  // namespace vxjpeg
