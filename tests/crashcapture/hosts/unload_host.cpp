// A host that loads VXIdent.dll at run time and unloads it again, as a game's plug-in or launcher
// may, then goes on: exceptions it raises and handles itself, or a crash. Arguments in order;
// "name=value" lines go to standard error for the driver.
//
//   init (VXIdent_Init and the identities) | fin | free | handled | av
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "tests/support/fault_clock_win.h"

namespace {

void Line(const char* name, long long value) {
  fprintf(stderr, "%s=%lld\n", name, value);
  fflush(stderr);
}

typedef int (*InitFn)();
typedef int (*FinFn)();
typedef int(__stdcall* SetIntFn)(int key, int value, int mode);

template <typename Fn>
Fn Export(HMODULE library, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// The engine's own handling of the exceptions it raises: the thread-naming exception that
// debuggers read, continued as a game's __except would.
constexpr DWORD kThreadNameException = 0x406D1388;

LONG CALLBACK ContinueThreadNaming(EXCEPTION_POINTERS* exception) {
  if (exception->ExceptionRecord->ExceptionCode != kThreadNameException) return EXCEPTION_CONTINUE_SEARCH;
  return EXCEPTION_CONTINUE_EXECUTION;
}

#pragma pack(push, 8)
struct ThreadNameInfo {
  DWORD type;  // 0x1000
  LPCSTR name;
  DWORD thread_id;
  DWORD flags;
};
#pragma pack(pop)

// Three exceptions raised and handled inside the host, none of which the library has any business
// seeing: a caught C++ throw, debugger output, the thread-naming exception.
int RaiseAndHandle() {
  int handled = 0;
  try {
    throw 42;
  } catch (int) {
    ++handled;
  }
  OutputDebugStringA("unload_host: still here\n");
  ++handled;
  PVOID handler = AddVectoredExceptionHandler(1, ContinueThreadNaming);
  ThreadNameInfo info = {0x1000, "render", DWORD(-1), 0};
  RaiseException(kThreadNameException, 0, sizeof info / sizeof(ULONG_PTR),
                 reinterpret_cast<const ULONG_PTR*>(&info));
  RemoveVectoredExceptionHandler(handler);
  return handled + 1;
}

}  // namespace

int main(int argc, char** argv) {
  Line("tid", GetCurrentThreadId());
  HMODULE library = LoadLibraryA("VXIdent.dll");
  Line("loaded", library != nullptr);
  if (!library) return 2;
  for (int i = 1; i < argc; ++i) {
    const char* op = argv[i];
    if (!strcmp(op, "init")) {
      Line("init", Export<InitFn>(library, "VXIdent_Init")());
      SetIntFn set_int = Export<SetIntFn>(library, "VXIdent_Set_Int");
      set_int(1, 11, 0);
      set_int(3, 33, 0);
      set_int(4, 44, 0);
    } else if (!strcmp(op, "fin")) {
      Line("fin", Export<FinFn>(library, "VXIdent_Fin")());
    } else if (!strcmp(op, "free")) {
      Line("freed", FreeLibrary(library));
      Line("still_loaded", GetModuleHandleA("VXIdent.dll") != nullptr);
    } else if (!strcmp(op, "handled")) {
      Line("handled", RaiseAndHandle());
    } else if (!strcmp(op, "av")) {
      Line("fault_ms", FaultClockMilliseconds());
      *static_cast<volatile int*>(nullptr) = 1;
    }
  }
  Line("end", 0);
  return 0;
}
