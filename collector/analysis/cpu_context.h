// The register sets of the two processors a game's minidump comes from, as the stack walk uses
// them, and the Windows CONTEXT layouts they are read from. Our own packed definitions, so the
// reader builds on Linux without Windows headers; all fields are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bytes.h"

namespace collector {

enum class Cpu { kUnknown, kX86, kAmd64 };

// Integer registers in the processor's own encoding order, which is also the order x64 unwind
// codes number them in; the i686 build uses the first eight, zero-extended.
enum Register : int {
  kAx,
  kCx,
  kDx,
  kBx,
  kSp,
  kBp,
  kSi,
  kDi,
  kR8,
  kR9,
  kR10,
  kR11,
  kR12,
  kR13,
  kR14,
  kR15,
  kRegisterCount
};

struct Registers {
  uint64_t ip = 0;
  uint64_t gpr[kRegisterCount] = {};
  uint64_t sp() const { return gpr[kSp]; }
  uint64_t fp() const { return gpr[kBp]; }
};

#pragma pack(push, 1)

struct X86FloatSave {  // FLOATING_SAVE_AREA
  uint32_t control[7];
  uint8_t registers[80];
  uint32_t cr0_npx_state;
};
static_assert(sizeof(X86FloatSave) == 112, "FLOATING_SAVE_AREA");

struct X86Context {  // CONTEXT of an i686 process
  uint32_t context_flags;
  uint32_t dr[6];
  X86FloatSave float_save;
  uint32_t seg_gs, seg_fs, seg_es, seg_ds;
  uint32_t edi, esi, ebx, edx, ecx, eax;
  uint32_t ebp, eip, seg_cs, eflags, esp, seg_ss;
  uint8_t extended_registers[512];
};
static_assert(sizeof(X86Context) == 716, "CONTEXT (x86)");
static_assert(offsetof(X86Context, eip) == 184, "CONTEXT (x86) Eip");

struct Amd64Context {  // CONTEXT of an x86_64 process
  uint64_t home[6];
  uint32_t context_flags;
  uint32_t mx_csr;
  uint16_t seg_cs, seg_ds, seg_es, seg_fs, seg_gs, seg_ss;
  uint32_t eflags;
  uint64_t dr[6];
  uint64_t gpr[16];  // Rax, Rcx, Rdx, Rbx, Rsp, Rbp, Rsi, Rdi, R8 to R15: the encoding order
  uint64_t rip;
  uint8_t float_save[512];  // XMM_SAVE_AREA32
  uint8_t vector_registers[26 * 16];
  uint64_t vector_control;
  uint64_t debug_control;
  uint64_t last_branch[4];
};
static_assert(sizeof(Amd64Context) == 1232, "CONTEXT (amd64)");
static_assert(offsetof(Amd64Context, gpr) == 120, "CONTEXT (amd64) Rax");
static_assert(offsetof(Amd64Context, rip) == 248, "CONTEXT (amd64) Rip");

#pragma pack(pop)

// The CONTEXT_i386 and CONTEXT_AMD64 bits of ContextFlags, which say whose layout a context has.
constexpr uint32_t kContextX86 = 0x00010000;
constexpr uint32_t kContextAmd64 = 0x00100000;

// The processor whose CONTEXT a dump stored in `declared_size` bytes (of which `raw` arrived), when
// the size and the flags agree; kUnknown otherwise. For dumps without a system information stream.
Cpu CpuOfContext(uint32_t declared_size, Bytes raw);

// The registers of a context. A context cut short still counts when its integer and control
// registers arrived (the floating-point and vector state after them is not used); false otherwise.
bool ReadContext(Cpu cpu, Bytes raw, Registers* out);

inline int PointerSize(Cpu cpu) { return cpu == Cpu::kAmd64 ? 8 : 4; }

}  // namespace collector
