// The per-thread recovery frame of a guarded region, shared by RunGuarded and the GuardCall
// trampolines of each processor. The trampolines address the fields by offset, so the layout is
// fixed here and checked.
#pragma once

#include <cstddef>
#include <cstdint>

#include "guard/guard.h"

struct GuardFrame {
  GuardFrame* prev;         // the enclosing region of this thread, or null
  uintptr_t resume_sp;      // stack pointer inside GuardCall, after its saved registers
  uintptr_t resume_ip;      // GuardCall's recovery point, which returns 0
  uintptr_t seh_head;       // i686: fs:[0] at entry; the faulting frames' records are abandoned
  uint32_t exception_code;  // the fault that ended the region, 0 while it runs
  uint32_t fp_control;      // i686: x87 control word at entry; x86_64: MXCSR
};

// Offsets the trampolines use: prev, sp, ip and the SEH head are pointer-sized in that order.
static_assert(offsetof(GuardFrame, resume_sp) == 1 * sizeof(void*), "GuardCall layout");
static_assert(offsetof(GuardFrame, resume_ip) == 2 * sizeof(void*), "GuardCall layout");
static_assert(offsetof(GuardFrame, seh_head) == 3 * sizeof(void*), "GuardCall layout");
static_assert(offsetof(GuardFrame, exception_code) == 4 * sizeof(void*), "GuardCall layout");
static_assert(offsetof(GuardFrame, fp_control) == 4 * sizeof(void*) + 4, "GuardCall layout");

// Saves the callee-saved registers and the recovery point into frame, then calls fn(arg).
// Returns 1 when fn returns, and 0 when the guard's handler resumes it at the recovery point
// with the stack pointer of frame->resume_sp.
extern "C" int GuardCall(GuardFrame* frame, GuardedFn fn, void* arg);
