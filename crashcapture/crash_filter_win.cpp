// The top-level exception filter and the filter the crash worker puts in its place.
#include "crashcapture/crash_filter_win.h"

#include "crashcapture/crash_exit_win.h"
#include "crashcapture/crash_state_win.h"
#include "crashcapture/crash_watchdog_win.h"
#include "crashcapture/crash_worker_win.h"
#include "crashcapture/thread_freeze_win.h"
#include "crashmodule/vx_exception.h"
#include "guard/guard.h"

namespace {

void FreezeStep(void* module) {
  FreezeOtherThreads(static_cast<VXException*>(module), CrashWatchdogThreadId(), 0);
}

// No worker was prepared at Init (it never ran, or the worker could not be made): the fault's own
// thread freezes the others and starts one, as best it can.
void StartWorkerHere(EXCEPTION_POINTERS* exception) {
  CrashState& crash = g_crash_state;
  VXException* module = crash.module;
  RunGuarded(FreezeStep, module);
  crash.transport->use_crash_socket();
  NoteCrashProgress();
  if (!StartWorkerAtTheFault(exception)) ExitCrashedProcess(nullptr);
  module->Trace("CreateThread CrashDumpThreadProc ok");
}

}  // namespace

void ParkThisThread() {
  for (;;) {
    SuspendThread(GetCurrentThread());
    Sleep(INFINITE);
  }
}

// Runs on the faulting thread, possibly one whose stack has just overflowed: it does as little as
// it can and leaves the rest to the worker, whose stack is its own.
LONG WINAPI VXExceptionUnhandledExceptionFilter(EXCEPTION_POINTERS* exception) {
  CrashState& crash = g_crash_state;
  // Two threads that fault at the same moment would otherwise freeze each other and start two
  // workers writing the same files.
  if (InterlockedExchange(&crash.claimed, 1) != 0) ParkThisThread();
  bool watched = BeginCrashWatch();
  crash.CrashThreadId = GetCurrentThreadId();
  if (!WakeCrashWorker(exception)) StartWorkerHere(exception);
  // No watchdog thread was prepared: this thread never returns anyway, so it watches instead of
  // suspending itself for good.
  if (!watched) WatchCrash();
  SuspendThread(GetCurrentThread());
  crash.module->Trace("VXExceptionUnhandledExceptionFilter Finish");
  return EXCEPTION_EXECUTE_HANDLER;
}

// Once the worker runs, a fault anywhere must not start a second capture, nor end the process
// before the report is out: a thread the snapshot missed that faults is parked, and the report
// goes on. A fault of the worker itself outside DumpProgram's guard ends the process with the
// crash path's exit code.
LONG WINAPI SilentExceptionFilter(EXCEPTION_POINTERS*) {
  if (GetCurrentThreadId() != g_crash_state.worker_id) ParkThisThread();
  BailOutOfCrash();
}
