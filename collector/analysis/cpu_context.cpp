#include "cpu_context.h"

#include <cstring>

namespace collector {
namespace {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "contexts are copied as they lie in the dump");

// How much of each layout the walk needs: everything before the floating-point state.
constexpr size_t kX86Needed = offsetof(X86Context, extended_registers);
constexpr size_t kAmd64Needed = offsetof(Amd64Context, float_save);

// Copies what arrived of a context into a zeroed layout; false when the needed part is missing.
template <typename T>
bool CopyContext(Bytes raw, size_t needed, T* out) {
  if (raw.size < needed) return false;
  std::memset(out, 0, sizeof(T));
  std::memcpy(out, raw.data, raw.size < sizeof(T) ? raw.size : sizeof(T));
  return true;
}

}  // namespace

Cpu CpuOfContext(uint32_t declared_size, Bytes raw) {
  uint32_t flags = 0;
  if (declared_size == sizeof(Amd64Context) && ReadLe32(raw, offsetof(Amd64Context, context_flags), &flags) &&
      (flags & kContextAmd64)) {
    return Cpu::kAmd64;
  }
  if (declared_size == sizeof(X86Context) && ReadLe32(raw, 0, &flags) && (flags & kContextX86)) return Cpu::kX86;
  return Cpu::kUnknown;
}

bool ReadContext(Cpu cpu, Bytes raw, Registers* out) {
  *out = Registers();
  if (cpu == Cpu::kAmd64) {
    Amd64Context c;
    if (!CopyContext(raw, kAmd64Needed, &c)) return false;
    std::memcpy(out->gpr, c.gpr, sizeof c.gpr);
    out->ip = c.rip;
    return true;
  }
  if (cpu == Cpu::kX86) {
    X86Context c;
    if (!CopyContext(raw, kX86Needed, &c)) return false;
    const uint32_t in_encoding_order[8] = {c.eax, c.ecx, c.edx, c.ebx, c.esp, c.ebp, c.esi, c.edi};
    for (int i = 0; i < 8; ++i) out->gpr[i] = in_encoding_order[i];
    out->ip = c.eip;
    return true;
  }
  return false;
}

}  // namespace collector
