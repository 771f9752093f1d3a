// Guarded regions on Windows: a vectored exception handler and a per-thread stack of recovery
// frames (GuardFrame, on the stack of each RunGuarded call, linked through a TLS slot).
//
// The handler owns only hardware faults raised while the faulting thread is inside a region.
// It recovers by pointing the faulting context at the innermost frame's recovery point and
// continuing execution there; GuardCall then returns 0 into RunGuarded. The handler runs on the
// faulting thread's stack, possibly at the end of a stack overflow, and possibly while the crash
// path holds every other thread suspended: it reads one TLS slot and writes one context, and
// takes no lock, allocates nothing and calls nothing that could.
#include <windows.h>

#include "guard/guard.h"
#include "guard/guard_frame_win.h"

namespace {

// The exceptions a processor raises for a faulting instruction. Everything else is somebody
// else's: breakpoints and single steps (debuggers), DBG_PRINTEXCEPTION_C and its wide form
// (OutputDebugString), C++ throws (MSVC 0xE06D7363, GCC 0x20474343), the module's 0xFFFF0002,
// and any other code a program raises on purpose.
constexpr DWORD kOwnedFaults[] = {
    EXCEPTION_ACCESS_VIOLATION,       EXCEPTION_IN_PAGE_ERROR,
    EXCEPTION_DATATYPE_MISALIGNMENT,  EXCEPTION_ARRAY_BOUNDS_EXCEEDED,
    EXCEPTION_ILLEGAL_INSTRUCTION,    EXCEPTION_PRIV_INSTRUCTION,
    EXCEPTION_INT_DIVIDE_BY_ZERO,     EXCEPTION_INT_OVERFLOW,
    EXCEPTION_FLT_DENORMAL_OPERAND,   EXCEPTION_FLT_DIVIDE_BY_ZERO,
    EXCEPTION_FLT_INEXACT_RESULT,     EXCEPTION_FLT_INVALID_OPERATION,
    EXCEPTION_FLT_OVERFLOW,           EXCEPTION_FLT_STACK_CHECK,
    EXCEPTION_FLT_UNDERFLOW,          EXCEPTION_STACK_OVERFLOW,
    0xC00002B4u,  // STATUS_FLOAT_MULTIPLE_FAULTS: SSE faults
    0xC00002B5u,  // STATUS_FLOAT_MULTIPLE_TRAPS: SSE traps
};

constexpr DWORD kDirectionFlag = 0x400;  // EFLAGS.DF, which the calling convention requires clear

constexpr LONG kSetupNone = 0;
constexpr LONG kSetupBusy = 1;
constexpr LONG kSetupReady = 2;
constexpr LONG kSetupFailed = 3;

volatile LONG g_setup_state = kSetupNone;
DWORD g_frame_slot = TLS_OUT_OF_INDEXES;

bool IsOwnedFault(DWORD code) {
  for (DWORD owned : kOwnedFaults) {
    if (owned == code) return true;
  }
  return false;
}

void ResumeAt(CONTEXT* context, const GuardFrame* frame) {
#if defined(__x86_64__)
  context->Rsp = frame->resume_sp;
  context->Rip = frame->resume_ip;
#else
  context->Esp = frame->resume_sp;
  context->Eip = frame->resume_ip;
#endif
  context->EFlags &= ~kDirectionFlag;
}

uintptr_t StackPointerOf(const CONTEXT* context) {
#if defined(__x86_64__)
  return context->Rsp;
#else
  return context->Esp;
#endif
}

LONG CALLBACK GuardHandler(EXCEPTION_POINTERS* pointers) {
  const DWORD code = pointers->ExceptionRecord->ExceptionCode;
  if (!IsOwnedFault(code)) return EXCEPTION_CONTINUE_SEARCH;
  // TlsGetValue clears the thread's last error; the host's filter or a dump may want it.
  const DWORD last_error = GetLastError();
  GuardFrame* frame = static_cast<GuardFrame*>(TlsGetValue(g_frame_slot));
  SetLastError(last_error);
  // A frame above the faulting stack pointer is one this fault unwinds into; anything else (a
  // fault on a fiber or an alternate stack) is not ours to end.
  if (frame == nullptr || StackPointerOf(pointers->ContextRecord) >= frame->resume_sp) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  frame->exception_code = code;
  ResumeAt(pointers->ContextRecord, frame);
  return EXCEPTION_CONTINUE_EXECUTION;
}

// Once per process, from whichever thread gets here first. The library's static objects enter
// regions while the DLL loads, before any static initialiser of this file could be relied on.
bool EnsureSetup() {
  for (;;) {
    const LONG state = InterlockedCompareExchange(&g_setup_state, kSetupBusy, kSetupNone);
    if (state == kSetupReady) return true;
    if (state == kSetupFailed) return false;
    if (state == kSetupBusy) {
      Sleep(0);
      continue;
    }
    // We won the race: first the slot, then the handler that reads it.
    g_frame_slot = TlsAlloc();
    bool ready = g_frame_slot != TLS_OUT_OF_INDEXES;
    // First in the list, so that a host's own vectored handler does not see our faults first.
    if (ready && AddVectoredExceptionHandler(1, GuardHandler) == nullptr) ready = false;
    InterlockedExchange(&g_setup_state, ready ? kSetupReady : kSetupFailed);
    return ready;
  }
}

// A stack overflow consumes the thread's guard page. Put a new one below the committed part of
// the stack, so that a second overflow is again an exception and not the end of the process.
// Mirrors what the C runtime's _resetstkoflw does; silently gives up when no room is left.
void RearmStackGuard() {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const uintptr_t page = system.dwPageSize;
  MEMORY_BASIC_INFORMATION region;
  if (VirtualQuery(&region, &region, sizeof region) == 0) return;
  const uintptr_t base = reinterpret_cast<uintptr_t>(region.AllocationBase);
  const uintptr_t here = reinterpret_cast<uintptr_t>(&region) & ~(page - 1);
  // The lowest committed page of the stack allocation.
  uintptr_t lowest = base;
  while (lowest < here) {
    if (VirtualQuery(reinterpret_cast<void*>(lowest), &region, sizeof region) == 0) return;
    if (region.State == MEM_COMMIT) break;
    lowest += region.RegionSize;
  }
  if (region.State == MEM_COMMIT && (region.Protect & PAGE_GUARD)) return;
  // Leave the bottom pages for the dispatcher of the next overflow, and one page below us.
  constexpr uintptr_t kReservedPages = 3;
  uintptr_t guard = lowest;
  if (guard < base + kReservedPages * page) guard = base + kReservedPages * page;
  if (guard + page >= here) return;
  VirtualAlloc(reinterpret_cast<void*>(guard), page, MEM_COMMIT, PAGE_READWRITE | PAGE_GUARD);
}

// Pops the frame however RunGuarded is left, also when a C++ exception thrown by fn passes
// through: a frame left in the slot would send the next fault into a dead stack.
class FrameScope {
 public:
  explicit FrameScope(GuardFrame* frame) : frame_(frame) {
    frame_->prev = static_cast<GuardFrame*>(TlsGetValue(g_frame_slot));
    TlsSetValue(g_frame_slot, frame_);
  }
  ~FrameScope() { TlsSetValue(g_frame_slot, frame_->prev); }
  FrameScope(const FrameScope&) = delete;
  FrameScope& operator=(const FrameScope&) = delete;

 private:
  GuardFrame* frame_;
};

}  // namespace

bool RunGuarded(GuardedFn fn, void* arg, uint32_t* exception_code) {
  if (exception_code != nullptr) *exception_code = 0;
  if (!EnsureSetup()) {
    // No slot or no handler: the work still runs, only without protection.
    fn(arg);
    return true;
  }
  GuardFrame frame = {};
  int returned;
  {
    FrameScope scope(&frame);
    returned = GuardCall(&frame, fn, arg);
  }
  if (returned) return true;
  if (exception_code != nullptr) *exception_code = frame.exception_code;
  if (frame.exception_code == EXCEPTION_STACK_OVERFLOW) RearmStackGuard();
  return false;
}
