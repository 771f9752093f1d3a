// A once-only guard that also works on Windows XP (InitOnceExecuteOnce came with Vista).
#pragma once

#include <windows.h>

struct OnceFlag {
  volatile LONG state;  // 0 not run, 1 running, 2 done
};

// Runs fn exactly once per flag; concurrent callers wait until the first one has finished.
void RunOnce(OnceFlag& flag, void (*fn)());
