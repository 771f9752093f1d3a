// The crash watchdog: a thread that ends the process with exit code 1 when the crash path makes no
// progress for kStallLimitMs (the crash worker's CPU time counts as progress up to
// kCpuOnlyLimitMs, see stall_watch.h). The crash path runs while the host's other threads are frozen at
// arbitrary points: an allocation, MiniDumpWriteDump or a new thread's start can block for good
// on a lock one of them holds, and only a thread that takes no lock can get the process out.
#pragma once

#include <windows.h>

// Starts the watchdog thread, which sleeps until a crash begins, and waits (boundedly) until it
// runs. Called once, at Init. False when the thread could not be made or has not started yet.
bool StartCrashWatchdog();
DWORD CrashWatchdogThreadId();  // 0 when there is none

// The filter's first step: wakes the watchdog. False when there is no watchdog thread, or it never
// started running, in which case the faulting thread has to watch itself once the worker is
// started (WatchCrash).
bool BeginCrashWatch();

// Marks of progress. Growth of the watched file counts too, so a long MiniDumpWriteDump that keeps
// writing is not taken for a stall.
void NoteCrashProgress();
void WatchFileGrowth(HANDLE file);  // INVALID_HANDLE_VALUE stops watching

// The time a dialog or message box of the crash path is on the screen does not count. A thread
// hook on the calling thread sees the window come up, so a call that blocks before its window
// exists (on the heap lock, say) is still a stall. EndUserWindow may be called more than once.
void BeginUserWindow();
void EndUserWindow();

// The bail-out: TerminateProcess of the own process, which ends it even when ExitProcess would
// block on a lock of a frozen thread.
[[noreturn]] void BailOutOfCrash();

// The watch loop itself, for a thread with nothing else to do. Never returns.
[[noreturn]] void WatchCrash();
