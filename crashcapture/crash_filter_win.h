// The process's top-level exception filter and the filter the crash worker puts in its place.
#pragma once

#include <windows.h>

LONG WINAPI VXExceptionUnhandledExceptionFilter(EXCEPTION_POINTERS* exception);
LONG WINAPI SilentExceptionFilter(EXCEPTION_POINTERS* exception);

// A thread that must never run on: the second thread to fault, a fault while the report is built.
[[noreturn]] void ParkThisThread();
