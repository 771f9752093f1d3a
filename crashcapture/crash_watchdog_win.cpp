#include "crashcapture/crash_watchdog_win.h"

#include "crashcapture/stall_watch.h"

namespace {

constexpr DWORD kWatchIntervalMs = 50;
// How long Init waits for the watchdog thread to start running. A new thread first runs the DLLs'
// attach notifications under the loader lock; a host thread that sits in a DllMain holds it, and
// a watchdog still waiting there at the crash could never end the process.
constexpr DWORD kWatchdogStartMs = 2000;

HANDLE g_crash_begun;     // manual-reset event, set by the filter
HANDLE g_watchdog_alive;  // manual-reset event, set once the watchdog runs its own code
DWORD g_watchdog_id;
volatile LONG g_crash_steps;
HANDLE volatile g_watched_file = INVALID_HANDLE_VALUE;
volatile LONG g_user_window;  // a crash-path window is on the screen
HHOOK g_user_window_hook;

uint64_t ProgressMark() {
  uint64_t mark = uint32_t(g_crash_steps);
  HANDLE file = g_watched_file;
  LARGE_INTEGER size;
  // A syscall on a handle: no lock of the process. A handle closed under our feet just fails.
  if (file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &size)) mark += uint64_t(size.QuadPart);
  return mark;
}

DWORD WINAPI CrashWatchdogProc(LPVOID) {
  SetEvent(g_watchdog_alive);
  WaitForSingleObject(g_crash_begun, INFINITE);
  WatchCrash();
}

LRESULT CALLBACK UserWindowHook(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_ACTIVATE) InterlockedExchange(&g_user_window, 1);
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

}  // namespace

bool StartCrashWatchdog() {
  if (g_watchdog_id != 0) return true;
  g_crash_begun = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_watchdog_alive = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!g_crash_begun || !g_watchdog_alive) return false;
  DWORD id = 0;
  // A small stack: the loop needs a few hundred bytes.
  HANDLE thread = CreateThread(nullptr, 64 * 1024, CrashWatchdogProc, nullptr,
                               STACK_SIZE_PARAM_IS_A_RESERVATION, &id);
  if (!thread) return false;
  CloseHandle(thread);
  g_watchdog_id = id;
  return WaitForSingleObject(g_watchdog_alive, kWatchdogStartMs) == WAIT_OBJECT_0;
}

DWORD CrashWatchdogThreadId() { return g_watchdog_id; }

bool BeginCrashWatch() {
  NoteCrashProgress();
  // A watchdog that never got past its start cannot watch: the faulting thread does it instead.
  if (g_watchdog_id == 0 || WaitForSingleObject(g_watchdog_alive, 0) != WAIT_OBJECT_0) return false;
  return SetEvent(g_crash_begun) != 0;
}

void NoteCrashProgress() { InterlockedIncrement(&g_crash_steps); }

void WatchFileGrowth(HANDLE file) {
  g_watched_file = file;
  NoteCrashProgress();
}

void BeginUserWindow() {
  g_user_window_hook = SetWindowsHookExW(WH_CBT, UserWindowHook, nullptr, GetCurrentThreadId());
}

void EndUserWindow() {
  InterlockedExchange(&g_user_window, 0);
  NoteCrashProgress();
  HHOOK hook = g_user_window_hook;
  g_user_window_hook = nullptr;
  if (hook) UnhookWindowsHookEx(hook);
}

void BailOutOfCrash() {
  for (;;) TerminateProcess(GetCurrentProcess(), 1);
}

void WatchCrash() {
  StallWatch watch;
  for (;;) {
    if (watch.Stalled(ProgressMark(), g_user_window != 0, GetTickCount())) BailOutOfCrash();
    Sleep(kWatchIntervalMs);
  }
}
