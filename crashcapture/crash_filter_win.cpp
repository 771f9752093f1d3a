// The top-level exception filter, the crash worker thread and the filter that replaces the first.
#include "crashcapture/crash_filter_win.h"

#include "crashcapture/crash_exit_win.h"
#include "crashcapture/crash_state_win.h"
#include "crashcapture/crash_summary_win.h"
#include "crashcapture/crash_watchdog_win.h"
#include "crashcapture/thread_freeze_win.h"
#include "crashmodule/vx_exception.h"
#include "guard/guard.h"

namespace {

// The worker's own stack reservation rather than the host's default, which a game may have made
// small: the send alone puts the 64 KiB datagram and its hex echo on the stack.
constexpr SIZE_T kWorkerStackSize = 1024 * 1024;

void FreezeStep(void* module) {
  FreezeOtherThreads(static_cast<VXException*>(module), CrashWatchdogThreadId());
}

}  // namespace

void ParkThisThread() {
  for (;;) {
    SuspendThread(GetCurrentThread());
    Sleep(INFINITE);
  }
}

// Runs on the faulting thread, possibly one whose stack has just overflowed: the locals here stay
// small, and the snapshot walk lives in its own function.
LONG WINAPI VXExceptionUnhandledExceptionFilter(EXCEPTION_POINTERS* exception) {
  CrashState& crash = g_crash_state;
  // Two threads that fault at the same moment would otherwise freeze each other and start two
  // workers writing the same files.
  if (InterlockedExchange(&crash.claimed, 1) != 0) ParkThisThread();
  bool watched = BeginCrashWatch();
  VXException* module = crash.module;
  RunGuarded(FreezeStep, module);
  crash.transport->use_crash_socket();
  crash.CrashThreadId = GetCurrentThreadId();
  NoteCrashProgress();

  HANDLE worker = CreateThread(nullptr, kWorkerStackSize, CrashDumpThreadProc, exception,
                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (!worker) ExitCrashedProcess(nullptr);
  module->Trace("CreateThread CrashDumpThreadProc ok");
  if (!watched) {
    // No watchdog thread was prepared: this thread never returns anyway, so it watches instead of
    // suspending itself for good.
    CloseHandle(worker);
    WatchCrash();
  }
  CloseHandle(worker);
  SuspendThread(GetCurrentThread());
  module->Trace("VXExceptionUnhandledExceptionFilter Finish");
  return EXCEPTION_EXECUTE_HANDLER;
}

DWORD WINAPI CrashDumpThreadProc(LPVOID exception) {
  g_crash_state.worker_id = GetCurrentThreadId();
  NoteCrashProgress();
  SendCrashSummary(static_cast<EXCEPTION_POINTERS*>(exception), g_crash_state.CrashThreadId);
  VXException* module = g_crash_state.module;
  module->Trace("CrashDumpThreadProc Start");
  SetUnhandledExceptionFilter(SilentExceptionFilter);
  module->Trace("SetUnhandledExceptionFilter ok");
  module->DumpProgram(kCrashDump, static_cast<EXCEPTION_POINTERS*>(exception), 0);
  module->Trace("DumpProgram ok");
  module->Trace("CrashDumpThreadProc Finish\n\n");
  // DumpProgram ends the process itself when it gets to the end; it returned, so it failed (no
  // dump file, or a fault inside). A crashed game must not stay behind with its threads frozen.
  ExitCrashedProcess(nullptr);
}

// Once the worker runs, a fault anywhere must not start a second capture, nor end the process
// before the report is out: a thread the snapshot missed that faults is parked, and the report
// goes on. A fault of the worker itself outside DumpProgram's guard ends the process with the
// crash path's exit code.
LONG WINAPI SilentExceptionFilter(EXCEPTION_POINTERS*) {
  if (GetCurrentThreadId() != g_crash_state.worker_id) ParkThisThread();
  BailOutOfCrash();
}
