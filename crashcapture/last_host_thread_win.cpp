#include "crashcapture/last_host_thread_win.h"

#include "crashcapture/crash_capture.h"
#include "crashcapture/crash_state_win.h"

namespace {

DWORD ThreadIdOf(HANDLE thread) {
  ThreadBasicInformation info = {};
  if (g_crash_state.query_thread(thread, kThreadBasicInformation, &info, sizeof info, nullptr) < 0) {
    return 0;
  }
  return DWORD(reinterpret_cast<ULONG_PTR>(info.thread_id));
}

bool IsLibraryThread(DWORD id) {
  return id == g_crash_state.watchdog_id || id == g_crash_state.worker_id;
}

}  // namespace

bool HostThreadsRemain(DWORD except_thread) {
  const CrashState& crash = g_crash_state;
  if (!crash.next_thread || !crash.query_thread) return true;
  // A walk over this process's threads only; a Toolhelp snapshot would list the whole system's on
  // every thread's end.
  HANDLE thread = nullptr;
  HANDLE next = nullptr;
  bool remain = false;
  while (!remain && crash.next_thread(GetCurrentProcess(), thread, THREAD_QUERY_INFORMATION | SYNCHRONIZE,
                                      0, 0, &next) >= 0) {
    if (thread) CloseHandle(thread);
    thread = next;
    if (WaitForSingleObject(thread, 0) == WAIT_OBJECT_0) continue;  // ended, not yet gone
    DWORD id = ThreadIdOf(thread);
    remain = id == 0 || (id != except_thread && !IsLibraryThread(id));
  }
  if (thread) CloseHandle(thread);
  return remain;
}

void NoteThreadEnding() {
  CrashState& crash = g_crash_state;
  // Nothing of ours keeps the process before Init, and during a crash the crash path ends it.
  if (crash.watchdog_id == 0 || crash.claimed || crash.last_host_thread != nullptr) return;
  DWORD self = GetCurrentThreadId();
  if (IsLibraryThread(self) || HostThreadsRemain(self)) return;
  HANDLE thread = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread,
                       SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, 0)) {
    return;
  }
  crash.last_host_thread = thread;
  SetEvent(crash.host_ended);
}

void EndProcessAfterLastHostThread() {
  CrashState& crash = g_crash_state;
  HANDLE thread = crash.last_host_thread;
  WaitForSingleObject(thread, INFINITE);
  DWORD code = 0;
  if (!GetExitCodeThread(thread, &code)) code = 0;
  // A thread another process injected, or one a DLL started while the last one ended, lives on:
  // the process goes on too, as it would without the library.
  if (!HostThreadsRemain(0)) ExitProcess(code);
  CloseHandle(thread);
  ResetEvent(crash.host_ended);
  crash.last_host_thread = nullptr;
}
