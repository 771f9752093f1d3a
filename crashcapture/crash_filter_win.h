// The process's top-level exception filter, the crash worker thread it starts, and the filter the
// worker puts in its place.
#pragma once

#include <windows.h>

LONG WINAPI VXExceptionUnhandledExceptionFilter(EXCEPTION_POINTERS* exception);
DWORD WINAPI CrashDumpThreadProc(LPVOID exception);
LONG WINAPI SilentExceptionFilter(EXCEPTION_POINTERS* exception);

// A thread that must never run on: the second thread to fault, a fault while the report is built.
[[noreturn]] void ParkThisThread();
