#include "crashcapture/crash_worker_win.h"

#include "crashcapture/crash_exit_win.h"
#include "crashcapture/crash_filter_win.h"
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
// Committed at once, all but the top frames and the bottom pages the system keeps for its guard
// page and for dispatching an overflow: a stack that grows at the crash needs memory the game may
// have used up by then.
constexpr SIZE_T kCommittedStack = kWorkerStackSize - 64 * 1024;
constexpr SIZE_T kPageSize = 4096;
// As long as Init waits for the watchdog: a DllMain that sleeps holds the new thread's start.
constexpr DWORD kWorkerStartMs = 2000;

// One frame as large as the stack to commit: the compiler's stack probe commits it page by page
// from the top, as the guard-page mechanism wants; the writes keep it from being optimised away.
__attribute__((noinline)) char CommitWorkerStack() {
  volatile char frame[kCommittedStack];
  for (SIZE_T i = 0; i < kCommittedStack; i += kPageSize) frame[i] = 0;
  return frame[0];
}

void Nothing(void*) {}

// Everything the worker calls at the crash that could take a lock or allocate the first time a
// thread calls it: Winsock keeps per-thread data, made on a thread's first call (the crash socket
// is opened from here for that reason).
void PrepareWorker() {
  CommitWorkerStack();
  g_crash_state.transport->prepare_crash_socket();
  RunGuarded(Nothing, nullptr);
  PrepareThreadFreeze();
}

void FreezeStep(void* module) {
  FreezeOtherThreads(static_cast<VXException*>(module), CrashWatchdogThreadId(),
                     g_crash_state.CrashThreadId);
}

[[noreturn]] void DoCrashWork(EXCEPTION_POINTERS* exception, bool freeze) {
  NoteCrashProgress();
  VXException* module = g_crash_state.module;
  module->Trace("CrashDumpThreadProc Start");
  SetUnhandledExceptionFilter(SilentExceptionFilter);
  module->Trace("SetUnhandledExceptionFilter ok");
  // The earliest report goes here: before anything that can wait on a lock.
  SendCrashSummary(exception, g_crash_state.CrashThreadId);
  if (freeze) {
    RunGuarded(FreezeStep, module);
    NoteCrashProgress();
    g_crash_state.transport->use_crash_socket();
  }
  module->DumpProgram(kCrashDump, exception, 0);
  module->Trace("DumpProgram ok");
  module->Trace("CrashDumpThreadProc Finish\n\n");
  // DumpProgram ends the process itself when it gets to the end; it returned, so it failed (no
  // dump file, or a fault inside). A crashed game must not stay behind with its threads frozen.
  ExitCrashedProcess(nullptr);
}

DWORD WINAPI SleepingWorkerProc(LPVOID) {
  PrepareWorker();
  SetEvent(g_crash_state.worker_ready);
  WaitForSingleObject(g_crash_state.worker_wake, INFINITE);
  DoCrashWork(g_crash_state.crash_exception, true);
}

}  // namespace

bool StartCrashWorker() {
  CrashState& crash = g_crash_state;
  if (crash.worker_thread != nullptr) return WaitForSingleObject(crash.worker_ready, 0) == WAIT_OBJECT_0;
  crash.worker_wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  crash.worker_ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!crash.worker_wake || !crash.worker_ready) return false;
  DWORD id = 0;
  HANDLE worker = CreateThread(nullptr, kWorkerStackSize, SleepingWorkerProc, nullptr,
                               STACK_SIZE_PARAM_IS_A_RESERVATION, &id);
  if (!worker) return false;
  // Kept open for the process's life: the watchdog reads the worker's CPU time through it.
  crash.worker_id = id;
  crash.worker_thread = worker;
  return WaitForSingleObject(crash.worker_ready, kWorkerStartMs) == WAIT_OBJECT_0;
}

bool WakeCrashWorker(EXCEPTION_POINTERS* exception) {
  CrashState& crash = g_crash_state;
  // A worker still stuck in its start (behind a DllMain) would never get to the report.
  if (crash.worker_thread == nullptr || WaitForSingleObject(crash.worker_ready, 0) != WAIT_OBJECT_0) {
    return false;
  }
  crash.crash_exception = exception;
  return SetEvent(crash.worker_wake) != 0;
}

DWORD WINAPI CrashDumpThreadProc(LPVOID exception) {
  g_crash_state.worker_id = GetCurrentThreadId();
  DoCrashWork(static_cast<EXCEPTION_POINTERS*>(exception), false);
}

bool StartWorkerAtTheFault(EXCEPTION_POINTERS* exception) {
  HANDLE worker = CreateThread(nullptr, kWorkerStackSize, CrashDumpThreadProc, exception,
                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  g_crash_state.worker_thread = worker;
  return worker != nullptr;
}
