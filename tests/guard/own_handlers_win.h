// Frame-based exception handlers of the kind a host, a driver or the system installs itself, for
// running inside and around guarded regions. Each helper function is written in assembly for its
// processor (own_handler_frames_*_win.cpp), because MinGW's g++ has no __try: on x86_64 the handler
// is named in the function's unwind data, on i686 the function pushes a record onto fs:[0].
#pragma once

#include <windows.h>

#include "guard/guard.h"

// What RepairingHandler leaves in the result register once it has repaired the fault.
constexpr int kRepairedMark = 0x600D;

extern "C" {

// Stores to address 0 under a handler of its own that repairs the fault (skips the store) and
// continues: returns kRepairedMark when its handler saw the fault first, 0 when it never ran.
int FaultRepairedByOwnHandler();

// Stores to address 0 under a handler of its own that declines every exception and counts how it
// was called (g_declining_calls).
void FaultUnderDecliningHandler(void* unused);

// Calls fn(arg) under a handler that gives every exception to g_outer_handler, or declines it when
// that is null: an observer of what leaves a region.
void CallUnderOuterHandler(GuardedFn fn, void* arg);

}  // extern "C"

struct HandlerCalls {
  int search;  // calls while the dispatcher looked for a handler
  int unwind;  // calls while a handler further out unwound the stack through this frame
};
extern HandlerCalls g_declining_calls;

typedef EXCEPTION_DISPOSITION (*OuterHandlerFn)(EXCEPTION_RECORD* record, CONTEXT* context);
extern OuterHandlerFn g_outer_handler;

// The instruction pointer and the result register (rax, eax) of a context.
#if defined(__x86_64__)
inline DWORD64& InstructionPointer(CONTEXT* context) { return context->Rip; }
inline DWORD64& ResultRegister(CONTEXT* context) { return context->Rax; }
#else
inline DWORD& InstructionPointer(CONTEXT* context) { return context->Eip; }
inline DWORD& ResultRegister(CONTEXT* context) { return context->Eax; }
#endif
