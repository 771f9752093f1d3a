#include "x64_unwind.h"

#include <cstdio>
#include <cstring>

namespace collector {
namespace {

// UNWIND_INFO flags and the unwind operations of its codes.
constexpr uint8_t kFlagChainInfo = 4;
enum UnwindOp : uint8_t {
  kPushNonvol = 0,     // push reg
  kAllocLarge = 1,     // sub rsp, n: n/8 in the next slot (info 0) or n in the next two (info 1)
  kAllocSmall = 2,     // sub rsp, info*8 + 8
  kSetFpreg = 3,       // lea fpreg, [rsp + frame_offset*16]
  kSaveNonvol = 4,     // mov [frame + slot*8], reg
  kSaveNonvolFar = 5,  // mov [frame + two slots], reg
  kEpilog = 6,         // version 2: where epilogs lie (version 1: a 128-bit save, two slots)
  kSpareCode = 7,      // three slots, no effect on integer registers
  kSaveXmm128 = 8,     // movaps [frame + slot*16], xmm: no effect on integer registers
  kSaveXmm128Far = 9,
  kPushMachframe = 10,  // the processor pushed SS, RSP, EFLAGS, CS, RIP (and info 1: an error code)
};
constexpr int kMaxChainedEntries = 32;  // chains are one or two long; more is a loop or damage
constexpr uint32_t kUnwindHeaderSize = 4;
constexpr uint32_t kRuntimeFunctionSize = 12;
constexpr int kMaxEpilogBytes = 64;  // add/lea, at most 16 pops of up to 2 bytes, ret or jmp

struct UnwindCode {
  uint8_t prolog_offset;  // the end of the prolog instruction it undoes
  uint8_t op;
  uint8_t info;
};

// How many 16-bit slots an operation takes, its own included.
int Slots(const UnwindCode& code) {
  switch (code.op) {
    case kAllocLarge:
      return code.info == 0 ? 2 : 3;
    case kSaveNonvol:
    case kEpilog:
    case kSaveXmm128:
      return 2;
    case kSaveNonvolFar:
    case kSpareCode:
    case kSaveXmm128Far:
      return 3;
    default:
      return 1;
  }
}

class FrameUnwinder {
 public:
  FrameUnwinder(const UnwindInput& input, Registers* regs, std::string* problem)
      : in_(input), regs_(*regs), problem_(problem) {}

  // Works on a copy of the registers, handed back only when the whole step succeeded.
  bool Run(RuntimeFunction function, Registers* out, bool* machine_frame_out) {
    uint64_t ip_rva = regs_.ip - in_.module_base;
    bool machine_frame = false;
    *machine_frame_out = false;
    for (int entry = 0;; ++entry) {
      if (entry == kMaxChainedEntries)
        return Fail("unwind info chained more than " + std::to_string(kMaxChainedEntries) + " times");
      Bytes header;
      if (!in_.image->Read(function.unwind_info, kUnwindHeaderSize, &header))
        return Fail("unwind info outside the file");
      uint8_t version = header.data[0] & 7, flags = header.data[0] >> 3, prolog_size = header.data[1];
      uint8_t count = header.data[2], frame_register = header.data[3] & 15, frame_offset = header.data[3] >> 4;
      if (version != 1 && version != 2) return Fail("unwind info version " + std::to_string(version));
      Bytes codes;
      uint32_t slots = (count + 1u) & ~1u;  // the codes are padded to an even number of slots
      uint32_t codes_size = slots * 2 + ((flags & kFlagChainInfo) ? kRuntimeFunctionSize : 0);
      if (!in_.image->Read(function.unwind_info + kUnwindHeaderSize, codes_size, &codes))
        return Fail("unwind codes outside the file");

      // Only the prolog's instructions that ran are undone; past the prolog, all of them.
      uint64_t offset = ip_rva - function.begin;
      bool in_prolog = ip_rva >= function.begin && offset < prolog_size;
      if (entry == 0 && !in_prolog && in_.exact_ip && InEpilog(function, frame_register)) {
        *out = regs_;
        return true;
      }
      uint64_t applied_up_to = in_prolog ? offset : ~uint64_t{0};
      if (!ApplyCodes(codes, count, applied_up_to, frame_register, frame_offset, &machine_frame)) return false;
      if (!(flags & kFlagChainInfo)) break;
      ReadLe32(codes, slots * 2, &function.begin);
      ReadLe32(codes, slots * 2 + 4, &function.end);
      ReadLe32(codes, slots * 2 + 8, &function.unwind_info);
    }
    if (!machine_frame && !Return()) return false;
    *out = regs_;
    *machine_frame_out = machine_frame;
    return true;
  }

