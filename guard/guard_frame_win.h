// The recovery frame of a guarded region, shared by RunGuarded and the GuardCall trampoline and
// frame handler of each processor. The trampolines address the fields by offset, so the layout is
// fixed here and checked.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "guard/guard.h"

struct GuardFrame {
  uintptr_t resume_sp;      // i686: GuardCall's stack pointer at its recovery point
  uintptr_t resume_ip;      // GuardCall's recovery point, which returns 0
  uintptr_t seh_head;       // i686: fs:[0] at entry, put back however GuardCall is left
  uint32_t exception_code;  // the fault that ended the region, 0 while it runs
  uint32_t fp_control;      // i686: x87 control word at entry; x86_64: MXCSR
};

// Offsets the trampolines use: sp, ip and the SEH head are pointer-sized in that order.
static_assert(offsetof(GuardFrame, resume_ip) == 1 * sizeof(void*), "GuardCall layout");
static_assert(offsetof(GuardFrame, seh_head) == 2 * sizeof(void*), "GuardCall layout");
static_assert(offsetof(GuardFrame, exception_code) == 3 * sizeof(void*), "GuardCall layout");
static_assert(offsetof(GuardFrame, fp_control) == 3 * sizeof(void*) + 4, "GuardCall layout");

// Saves the callee-saved registers and the recovery point into frame, makes GuardFrameHandler the
// handler of its own frame, then calls fn(arg). Returns 1 when fn returns, and 0 when the handler
// has ended the region at the recovery point.
extern "C" int GuardCall(GuardFrame* frame, GuardedFn fn, void* arg);

// Whether code is one of the faults a processor raises for an instruction, the only exceptions a
// region takes.
bool IsGuardedFault(DWORD code);

// Puts the thread's handler chain back as it was before GuardCall, for a C++ exception that left
// GuardCall without passing its own exit. Nothing to do where handlers live in unwind data.
void RestoreHandlerChain(const GuardFrame* frame);
