#include "client/run_once_win.h"

namespace {

constexpr LONG kNotRun = 0;
constexpr LONG kRunning = 1;
constexpr LONG kDone = 2;

}  // namespace

void RunOnce(OnceFlag& flag, void (*fn)()) {
  if (flag.state == kDone) return;
  if (InterlockedCompareExchange(&flag.state, kRunning, kNotRun) == kNotRun) {
    fn();
    InterlockedExchange(&flag.state, kDone);
    return;
  }
  // Loading takes milliseconds at most; yielding keeps a single-core machine moving.
  while (flag.state != kDone) Sleep(0);
}
