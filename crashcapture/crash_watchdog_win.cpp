#include "crashcapture/crash_watchdog_win.h"

#include "crashcapture/crash_state_win.h"
#include "crashcapture/last_host_thread_win.h"
#include "crashcapture/stall_watch.h"

namespace {

constexpr DWORD kWatchIntervalMs = 50;
// How long Init waits for the watchdog thread to start running. A new thread first runs the DLLs'
// attach notifications under the loader lock; a host thread that sits in a DllMain holds it, and
// a watchdog still waiting there at the crash could never end the process.
constexpr DWORD kWatchdogStartMs = 2000;
// A small stack: the loop needs a few hundred bytes.
constexpr SIZE_T kWatchdogStackSize = 64 * 1024;

uint64_t ProgressMark() {
  const CrashState& crash = g_crash_state;
  uint64_t mark = uint32_t(crash.progress_steps);
  HANDLE file = crash.watched_file;
  LARGE_INTEGER size;
  // A syscall on a handle: no lock of the process. A handle closed under our feet just fails.
  if (file != nullptr && GetFileSizeEx(file, &size)) mark += uint64_t(size.QuadPart);
  return mark;
}

// Kernel plus user time of the crash worker, in 100 ns units; 0 while there is no worker.
uint64_t WorkerCpuTime() {
  HANDLE worker = g_crash_state.worker_thread;
  FILETIME created, exited, kernel, user;
  if (worker == nullptr || !GetThreadTimes(worker, &created, &exited, &kernel, &user)) return 0;
  auto ticks = [](const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return ticks(kernel) + ticks(user);
}

// Asleep until a crash begins, or until the host's last thread ends.
DWORD WINAPI CrashWatchdogProc(LPVOID) {
  CrashState& crash = g_crash_state;
  SetEvent(crash.watchdog_alive);
  HANDLE events[] = {crash.crash_begun, crash.host_ended};
  for (;;) {
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) WatchCrash();
    EndProcessAfterLastHostThread();
  }
}

LRESULT CALLBACK UserWindowHook(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_ACTIVATE) InterlockedExchange(&g_crash_state.user_window, 1);
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

}  // namespace

bool StartCrashWatchdog() {
  CrashState& crash = g_crash_state;
  if (crash.watchdog_id != 0) return true;
  crash.crash_begun = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  crash.watchdog_alive = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  crash.host_ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!crash.crash_begun || !crash.watchdog_alive || !crash.host_ended) return false;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, kWatchdogStackSize, CrashWatchdogProc, nullptr,
                               STACK_SIZE_PARAM_IS_A_RESERVATION, &id);
  if (!thread) return false;
  CloseHandle(thread);
  crash.watchdog_id = id;
  return WaitForSingleObject(crash.watchdog_alive, kWatchdogStartMs) == WAIT_OBJECT_0;
}

DWORD CrashWatchdogThreadId() { return g_crash_state.watchdog_id; }

bool BeginCrashWatch() {
  CrashState& crash = g_crash_state;
  NoteCrashProgress();
  // A watchdog that never got past its start cannot watch: the faulting thread does it instead.
  if (crash.watchdog_id == 0 || WaitForSingleObject(crash.watchdog_alive, 0) != WAIT_OBJECT_0) {
    return false;
  }
  return SetEvent(crash.crash_begun) != 0;
}

void NoteCrashProgress() { InterlockedIncrement(&g_crash_state.progress_steps); }

void WatchFileGrowth(HANDLE file) {
  g_crash_state.watched_file = file == INVALID_HANDLE_VALUE ? nullptr : file;
  NoteCrashProgress();
}

void BeginUserWindow() {
  g_crash_state.user_window_hook =
      SetWindowsHookExW(WH_CBT, UserWindowHook, nullptr, GetCurrentThreadId());
}

void EndUserWindow() {
  CrashState& crash = g_crash_state;
  InterlockedExchange(&crash.user_window, 0);
  NoteCrashProgress();
  HHOOK hook = crash.user_window_hook;
  crash.user_window_hook = nullptr;
  if (hook) UnhookWindowsHookEx(hook);
}

void BailOutOfCrash() {
  for (;;) TerminateProcess(GetCurrentProcess(), 1);
}

void WatchCrash() {
  StallWatch watch;
  for (;;) {
    if (watch.Stalled(ProgressMark(), WorkerCpuTime(), g_crash_state.user_window != 0, GetTickCount())) {
      BailOutOfCrash();
    }
    Sleep(kWatchIntervalMs);
  }
}
