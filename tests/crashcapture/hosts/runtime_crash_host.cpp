// A MinGW host (its C runtime is msvcrt.dll) that loads VXIdent.dll as a game does and then ends
// through its C runtime rather than through a fault. Arguments run in order; "name=value" lines go
// to standard error for the driver.
//
//   ucrt              loads ucrtbase.dll, as a game built with a current Visual C++ has it
//   init              VXIdent_Init and the three identities
//   ownabort          the host's own SIGABRT handler (through msvcrt.dll), which ends with exit code 7
//   ucrtownpurecall | ucrtowninvalid   the host's own handlers in ucrtbase.dll, likewise
//   abort | purevirtual | invalid      through msvcrt.dll: abort(), a pure virtual call (MinGW's
//                                      runtime turns it into abort), strcpy_s into a null buffer
//   ucrtabort | ucrtpurecall | ucrtinvalid   the same through ucrtbase.dll's own exports, as code
//                                      built by Visual C++ reaches them
#include <windows.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "VXIdent.h"
#include "tests/support/fault_clock_win.h"

// A pure virtual function called while the base class's constructor runs, when the object is
// still a Base: the classic pure virtual call. The object is reached through a volatile pointer,
// so that the compiler cannot tell its type and must go through the vtable; the classes are
// outside the anonymous namespace, where the compiler would know every class that overrides Pure.
struct Base;
Base* volatile g_under_construction = nullptr;
__attribute__((noinline)) void CallPureThroughVtable();

struct Base {
  Base() {
    g_under_construction = this;
    CallPureThroughVtable();
  }
  virtual ~Base() {}
  virtual void Pure() = 0;
};
struct Derived : Base {
  void Pure() override {}
};

void CallPureThroughVtable() { g_under_construction->Pure(); }

// The vtable names libstdc++'s __cxa_pure_virtual only weakly, and a weak name does not pull it out
// of the static library: left alone, the slot stays null and the call is a plain access violation
// at address 0, which the filter reports anyway. A program that links libstdc++ as a DLL, or pulls
// the function in otherwise, gets the runtime's own end instead ("pure virtual method called",
// std::terminate, abort); the build of this host pulls it in (tests/crashcapture/CMakeLists.txt).

namespace {

constexpr int kHostHandlerExit = 7;

void Line(const char* name, long long value) {
  std::fprintf(stderr, "%s=%lld\n", name, value);
  std::fflush(stderr);
}

[[noreturn]] void HostHandlerRan(const char* which) {
  Line(which, 1);
  ExitProcess(kHostHandlerExit);
}

void __cdecl HostAbortHandler(int) { HostHandlerRan("host_abort_handler"); }
void __cdecl HostPureCallHandler() { HostHandlerRan("host_purecall_handler"); }
void __cdecl HostInvalidParameterHandler(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int, uintptr_t) {
  HostHandlerRan("host_invalid_parameter_handler");
}

typedef void(__cdecl* VoidFn)();
typedef errno_t(__cdecl* StrcpySFn)(char*, size_t, const char*);
typedef void(__cdecl* PureCallHandler)();
typedef PureCallHandler(__cdecl* SetPureCallHandlerFn)(PureCallHandler);
typedef void(__cdecl* InvalidParameterHandler)(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                                               uintptr_t);
typedef InvalidParameterHandler(__cdecl* SetInvalidParameterHandlerFn)(InvalidParameterHandler);

// An export of ucrtbase.dll, which the host must have loaded with "ucrt" first.
template <typename Fn>
Fn Ucrt(const char* name) {
  HMODULE ucrt = GetModuleHandleA("ucrtbase.dll");
  FARPROC proc = ucrt ? GetProcAddress(ucrt, name) : nullptr;
  if (proc == nullptr) {
    Line("missing_ucrt_export", 1);
    ExitProcess(3);
  }
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}

char* volatile g_null_buffer = nullptr;

constexpr const char* kEndingOperations[] = {"abort", "purevirtual", "invalid", "ucrtabort", "ucrtpurecall",
                                             "ucrtinvalid"};

bool EndsTheProcess(const char* op) {
  for (const char* end : kEndingOperations) {
    if (!std::strcmp(op, end)) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  Line("tid", GetCurrentThreadId());
  for (int i = 1; i < argc; ++i) {
    const char* op = argv[i];
    if (EndsTheProcess(op)) Line("fault_ms", FaultClockMilliseconds());
    if (!std::strcmp(op, "ucrt")) {
      Line("ucrt_loaded", LoadLibraryA("ucrtbase.dll") != nullptr);
    } else if (!std::strcmp(op, "init")) {
      Line("init", VXIdent_Init());
      HMODULE msvcrt = GetModuleHandleA("msvcrt.dll");
      Line("msvcrt_sets_invalid_parameter_handler",
           msvcrt != nullptr && GetProcAddress(msvcrt, "_set_invalid_parameter_handler") != nullptr);
      VXIdent_Set_Int(VXIDENT_KEY_IDENTITY1, 11, VXIDENT_SEND_NOW);
      VXIdent_Set_Int(VXIDENT_KEY_IDENTITY3, 33, VXIDENT_SEND_NOW);
      VXIdent_Set_Int(VXIDENT_KEY_IDENTITY4, 44, VXIDENT_SEND_NOW);
    } else if (!std::strcmp(op, "ownabort")) {
      std::signal(SIGABRT, HostAbortHandler);
    } else if (!std::strcmp(op, "ucrtownpurecall")) {
      Ucrt<SetPureCallHandlerFn>("_set_purecall_handler")(HostPureCallHandler);
    } else if (!std::strcmp(op, "ucrtowninvalid")) {
      Ucrt<SetInvalidParameterHandlerFn>("_set_invalid_parameter_handler")(HostInvalidParameterHandler);
    } else if (!std::strcmp(op, "abort")) {
      std::abort();
    } else if (!std::strcmp(op, "purevirtual")) {
      Derived derived;
    } else if (!std::strcmp(op, "invalid")) {
      Line("strcpy_s", strcpy_s(g_null_buffer, 0, "x"));
    } else if (!std::strcmp(op, "ucrtabort")) {
      Ucrt<VoidFn>("abort")();
    } else if (!std::strcmp(op, "ucrtpurecall")) {
      Ucrt<VoidFn>("_purecall")();
    } else if (!std::strcmp(op, "ucrtinvalid")) {
      Line("strcpy_s", Ucrt<StrcpySFn>("strcpy_s")(g_null_buffer, 0, "x"));
    } else {
      std::fprintf(stderr, "unknown operation %s\n", op);
      return 2;
    }
  }
  Line("returned", 1);
  return 0;
}
