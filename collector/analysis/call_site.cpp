#include "call_site.h"

namespace collector {
namespace {

constexpr uint8_t kCallRel32 = 0xE8;
constexpr uint8_t kGroup5 = 0xFF;  // whose ModRM reg field 2 is "call r/m"
constexpr size_t kCallRel32Size = 5;
constexpr size_t kLongestIndirectCall = 7;  // FF, ModRM, SIB, disp32

// The length of a ModRM operand with its SIB and displacement, from the ModRM byte on.
size_t OperandLength(uint8_t modrm, uint8_t sib) {
  uint8_t mod = modrm >> 6, rm = modrm & 7;
  if (mod == 3) return 1;
  size_t length = 1;
  if (rm == 4) ++length;  // a SIB byte follows
  if (mod == 1) return length + 1;
  if (mod == 2) return length + 4;
  if (rm == 5) return length + 4;                    // disp32 alone (x64: RIP-relative)
  if (rm == 4 && (sib & 7) == 5) return length + 4;  // SIB without a base register: disp32
  return length;
}

}  // namespace

bool EndsWithCall(Bytes before) {
  size_t n = before.size;
  const uint8_t* b = before.data;
  if (n >= kCallRel32Size && b[n - kCallRel32Size] == kCallRel32) return true;
  for (size_t length = 2; length <= kLongestIndirectCall && length <= n; ++length) {
    const uint8_t* call = b + n - length;
    if (call[0] != kGroup5 || (call[1] >> 3 & 7) != 2) continue;
    uint8_t sib = length > 2 ? call[2] : 0;
    if (1 + OperandLength(call[1], sib) == length) return true;
  }
  return false;
}

}  // namespace collector
