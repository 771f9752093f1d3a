#include "crashcapture/stack_candidates.h"

namespace {

constexpr uint8_t kCallRelative = 0xE8;
constexpr uint8_t kGroupFive = 0xFF;  // its /2 form is the indirect near call
constexpr int kLongestCall = 7;       // FF, ModRM, SIB and a 32-bit displacement
constexpr int kMaxChainFrames = 64;
constexpr int kScanChunkBytes = 4096;

// For an FF /2 call whose ModRM byte is modrm: its length from the FF byte on.
int IndirectCallLength(uint8_t modrm) {
  const int mod = modrm >> 6;
  const int rm = modrm & 7;
  const int sib = (mod != 3 && rm == 4) ? 1 : 0;
  switch (mod) {
    case 0:
      // rm 5 is a 32-bit displacement (RIP-relative on x64); an SIB with base 5 also has one, but
      // its length then depends on the SIB byte and is checked by the caller.
      return 2 + sib + (rm == 5 ? 4 : 0);
    case 1:
      return 3 + sib;
    case 2:
      return 6 + sib;
    default:
      return 2;
  }
}

bool IndirectCallEndsAt(const uint8_t* before, int available, int length) {
  if (length > available) return false;
  const uint8_t* call = before + available - length;
  if (call[0] != kGroupFive || ((call[1] >> 3) & 7) != 2) return false;
  int expected = IndirectCallLength(call[1]);
  // mod 0 with an SIB whose base is 5: a 32-bit displacement follows the SIB.
  if ((call[1] >> 6) == 0 && (call[1] & 7) == 4 && length >= 3 && (call[2] & 7) == 5) expected += 4;
  return expected == length;
}

class CandidateList {
 public:
  CandidateList(const ModuleTable& modules, MemoryReader& memory, StackCandidates* out)
      : modules_(modules), memory_(memory), out_(out) {
    out_->count = 0;
    out_->cut = false;
  }

  bool Full() const { return out_->count >= kMaxSummaryFrames; }

  void Add(uint64_t address) {
    if (Full()) {
      out_->cut = true;
      return;
    }
    out_->addresses[out_->count++] = address;
  }

  bool LooksLikeReturn(uint64_t address) {
    if (address < kLongestCall || !InModuleCode(modules_, address)) return false;
    uint8_t before[kLongestCall];
    // The call may start in the previous page or section; read what can be read, longest first.
    for (int take = kLongestCall; take >= 2; --take) {
      if (memory_.Read(address - take, before + kLongestCall - take, size_t(take))) {
        return EndsWithCall(before + kLongestCall - take, take);
      }
    }
    return false;
  }

 private:
  const ModuleTable& modules_;
  MemoryReader& memory_;
  StackCandidates* out_;
};

// Follows saved frame pointers: [fp] the caller's frame pointer, [fp + pointer] the return
// address. Each frame must lie above the last and inside the stack, or the chain has ended in code
// that uses the register for something else. Returns the stack slots of the addresses taken.
int WalkFrameChain(MemoryReader& memory, const StackWalkStart& start, CandidateList& list, uint64_t* slots) {
  const uint64_t ps = uint64_t(start.pointer_size);
  uint64_t fp = start.frame_pointer;
  int taken = 0;
  for (int frame = 0; frame < kMaxChainFrames && !list.Full(); ++frame) {
    if (fp < start.stack_pointer || fp % ps != 0 || fp + 2 * ps > start.stack_end) break;
    uint64_t next, ret;
    if (!memory.ReadPointer(fp, start.pointer_size, &next) ||
        !memory.ReadPointer(fp + ps, start.pointer_size, &ret)) {
      break;
    }
    if (!list.LooksLikeReturn(ret)) break;
    list.Add(ret);
    slots[taken++] = fp + ps;
    if (next <= fp) break;
    fp = next;
  }
  return taken;
}

bool SlotTaken(const uint64_t* slots, int count, uint64_t slot) {
  for (int i = 0; i < count; ++i) {
    if (slots[i] == slot) return true;
  }
  return false;
}

void ScanStack(MemoryReader& memory, const StackWalkStart& start, CandidateList& list, const uint64_t* slots,
               int slot_count) {
  const uint64_t ps = uint64_t(start.pointer_size);
  uint64_t from = start.stack_pointer - start.stack_pointer % ps;
  uint64_t end = start.stack_end;
  if (end > from + kMaxScanBytes) end = from + kMaxScanBytes;
  uint8_t chunk[kScanChunkBytes];
  while (from < end) {
    const uint64_t size = end - from < kScanChunkBytes ? end - from : kScanChunkBytes;
    if (!memory.Read(from, chunk, size_t(size))) break;
    for (uint64_t at = 0; at + ps <= size; at += ps) {
      uint64_t value = 0;
      for (uint64_t b = ps; b > 0; --b) value = value << 8 | chunk[at + b - 1];
      if (SlotTaken(slots, slot_count, from + at) || !list.LooksLikeReturn(value)) continue;
      list.Add(value);
      if (list.Full()) {
        // One more genuine candidate proves the cut; looking for it costs a scan we do not need.
        return;
      }
    }
    from += size;
  }
}

}  // namespace

bool EndsWithCall(const uint8_t* before, int available) {
  if (available >= 5 && before[available - 5] == kCallRelative) return true;
  for (int length = 2; length <= kLongestCall; ++length) {
    if (IndirectCallEndsAt(before, available, length)) return true;
  }
  return false;
}

void FindStackCandidates(MemoryReader& memory, const ModuleTable& modules, const StackWalkStart& start,
                         StackCandidates* out) {
  CandidateList list(modules, memory, out);
  if (FindModule(modules, start.instruction_pointer) >= 0) list.Add(start.instruction_pointer);
  uint64_t slots[kMaxChainFrames];
  const int slot_count = WalkFrameChain(memory, start, list, slots);
  ScanStack(memory, start, list, slots, slot_count);
  // A full list may still have left candidates out; say so unless the scan reached the end.
  if (list.Full()) out->cut = true;
}