 private:
  bool Fail(const std::string& why) {
    *problem_ = why;
    return false;
  }

  bool Load(uint64_t address, uint64_t* value) {
    if (in_.memory->ReadPointer(address, 8, value)) return true;
    char text[80];
    snprintf(text, sizeof text, "stack memory at 0x%llx is not in the dump", static_cast<unsigned long long>(address));
    return Fail(text);
  }

  bool Pop(int reg) {
    uint64_t value;
    if (!Load(regs_.gpr[kSp], &value)) return false;
    regs_.gpr[reg] = value;
    regs_.gpr[kSp] += 8;
    return true;
  }

  bool Return() {
    uint64_t ip;
    if (!Load(regs_.gpr[kSp], &ip)) return false;
    regs_.ip = ip;
    regs_.gpr[kSp] += 8;
    return true;
  }

  static UnwindCode Code(Bytes codes, uint32_t i) {
    return UnwindCode{codes.data[2 * i], static_cast<uint8_t>(codes.data[2 * i + 1] & 15),
                      static_cast<uint8_t>(codes.data[2 * i + 1] >> 4)};
  }

  bool ApplyCodes(Bytes codes, uint8_t count, uint64_t applied_up_to, uint8_t frame_register, uint8_t frame_offset,
                  bool* machine_frame) {
    auto slot = [&](uint32_t i) { return static_cast<uint32_t>(codes.data[2 * i] | codes.data[2 * i + 1] << 8); };
    // The frame that SAVE_NONVOL offsets count from: the frame register's value minus its offset
    // once the prolog has set it, else the stack pointer.
    uint64_t frame = regs_.gpr[kSp];
    for (uint32_t i = 0; i < count; ++i) {
      if (Code(codes, i).op == kSetFpreg && Code(codes, i).prolog_offset <= applied_up_to && frame_register) {
        frame = regs_.gpr[frame_register] - uint64_t{frame_offset} * 16;
      }
    }
    for (uint32_t i = 0; i < count;) {
      UnwindCode c = Code(codes, i);
      uint32_t size = Slots(c);
      if (i + size > count) return Fail("unwind code " + std::to_string(c.op) + " runs past the code count");
      if (c.prolog_offset > applied_up_to) {
        i += size;
        continue;
      }
      switch (c.op) {
        case kPushNonvol:
          if (!Pop(c.info)) return false;
          break;
        case kAllocLarge:
          regs_.gpr[kSp] += c.info == 0 ? uint64_t{slot(i + 1)} * 8 : (slot(i + 1) | uint64_t{slot(i + 2)} << 16);
          break;
        case kAllocSmall:
          regs_.gpr[kSp] += uint64_t{c.info} * 8 + 8;
          break;
        case kSetFpreg:
          if (!frame_register) return Fail("SET_FPREG without a frame register");
          regs_.gpr[kSp] = frame;
          break;
        case kSaveNonvol:
        case kSaveNonvolFar: {
          uint64_t at =
              frame + (c.op == kSaveNonvol ? uint64_t{slot(i + 1)} * 8 : (slot(i + 1) | uint64_t{slot(i + 2)} << 16));
          uint64_t value;
          if (!Load(at, &value)) return false;
          regs_.gpr[c.info] = value;
          break;
        }
        case kEpilog:
        case kSpareCode:
        case kSaveXmm128:
        case kSaveXmm128Far:
          break;  // nothing the walk tracks
        case kPushMachframe: {
          // The trap frame: RIP, CS, EFLAGS, RSP, SS from the stack pointer up, behind an error
          // code when info is 1. The interrupted code's RSP and RIP are the caller's.
          uint64_t base = regs_.gpr[kSp] + (c.info ? 8 : 0);
          uint64_t ip, sp;
          if (!Load(base, &ip) || !Load(base + 24, &sp)) return false;
          regs_.ip = ip;
          regs_.gpr[kSp] = sp;
          *machine_frame = true;
          break;
        }
        default:
          return Fail("unknown unwind code " + std::to_string(c.op));
      }
      i += size;
    }
    return true;
  }

