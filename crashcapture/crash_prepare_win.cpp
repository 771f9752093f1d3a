// Installing the crash capture, and everything the crash path needs that could otherwise take a
// lock at the crash: loading DLLs runs under the loader lock, converting from code page 936 may
// map its table, creating a thread may be impossible while another thread sits in a DllMain (so
// the crash worker is made here, asleep).
#include "crashcapture/crash_capture.h"
#include "crashcapture/crash_filter_win.h"
#include "crashcapture/crash_message.h"
#include "crashcapture/crash_state_win.h"
#include "crashcapture/crash_watchdog_win.h"
#include "crashcapture/crash_worker_win.h"
#include "crashcapture/runtime_handlers_win.h"
#include "guard/guard.h"

namespace {

template <typename Fn>
Fn ProcAddress(HMODULE module, const char* name) {
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

bool LoadDumpWriter() {
  // MiniDumpWriteDump reads module versions through version.dll, which dbghelp loads on demand.
  LoadLibraryA("version.dll");
  HMODULE dbghelp = LoadLibraryA("dbghelp.dll");
  g_crash_state.write_dump = ProcAddress<MiniDumpWriteDumpFn>(dbghelp, "MiniDumpWriteDump");
  return g_crash_state.write_dump != nullptr;
}

void ResolveLoaderCalls() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  g_crash_state.lock_loader = ProcAddress<LdrLockLoaderLockFn>(ntdll, "LdrLockLoaderLock");
  g_crash_state.acquire_peb_lock = ProcAddress<RtlPebLockFn>(ntdll, "RtlAcquirePebLock");
  g_crash_state.release_peb_lock = ProcAddress<RtlPebLockFn>(ntdll, "RtlReleasePebLock");
  g_crash_state.next_thread = ProcAddress<NtGetNextThreadFn>(ntdll, "NtGetNextThread");
}

// The message is stored in GBK; shown through the wide call it reads right whatever the system's
// ANSI code page, and a system whose code page is 936 sees the same text.
bool ConvertDumpMessage() {
  WCHAR* message = g_crash_state.dump_message;
  int n = MultiByteToWideChar(kGbkCodePage, MB_ERR_INVALID_CHARS, kDumpMessageGbk, -1, message,
                              kDumpMessageWideSize);
  if (n <= 0) message[0] = 0;
  return n > 0;
}

bool PrepareCrashPath() {
  bool resources = LoadCrashResources();
  bool watchdog = StartCrashWatchdog();
  bool worker = StartCrashWorker();
  // The worker opens the crash socket on its own thread; this is for when it could not.
  g_crash_state.transport->prepare_crash_socket();
  InstallRuntimeCrashHandlers();
  return resources && watchdog && worker;
}

}  // namespace

bool LoadCrashResources() {
  if (InterlockedCompareExchange(&g_crash_state.resources_loaded, 1, 0) == 0) {
    LoadDumpWriter();
    ResolveLoaderCalls();
    ConvertDumpMessage();
  }
  return g_crash_state.write_dump != nullptr && g_crash_state.dump_message[0] != 0;
}

namespace {

// The filter, the C runtimes' handlers and the sleeping worker and watchdog all point into this
// module, and nothing takes them back: a host that unloads the library after VXIdent_Fin would
// leave the process's next unhandled exception, abort or crash jumping into unmapped memory, and
// the two threads returning into it. Removing everything at detach instead would need the
// filter a game installed after ours put back in the right order, the runtimes' handlers too, and
// the threads stopped from a DllMain; and the design keeps the filter until the process ends.
// So once anything is installed the module stays loaded for the process's life.
void PinThisModule() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&VXExceptionUnhandledExceptionFilter), &self);
}

}  // namespace

bool InstallCrashCapture(VXException* module, const CrashTransport* transport) {
  g_crash_state.module = module;
  g_crash_state.transport = transport;
  PinThisModule();
  SetUnhandledExceptionFilter(VXExceptionUnhandledExceptionFilter);
  bool prepared = false;
  RunGuardedCall([&] { prepared = PrepareCrashPath(); });
  return prepared;
}
