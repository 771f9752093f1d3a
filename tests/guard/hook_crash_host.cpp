// A host that installs fault_catching_hooks.dll's window hooks, loads VXIdent.dll the way a game
// does and dies of an access violation: the crash path's windows (the user-description dialog,
// the message box) then run with hooks that fault and handle their own faults.
#include <windows.h>

#include <cstdio>

#include "VXIdent.h"
#include "tests/support/fault_clock_win.h"

namespace {

constexpr int kNoHooks = 3;

}  // namespace

int main() {
  HMODULE hooks = LoadLibraryA("fault_catching_hooks.dll");
  FARPROC install = hooks ? GetProcAddress(hooks, "InstallFaultCatchingHooks") : nullptr;
  const bool hooked = install != nullptr && install() != 0;
  fprintf(stderr, "tid=%lu\n", GetCurrentThreadId());
  fprintf(stderr, "hooks=%d\n", hooked ? 1 : 0);
  if (!hooked) return kNoHooks;
  fprintf(stderr, "init=%d\n", VXIdent_Init());
  VXIdent_Set_Int(1, 11, 0);
  VXIdent_Set_Int(3, 33, 0);
  VXIdent_Set_Int(4, 44, 0);
  fprintf(stderr, "fault_ms=%lld\n", FaultClockMilliseconds());
  fflush(stderr);
  *static_cast<volatile int*>(nullptr) = 1;
  return 0;
}
