#include "crashcapture/runtime_handlers_win.h"

#include <windows.h>

#include <cstdint>

#include "crashcapture/runtime_crash_codes.h"

namespace {

// The runtimes' own declarations, which differ between them only in name: every one of these
// takes and returns __cdecl function pointers.
typedef void(__cdecl* SignalHandler)(int);
typedef SignalHandler(__cdecl* SignalFn)(int, SignalHandler);
typedef void(__cdecl* PureCallHandler)();
typedef PureCallHandler(__cdecl* SetPureCallHandlerFn)(PureCallHandler);
typedef void(__cdecl* InvalidParameterHandler)(const wchar_t* expression, const wchar_t* function,
                                               const wchar_t* file, unsigned int line, uintptr_t reserved);
typedef InvalidParameterHandler(__cdecl* SetInvalidParameterHandlerFn)(InvalidParameterHandler);

// signal.h of every Microsoft runtime: SIGABRT is 22 (SIGABRT_COMPAT, 6, is the same signal in the
// Universal CRT), SIG_DFL is null and SIG_ERR is -1.
constexpr int kSigAbrt = 22;
const SignalHandler kSigErr = reinterpret_cast<SignalHandler>(intptr_t(-1));

// The runtimes a game may have loaded: the Universal CRT, those of Visual C++ 2013 back to .NET
// 2002 with their debug builds, and the system's msvcrt.dll (which MinGW programs use).
const char* const kRuntimeModules[] = {
    "ucrtbase.dll", "ucrtbased.dll", "msvcr120.dll", "msvcr120d.dll", "msvcr110.dll", "msvcr110d.dll",
    "msvcr100.dll", "msvcr100d.dll", "msvcr90.dll",  "msvcr90d.dll",  "msvcr80.dll",  "msvcr80d.dll",
    "msvcr71.dll",  "msvcr70.dll",   "msvcrt.dll",   "msvcrtd.dll",
};

// Noncontinuable: a handler further up that tried to resume would get
// STATUS_NONCONTINUABLE_EXCEPTION, so none of the handlers below ever returns into the runtime,
// which would otherwise go on to end the process (or, after an invalid parameter, to carry on).
void RaiseRuntimeCrash(DWORD code) { RaiseException(code, EXCEPTION_NONCONTINUABLE, 0, nullptr); }

void __cdecl OnAbortSignal(int) { RaiseRuntimeCrash(kAbortCrashCode); }

void __cdecl OnPureCall() { RaiseRuntimeCrash(kPureCallCrashCode); }

// The runtime's release builds pass nulls and 0 for the expression, function, file and line.
void __cdecl OnInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int, uintptr_t) {
  RaiseRuntimeCrash(kInvalidParameterCrashCode);
}

// Each setter answers with the handler it replaces; when the host had one, it goes straight back.
// A runtime offers no way to ask first (signal has no getter), and a report raised by ours in
// between is still a report.

bool InstallAbortHandler(FARPROC setter) {
  SignalFn signal_fn = reinterpret_cast<SignalFn>(reinterpret_cast<void*>(setter));
  SignalHandler previous = signal_fn(kSigAbrt, OnAbortSignal);
  if (previous == kSigErr) return false;
  if (previous == nullptr || previous == OnAbortSignal) return true;
  signal_fn(kSigAbrt, previous);
  return false;
}

bool InstallPureCallHandler(FARPROC setter) {
  SetPureCallHandlerFn set = reinterpret_cast<SetPureCallHandlerFn>(reinterpret_cast<void*>(setter));
  PureCallHandler previous = set(OnPureCall);
  if (previous == nullptr || previous == OnPureCall) return true;
  set(previous);
  return false;
}

bool InstallInvalidParameterHandler(FARPROC setter) {
  SetInvalidParameterHandlerFn set =
      reinterpret_cast<SetInvalidParameterHandlerFn>(reinterpret_cast<void*>(setter));
  InvalidParameterHandler previous = set(OnInvalidParameter);
  if (previous == nullptr || previous == OnInvalidParameter) return true;
  set(previous);
  return false;
}

struct RuntimeHook {
  const char* setter;  // the runtime's export; older runtimes lack the last two
  bool (*install)(FARPROC setter);
};

const RuntimeHook kRuntimeHooks[] = {
    {"signal", InstallAbortHandler},
    {"_set_purecall_handler", InstallPureCallHandler},
    {"_set_invalid_parameter_handler", InstallInvalidParameterHandler},
};

}  // namespace

int InstallRuntimeCrashHandlers() {
  int installed = 0;
  for (const char* name : kRuntimeModules) {
    // Only a runtime that is already there: loading one the host does not use catches nothing.
    HMODULE runtime = GetModuleHandleA(name);
    if (runtime == nullptr) continue;
    for (const RuntimeHook& hook : kRuntimeHooks) {
      FARPROC setter = GetProcAddress(runtime, hook.setter);
      if (setter != nullptr && hook.install(setter)) ++installed;
    }
  }
  return installed;
}
