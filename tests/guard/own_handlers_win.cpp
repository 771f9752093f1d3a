// The handlers that the assembly helpers name; the same C code serves both processors, whose
// dispatchers call a frame's handler with the same four arguments.
#include "tests/guard/own_handlers_win.h"

HandlerCalls g_declining_calls;
OuterHandlerFn g_outer_handler;

namespace {

constexpr DWORD kUnwindingFlags = EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND;

}  // namespace

extern "C" {

// The first instruction after FaultRepairedByOwnHandler's faulting store.
extern char FaultRepairedResume[];

EXCEPTION_DISPOSITION RepairingHandler(EXCEPTION_RECORD* record, void*, CONTEXT* context, void*) {
  if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || (record->ExceptionFlags & kUnwindingFlags)) {
    return ExceptionContinueSearch;
  }
  InstructionPointer(context) = reinterpret_cast<uintptr_t>(FaultRepairedResume);
  ResultRegister(context) = kRepairedMark;
  return ExceptionContinueExecution;
}

EXCEPTION_DISPOSITION DecliningHandler(EXCEPTION_RECORD* record, void*, CONTEXT*, void*) {
  if (record->ExceptionFlags & kUnwindingFlags) {
    ++g_declining_calls.unwind;
  } else {
    ++g_declining_calls.search;
  }
  return ExceptionContinueSearch;
}

EXCEPTION_DISPOSITION OuterHandler(EXCEPTION_RECORD* record, void*, CONTEXT* context, void*) {
  if (g_outer_handler == nullptr || (record->ExceptionFlags & kUnwindingFlags)) return ExceptionContinueSearch;
  return g_outer_handler(record, context);
}

}  // extern "C"
