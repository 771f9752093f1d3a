#include "crashcapture/crash_watchdog_win.h"

#include "crashcapture/stall_watch.h"

namespace {

constexpr DWORD kWatchIntervalMs = 50;

HANDLE g_crash_begun;  // manual-reset event, set by the filter
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
  if (!g_crash_begun) return false;
  DWORD id = 0;
  // A small stack: the loop needs a few hundred bytes.
  HANDLE thread = CreateThread(nullptr, 64 * 1024, CrashWatchdogProc, nullptr,
                               STACK_SIZE_PARAM_IS_A_RESERVATION, &id);
  if (!thread) return false;
  CloseHandle(thread);
  g_watchdog_id = id;
  return true;
}

DWORD CrashWatchdogThreadId() { return g_watchdog_id; }

bool BeginCrashWatch() {
  NoteCrashProgress();
  return g_watchdog_id != 0 && SetEvent(g_crash_begun);
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
