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
  if (!crash.query_thread) {
    crash.query_thread = reinterpret_cast<NtQueryInformationThreadFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
  }
  return crash.open_thread;
}

// What the freeze asks of a thread: suspending it, and its owner.
constexpr DWORD kFreezeAccess = THREAD_SUSPEND_RESUME | THREAD_QUERY_INFORMATION;

// Toolhelp's size of THREADENTRY32 as the first Windows versions defined it: seven 32-bit fields.
constexpr DWORD kThreadEntrySize = 28;
static_assert(sizeof(THREADENTRY32) == kThreadEntrySize, "THREADENTRY32 is seven DWORDs");

}  // namespace

bool PrepareThreadFreeze() { return CachedOpenThread() != nullptr; }

// GetProcessIdOfThread would do, from Vista on; ntdll's call answers on every version.
bool ThreadOfThisProcess(HANDLE thread) {
  NtQueryInformationThreadFn query = g_crash_state.query_thread;
  ThreadBasicInformation info = {};
  if (!query || query(thread, kThreadBasicInformation, &info, sizeof info, nullptr) < 0) return false;
  return DWORD(reinterpret_cast<ULONG_PTR>(info.process_id)) == GetCurrentProcessId();
}

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
      HANDLE thread = open_thread(kFreezeAccess, FALSE, entry.th32ThreadID);
      module->Trace("Thread32First s3 ok");
      if (!thread) continue;
      // The snapshot is a moment ago: the id may since have been freed and given to a thread of
      // another process, which nothing would ever resume. A thread whose owner cannot be told is
      // left running too.
      if (ThreadOfThisProcess(thread)) {
        SuspendThread(thread);
        module->Trace("Thread32First s4 ok");
      }
      CloseHandle(thread);
    } while (Thread32Next(snapshot, &entry));
    module->Trace("Thread32First s5 ok");
  }
  module->Trace("Thread32First ok");
  if (snapshot != INVALID_HANDLE_VALUE) CloseHandle(snapshot);
}
