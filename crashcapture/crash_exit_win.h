// The end of a crashed process.
#pragma once

#include "crashmodule/module_types.h"

// Calls the exit hook (a fault in it is absorbed), then ends the process with exit code 1 through
// ExitProcess. ExitProcess first kills every other thread, the watchdog among them, and then runs
// the DLLs' detach code, which takes the loader lock, the PEB lock, the heaps and the CRT's stream
// locks: a lock a frozen thread holds would hang it for good. So each of them is tried first while
// the watchdog still lives; one that is held means TerminateProcess instead.
[[noreturn]] void ExitCrashedProcess(ExitHook exit_hook);
