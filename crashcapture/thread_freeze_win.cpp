#include "crashcapture/thread_freeze_win.h"

#include <tlhelp32.h>

#include "crashcapture/crash_state_win.h"
#include "crashmodule/vx_exception.h"

namespace {

// The OpenThread cache: kernel32 is loaded at most once per process, whether or not that worked,
// and the export is looked up until it is found. OpenThread is never linked directly, so the DLL
// still loads on a system without it; there nothing is suspended.
OpenThreadFn CachedOpenThread() {
  CrashState& crash = g_crash_state;
  if (!crash.kernel32_load_tried) {
    crash.kernel32_load_tried = true;
    crash.kernel32 = LoadLibraryA("kernel32.dll");
  }
  if (crash.kernel32 && !crash.open_thread) {
    crash.open_thread = reinterpret_cast<OpenThreadFn>(
        reinterpret_cast<void*>(GetProcAddress(crash.kernel32, "OpenThread")));
  }
  return crash.open_thread;
}

// Toolhelp's size of THREADENTRY32 as the first Windows versions defined it: seven 32-bit fields.
constexpr DWORD kThreadEntrySize = 28;
static_assert(sizeof(THREADENTRY32) == kThreadEntrySize, "THREADENTRY32 is seven DWORDs");

}  // namespace

bool PrepareThreadFreeze() { return CachedOpenThread() != nullptr; }

void FreezeOtherThreads(VXException* module, DWORD spared1, DWORD spared2) {
  module->Trace("VXExceptionUnhandledExceptionFilter Start");
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  module->Trace("CreateToolhelp32Snapshot ok");
  THREADENTRY32 entry = {};
  entry.dwSize = kThreadEntrySize;
  if (Thread32First(snapshot, &entry)) {
    module->Trace("Thread32First s1 ok");
    OpenThreadFn open_thread = CachedOpenThread();
    module->Trace("Thread32First s2 ok");
    DWORD process = GetCurrentProcessId();
    DWORD self = GetCurrentThreadId();
    do {
      if (entry.th32OwnerProcessID != process || entry.th32ThreadID == self ||
          entry.th32ThreadID == spared1 || entry.th32ThreadID == spared2 || !open_thread) {
        continue;
      }
      HANDLE thread = open_thread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
      module->Trace("Thread32First s3 ok");
      if (thread) {
        SuspendThread(thread);
        module->Trace("Thread32First s4 ok");
        CloseHandle(thread);
      }
    } while (Thread32Next(snapshot, &entry));
    module->Trace("Thread32First s5 ok");
  }
  module->Trace("Thread32First ok");
  if (snapshot != INVALID_HANDLE_VALUE) CloseHandle(snapshot);
}
