#include "stack_walker.h"

#include <string>

#include "x64_unwind.h"

namespace collector {
namespace {

class Walker {
 public:
  explicit Walker(const WalkInput& input) : in_(input), pointer_(PointerSize(input.cpu)) {}

  std::vector<WalkedFrame> Run(const Registers& context) {
    std::vector<WalkedFrame> frames;
    if (in_.max_frames == 0) return frames;
    frames.push_back(WalkedFrame{context.ip, FrameTrust::kContext, false});
    Registers regs = context;
    bool after_call = false;
    while (frames.size() < in_.max_frames) {
      Registers caller = regs;
      FrameTrust trust;
      bool caller_after_call = true;
      if (!Step(regs, after_call, &caller, &trust, &caller_after_call)) break;
      if (caller.ip == 0) break;  // the outermost frame: a thread's start routine returns to nothing
      frames.push_back(WalkedFrame{caller.ip, trust, caller_after_call});
      regs = caller;
      after_call = caller_after_call;
    }
    return frames;
  }

 private:
  // The caller of the frame `regs`, by the best means that works.
  bool Step(const Registers& regs, bool after_call, Registers* caller, FrameTrust* trust, bool* caller_after_call) {
    if (in_.cpu == Cpu::kAmd64 && UnwindWithTables(regs, after_call, caller, caller_after_call)) {
      *trust = FrameTrust::kUnwindInfo;
      return true;
    }
    if (in_.cpu == Cpu::kX86 && FollowFramePointer(regs, caller)) {
      *trust = FrameTrust::kFramePointer;
      return true;
    }
    *caller_after_call = true;
    *trust = FrameTrust::kScan;
    return Scan(regs, caller);
  }

  // A caller's frame must lie above its callee's, and a return address must be in code.
  bool Plausible(const Registers& regs, const Registers& caller) const {
    if (caller.sp() <= regs.sp()) return false;
    return caller.ip == 0 || in_.modules->InCode(caller.ip);
  }

  bool UnwindWithTables(const Registers& regs, bool after_call, Registers* caller, bool* caller_after_call) {
    int index = in_.modules->Find(regs.ip);
    if (index < 0 || !in_.modules->at(index).image) return false;
    const MappedModule& module = in_.modules->at(index);
    // A return address may lie just past the end of a function that ends with a call.
    uint64_t lookup = regs.ip - (after_call ? 1 : 0);
    if (lookup < module.base) return false;
    RuntimeFunction function;
    Registers unwound = regs;
    bool machine_frame = false;
    if (module.image->FindFunction(static_cast<uint32_t>(lookup - module.base), &function)) {
      UnwindInput input{module.image, module.base, in_.memory, !after_call};
      std::string problem;
      if (!UnwindX64(input, function, &unwound, &machine_frame, &problem)) return false;
    } else if (after_call || !UnwindX64Leaf(*in_.memory, &unwound)) {
      // Only the innermost frame can be a leaf: a caller made a call, so it has an entry.
      return false;
    }
    if (!Plausible(regs, unwound)) return false;
    *caller = unwound;
    *caller_after_call = !machine_frame;
    return true;
  }

  // The i686 frame: [ebp] holds the caller's ebp and [ebp + 4] the return address, so the
  // caller's esp is ebp + 8.
  bool FollowFramePointer(const Registers& regs, Registers* caller) {
    uint64_t fp = regs.fp();
    uint64_t saved_fp = 0, ret = 0;
    if (fp < regs.sp() || !in_.memory->ReadPointer(fp, pointer_, &saved_fp) ||
        !in_.memory->ReadPointer(fp + pointer_, pointer_, &ret)) {
      return false;
    }
    Registers next = regs;
    next.ip = ret;
    next.gpr[kSp] = fp + 2 * pointer_;
    next.gpr[kBp] = saved_fp;
    if (!Plausible(regs, next) || (ret != 0 && !in_.modules->FollowsCall(ret))) return false;
    *caller = next;
    return true;
  }

  // The first word at or above the stack pointer that points into a module's code just after a
  // call; the caller's stack pointer is then just above that word.
  bool Scan(const Registers& regs, Registers* caller) {
    uint64_t at = regs.sp();
    for (size_t i = 0; i < kScanWordsPerFrame && scanned_ < kMaxScanWords; ++i, ++scanned_, at += pointer_) {
      uint64_t value = 0;
      if (!in_.memory->ReadPointer(at, pointer_, &value)) return false;  // the end of the stack in the dump
      if (in_.modules->InCode(value) && in_.modules->FollowsCall(value)) {
        *caller = regs;
        caller->ip = value;
        caller->gpr[kSp] = at + pointer_;
        ++scanned_;
        return true;
      }
    }
    return false;
  }

  const WalkInput& in_;
  int pointer_;
  size_t scanned_ = 0;
};

}  // namespace

std::vector<WalkedFrame> WalkStack(const WalkInput& input, const Registers& context) {
  if (input.cpu == Cpu::kUnknown || !input.memory || !input.modules) return {};
  return Walker(input).Run(context);
}

}  // namespace collector
