#include "crashcapture/crash_exit_win.h"

#include <cstdio>

#include "crashcapture/crash_state_win.h"
#include "crashcapture/crash_watchdog_win.h"
#include "guard/guard.h"

namespace {

constexpr ULONG kLoaderLockTryOnly = 0x2;  // LDR_LOCK_LOADER_LOCK_FLAG_TRY_ONLY
constexpr ULONG kLoaderLockAcquired = 1;   // LDR_LOCK_LOADER_LOCK_DISPOSITION_LOCK_ACQUIRED
constexpr DWORD kMaxProbedHeaps = 64;

void CallExitHook(void* hook) { reinterpret_cast<ExitHook>(hook)(); }

// The loader lock can be tried without waiting. It stays taken: ExitProcess takes it again on
// this same thread, and no thread started from now on can get into a DLL's code half-way.
bool TakeLoaderLock() {
  if (!g_crash_state.lock_loader) return true;
  ULONG disposition = 0;
  ULONG_PTR cookie = 0;
  LONG status = g_crash_state.lock_loader(kLoaderLockTryOnly, &disposition, &cookie);
  return status < 0 || disposition == kLoaderLockAcquired;
}

// These locks have no try form. Taking and leaving each one here blocks only if a frozen thread
// holds it, and then the watchdog, still alive, ends the process. A lock that is free now stays
// free: every thread that could take it is frozen.
void ProbeBlockingLocks() {
  const CrashState& crash = g_crash_state;
  if (crash.acquire_peb_lock && crash.release_peb_lock) {
    crash.acquire_peb_lock();
    crash.release_peb_lock();
    NoteCrashProgress();
  }
  HANDLE heaps[kMaxProbedHeaps];
  DWORD count = GetProcessHeaps(kMaxProbedHeaps, heaps);
  if (count > kMaxProbedHeaps) {
    heaps[0] = GetProcessHeap();
    count = 1;
  }
  for (DWORD i = 0; i < count; ++i) {
    if (HeapLock(heaps[i])) HeapUnlock(heaps[i]);
    NoteCrashProgress();
  }
  FILE* streams[] = {stdout, stderr};
  for (FILE* stream : streams) {
    _lock_file(stream);
    _unlock_file(stream);
    NoteCrashProgress();
  }
}

}  // namespace

void ExitCrashedProcess(ExitHook exit_hook) {
  NoteCrashProgress();
  if (exit_hook) {
    RunGuarded(CallExitHook, reinterpret_cast<void*>(exit_hook));
    NoteCrashProgress();
  }
  EndUserWindow();
  if (!TakeLoaderLock()) BailOutOfCrash();
  ProbeBlockingLocks();
  ExitProcess(1);
}
