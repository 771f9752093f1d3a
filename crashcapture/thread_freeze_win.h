// Freezing the rest of the process when it crashes: a Toolhelp snapshot of all threads, and
// SuspendThread on each other thread of this process, opened through the OpenThread cache.
#pragma once

#include <windows.h>

class VXException;

// Suspends every thread of this process but the calling one and except_thread (the watchdog, or
// 0). Reports its steps to the module's Trace. Runs inside the filter's guard.
void FreezeOtherThreads(VXException* module, DWORD except_thread);
