// fault_catching_hooks.dll: window hooks of the kind an overlay, an input method or a driver's
// helper installs, each of which faults and handles its own fault on every call: it asks
// IsBadReadPtr about memory that is reserved and never committed, which reads it under the
// system's own exception handler. A guard that takes such a fault away from that handler ends
// whatever region the hook was called in.
//
// InstallFaultCatchingHooks() hooks creation, activation and focus (WH_CBT) and every message
// fetched (WH_GETMESSAGE) on every thread of the desktop; the hooks only probe in the process that
// installed them. The first probe on each thread writes "hook_probe_thread=<id> bad=<answer>" to
// standard error, unbuffered, since the process may end at any moment.
#include <windows.h>

#include <cstdio>

namespace {

constexpr SIZE_T kReservation = 64 * 1024;

HMODULE g_module;
DWORD g_installer;
void* g_reserved;
volatile LONG g_last_thread;

void ProbeUnreadableMemory() {
  if (GetCurrentProcessId() != g_installer) return;
  const BOOL bad = IsBadReadPtr(g_reserved, 4);
  const DWORD thread = GetCurrentThreadId();
  if (InterlockedExchange(&g_last_thread, LONG(thread)) != LONG(thread)) {
    char line[64];
    const int length = snprintf(line, sizeof line, "hook_probe_thread=%lu bad=%d\n", thread, bad);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, DWORD(length), &written, nullptr);
  }
}

LRESULT CALLBACK ProbingCbtHook(int code, WPARAM wparam, LPARAM lparam) {
  ProbeUnreadableMemory();
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

LRESULT CALLBACK ProbingMessageHook(int code, WPARAM wparam, LPARAM lparam) {
  ProbeUnreadableMemory();
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

}  // namespace

extern "C" __declspec(dllexport) BOOL InstallFaultCatchingHooks() {
  g_installer = GetCurrentProcessId();
  g_reserved = VirtualAlloc(nullptr, kReservation, MEM_RESERVE, PAGE_NOACCESS);
  return g_reserved != nullptr && SetWindowsHookExA(WH_CBT, ProbingCbtHook, g_module, 0) != nullptr &&
         SetWindowsHookExA(WH_GETMESSAGE, ProbingMessageHook, g_module, 0) != nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_module = module;
  return TRUE;
}
