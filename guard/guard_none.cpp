// Guarded regions where there are no structured exceptions: the native build of the portable
// code, which runs under the sanitizers. A fault there is a bug for them to report, not a step to
// end, so the work simply runs.
#include "guard/guard.h"

bool RunGuarded(GuardedFn fn, void* arg, uint32_t* exception_code) {
  if (exception_code != nullptr) *exception_code = 0;
  fn(arg);
  return true;
}