  // An epilog is "add rsp, n" or "lea rsp, [fpreg + n]" (either optional), then pops of
  // registers, then "ret" or a jump out of the function (a tail call). When the bytes at the
  // instruction pointer read so, the rest of the epilog is what unwinds the frame: it is carried
  // out here, and true returned.
  bool InEpilog(const RuntimeFunction& function, uint8_t frame_register) {
    uint32_t ip_rva = static_cast<uint32_t>(regs_.ip - in_.module_base);
    Bytes code;
    uint32_t take = kMaxEpilogBytes;
    while (take > 0 && !in_.image->Read(ip_rva, take, &code)) take /= 2;  // near the section's end
    if (take == 0) return false;
    const uint8_t* b = code.data;
    size_t n = code.size, at = 0;
    Registers after = regs_;
    // add rsp, imm8 / imm32
    if (n >= 4 && b[0] == 0x48 && b[1] == 0x83 && b[2] == 0xC4) {
      after.gpr[kSp] += static_cast<int8_t>(b[3]);
      at = 4;
    } else if (n >= 7 && b[0] == 0x48 && b[1] == 0x81 && b[2] == 0xC4) {
      int32_t imm;
      std::memcpy(&imm, b + 3, 4);
      after.gpr[kSp] += imm;
      at = 7;
    } else if (n >= 3 && (b[0] & 0xFE) == 0x48 && b[1] == 0x8D && frame_register) {
      // lea rsp, [fpreg + disp8/disp32]: ModRM with reg = rsp and rm = the frame register.
      uint8_t mod = b[2] >> 6, reg = b[2] >> 3 & 7, rm = (b[2] & 7) | (b[0] & 1) << 3;
      if (reg == kSp && rm == frame_register && rm != kSp && (mod == 1 || mod == 2)) {
        size_t disp_size = mod == 1 ? 1 : 4;
        if (n < 3 + disp_size) return false;
        int64_t disp;
        if (mod == 1) {
          disp = static_cast<int8_t>(b[3]);
        } else {
          int32_t d32;
          std::memcpy(&d32, b + 3, 4);
          disp = d32;
        }
        after.gpr[kSp] = regs_.gpr[rm] + disp;
        at = 3 + disp_size;
      }
    }
    // pop reg, 0x58+r, with REX.B (0x41) for r8 to r15.
    int pops[16];
    int pop_count = 0;
    while (pop_count < 16) {
      if (at < n && b[at] >= 0x58 && b[at] <= 0x5F) {
        pops[pop_count++] = b[at] - 0x58;
        at += 1;
      } else if (at + 1 < n && b[at] == 0x41 && b[at + 1] >= 0x58 && b[at + 1] <= 0x5F) {
        pops[pop_count++] = 8 + b[at + 1] - 0x58;
        at += 2;
      } else {
        break;
      }
    }
    if (!EndsEpilog(b + at, n - at, ip_rva + static_cast<uint32_t>(at), function)) return false;
    Registers saved = regs_;
    regs_ = after;
    for (int i = 0; i < pop_count; ++i) {
      if (!Pop(pops[i])) {
        regs_ = saved;
        return false;
      }
    }
    if (!Return()) {
      regs_ = saved;
      return false;
    }
    return true;
  }

  // "ret", "rep ret", "ret n", or a jump whose target lies outside the function.
  static bool EndsEpilog(const uint8_t* b, size_t n, uint32_t rva, const RuntimeFunction& function) {
    if (n >= 1 && b[0] == 0xC3) return true;
    if (n >= 2 && b[0] == 0xF3 && b[1] == 0xC3) return true;
    if (n >= 3 && b[0] == 0xC2) return true;
    int64_t target;
    if (n >= 5 && b[0] == 0xE9) {
      int32_t rel;
      std::memcpy(&rel, b + 1, 4);
      target = int64_t{rva} + 5 + rel;
    } else if (n >= 2 && b[0] == 0xEB) {
      target = int64_t{rva} + 2 + static_cast<int8_t>(b[1]);
    } else {
      // jmp [rip + disp32], with or without REX.W: an import's tail call.
      size_t rex = n >= 1 && b[0] == 0x48 ? 1 : 0;
      return n >= rex + 6 && b[rex] == 0xFF && b[rex + 1] == 0x25;
    }
    return target < function.begin || target >= function.end;
  }

  const UnwindInput& in_;
  Registers regs_;
  std::string* problem_;
};

}  // namespace

bool UnwindX64(const UnwindInput& input, const RuntimeFunction& function, Registers* regs, bool* machine_frame,
               std::string* problem) {
  Registers result;
  if (!FrameUnwinder(input, regs, problem).Run(function, &result, machine_frame)) return false;
  *regs = result;
  return true;
}

bool UnwindX64Leaf(const ProcessMemory& memory, Registers* regs) {
  uint64_t ip;
  if (!memory.ReadPointer(regs->gpr[kSp], 8, &ip)) return false;
  regs->ip = ip;
  regs->gpr[kSp] += 8;
  return true;
}

}  // namespace collector
