// The crash worker: the thread that does the crash path's work while the faulting thread waits.
// It is made at Init and sleeps until a crash, because at the crash a new thread may be impossible
// to start: its start runs every DLL's attach code under the loader lock, which a frozen thread may
// hold; a 32-bit game may have no address space left for its stack; an overflowed stack leaves the
// faulting thread little room for the call. The filter only records the fault and wakes it.
#pragma once

#include <windows.h>

// At Init: makes the worker and waits (boundedly) until it has prepared itself: its stack
// committed, its first Winsock call, a guarded region and OpenThread behind it. True when a
// prepared worker sleeps; later calls only answer that.
bool StartCrashWorker();

// The filter's hand-over: records the fault and wakes the sleeping worker. False when there is no
// prepared worker; the filter then starts one of its own with CrashDumpThreadProc.
bool WakeCrashWorker(EXCEPTION_POINTERS* exception);

// The worker started at the fault, when there is no prepared one: the filter has frozen the other
// threads and switched to the crash socket itself. False when no thread could be made.
bool StartWorkerAtTheFault(EXCEPTION_POINTERS* exception);
DWORD WINAPI CrashDumpThreadProc(LPVOID exception);
