// Guarded regions on Windows: each RunGuarded call is a frame with a structured exception
// handler of its own (GuardCall and GuardFrameHandler, one pair per processor), so a region is
// found the way __try/__except is: after every handler that code inside it installed, and only on
// the thread and stack that faulted. Here: which exceptions a region takes, the call itself, and
// what a stack overflow leaves to repair.
//
// No process-wide hook is involved: nothing to install before the first region, nothing left
// behind in the process when the library is unloaded, and no thread slot to read at fault time.
#include <windows.h>

#include "guard/guard.h"
#include "guard/guard_frame_win.h"

namespace {

// The exceptions a processor raises for a faulting instruction. Everything else is somebody
// else's: breakpoints and single steps (debuggers), DBG_PRINTEXCEPTION_C and its wide form
// (OutputDebugString), C++ throws (MSVC 0xE06D7363, GCC 0x20474343), the module's 0xFFFF0002,
// and any other code a program raises on purpose.
constexpr DWORD kGuardedFaults[] = {
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

// A C++ exception thrown by fn leaves GuardCall through the C++ unwinder, not through GuardCall's
// own exit: the handler chain is put back on the way out of RunGuarded.
class HandlerChainScope {
 public:
  explicit HandlerChainScope(const GuardFrame* frame) : frame_(frame) {}
  ~HandlerChainScope() { RestoreHandlerChain(frame_); }
  HandlerChainScope(const HandlerChainScope&) = delete;
  HandlerChainScope& operator=(const HandlerChainScope&) = delete;

 private:
  const GuardFrame* frame_;
};

}  // namespace

bool IsGuardedFault(DWORD code) {
  for (DWORD owned : kGuardedFaults) {
    if (owned == code) return true;
  }
  return false;
}

bool RunGuarded(GuardedFn fn, void* arg, uint32_t* exception_code) {
  if (exception_code != nullptr) *exception_code = 0;
  GuardFrame frame = {};
  int returned;
  {
    HandlerChainScope chain(&frame);
    returned = GuardCall(&frame, fn, arg);
  }
  if (returned) return true;
  if (exception_code != nullptr) *exception_code = frame.exception_code;
  if (frame.exception_code == EXCEPTION_STACK_OVERFLOW) RearmStackGuard();
  return false;
}
