// The identification instruction and the test for it.
#include <cpuid.h>

#include <cstdint>

#include "hwinfo/probes.h"

namespace {

constexpr uintptr_t kIdFlag = 0x200000;  // bit 21 of the flags register: writable only if cpuid exists

uint8_t g_cpuid_available;  // set once the instruction has been found; never reset

// Flips the ID flag and reads it back, then puts the original flags back. pushf/popf take the
// register width of the mode, so the same text serves i686 and x86_64; Windows x64 has no red zone
// below the stack pointer, so the pushes clobber nothing of the compiler's.
bool IdFlagToggles() {
  uintptr_t before;
  uintptr_t after;
  __asm__ __volatile__(
      "pushf\n\t"
      "pop %0\n\t"
      "mov %0, %1\n\t"
      "xor %2, %1\n\t"
      "push %1\n\t"
      "popf\n\t"
      "pushf\n\t"
      "pop %1\n\t"
      "push %0\n\t"
      "popf"
      : "=&r"(before), "=&r"(after)
      : "i"(kIdFlag)
      : "cc", "memory");
  return before != after;
}

}  // namespace

bool CpuIdSupported() { return CachedCpuIdSupported(&g_cpuid_available, IdFlagToggles); }

CpuIdRegs CpuIdLeaf(uint32_t leaf) {
  CpuIdRegs regs;
  __cpuid_count(leaf, 0, regs.eax, regs.ebx, regs.ecx, regs.edx);
  return regs;
}
