// A host process for the faults that must leave the guard's hands: it installs an
// unhandled-exception filter that ends the process with kFilterReached, then faults the way its
// argument says. Any other exit code means the filter was not reached.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "guard/guard.h"
#include "tests/guard/own_handlers_win.h"

namespace {

constexpr UINT kFilterReached = 42;
constexpr int kNoFault = 3;
constexpr int kUsage = 2;

volatile int* volatile g_null = nullptr;

LONG WINAPI EndWithMarker(EXCEPTION_POINTERS* pointers) {
  ExitProcess(pointers->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION
                  ? kFilterReached
                  : kFilterReached + 1);
}

DWORD WINAPI FaultOutsideAnyRegion(void*) {
  *g_null = 1;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return kUsage;
  SetUnhandledExceptionFilter(EndWithMarker);
  // A region has ended with a fault in this process already: nothing of it may linger.
  RunGuardedCall([] { *g_null = 1; });

  if (std::strcmp(argv[1], "outside") == 0) {
    *g_null = 1;
  } else if (std::strcmp(argv[1], "after-throw") == 0) {
    // A C++ exception that leaves a region must take the region's frame with it.
    try {
      RunGuardedCall([] { throw std::runtime_error("leaves the region"); });
    } catch (const std::runtime_error&) {
    }
    *g_null = 1;
  } else if (std::strcmp(argv[1], "other-thread") == 0) {
    // This thread sits inside a region while another thread faults outside any.
    RunGuardedCall([] {
      HANDLE thread = CreateThread(nullptr, 0, FaultOutsideAnyRegion, nullptr, 0, nullptr);
      WaitForSingleObject(thread, 20000);
    });
  } else if (std::strcmp(argv[1], "after-recoveries") == 0) {
    // Each kind of recovery, many times: one that unwound a handler's frame of its own, nested
    // regions, a handler inside a region that kept its fault.
    for (int i = 0; i < 20; ++i) {
      RunGuarded(FaultUnderDecliningHandler, nullptr);
      RunGuardedCall([] {
        RunGuardedCall([] { *g_null = 1; });
        FaultRepairedByOwnHandler();
        *g_null = 1;
      });
    }
    *g_null = 1;
  } else if (std::strcmp(argv[1], "inside") == 0) {
    if (!RunGuardedCall([] { *g_null = 1; })) return kNoFault;
  } else {
    return kUsage;
  }
  return kNoFault;
}
