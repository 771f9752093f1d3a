// Freezing the rest of the process when it crashes: a Toolhelp snapshot of all threads, and
// SuspendThread on each other thread of this process, opened through the OpenThread cache.
#pragma once

#include <windows.h>

class VXException;

// Suspends every thread of this process, checked by its owner after it is opened, but the calling one and the two spared ones (the watchdog
// and the faulting thread, which parks itself or watches; 0 for none). Reports its steps to the
// module's Trace. Runs inside a guard.
void FreezeOtherThreads(VXException* module, DWORD spared1, DWORD spared2);

// Resolves OpenThread ahead of the crash: the first lookup loads kernel32 and takes the loader
// lock, which a frozen thread may hold. True when OpenThread is there.
bool PrepareThreadFreeze();

// Whether the opened thread (with query access) belongs to this process; false when that cannot be
// told.
bool ThreadOfThisProcess(HANDLE thread);
