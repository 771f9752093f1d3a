// What the crash-capture files share on Windows: the process-wide crash state and resources.
#pragma once

#include <windows.h>
#include <dbghelp.h>

#include "crashcapture/dump_package.h"

// The faulting thread, for the minidump's exception information. Set once by the filter.
extern DWORD CrashThreadId;

typedef BOOL(WINAPI* MiniDumpWriteDumpFn)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                          PMINIDUMP_EXCEPTION_INFORMATION,
                                          PMINIDUMP_USER_STREAM_INFORMATION,
                                          PMINIDUMP_CALLBACK_INFORMATION);

// ntdll's loader-lock calls; the try-only form tells whether a frozen thread holds the lock.
typedef LONG(NTAPI* LdrLockLoaderLockFn)(ULONG flags, ULONG* disposition, ULONG_PTR* cookie);
typedef VOID(NTAPI* RtlPebLockFn)();

constexpr int kDumpMessageWideSize = 128;

struct CrashResources {
  MiniDumpWriteDumpFn write_dump;
  LdrLockLoaderLockFn lock_loader;
  RtlPebLockFn acquire_peb_lock;
  RtlPebLockFn release_peb_lock;
  WCHAR dump_message[kDumpMessageWideSize];  // the GBK text converted once; empty when 936 is missing
};

extern CrashResources g_crash;

// Fills g_crash once per process; PrepareCrashCapture does it at Init, DumpProgram makes sure of it
// for a dump asked for before Init. True when the dump writer and the message are there.
bool LoadCrashResources();

// Reserved in the image itself: it exists before any crash, and nothing on the crash path has to
// ask the heap for it.
extern PackageMemory g_package_memory;

// A thread that must never run on: the second thread to fault, a fault while the report is built.
[[noreturn]] void ParkThisThread();

// The worker's thread id, 0 until it runs.
extern volatile DWORD g_crash_worker_id;

DWORD WINAPI CrashDumpThreadProc(LPVOID exception);
LONG WINAPI SilentExceptionFilter(EXCEPTION_POINTERS* exception);
