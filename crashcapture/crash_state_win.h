// Everything the crash path reads or writes, in one place. The crash path runs while the host's
// other threads are frozen at arbitrary points, possibly inside a lock or the heap; so everything
// it needs is reserved here, in the image, before any crash, and each field says who writes it
// and whether the crash path may touch it then. "Frozen: yes" means the crash path uses it with
// the other threads frozen; "no" means only before a crash or on a host thread outside one.
//
// Outside this struct the crash path touches only: the module object's settings (read; written by
// its Set operations and loads, never during a crash), the reporting client's state through the
// transport (the identities and the crash socket; see client/transport_win.cpp) and the guard's
// thread slot.
#pragma once

#include <windows.h>
#include <dbghelp.h>

#include "client/crash_summary_datagram.h"
#include "client/package_part_encoder.h"
#include "client/send_pacing.h"
#include "crashcapture/crash_capture.h"
#include "crashcapture/dump_package.h"
#include "crashcapture/module_table.h"
#include "crashcapture/stack_candidates.h"

typedef BOOL(WINAPI* MiniDumpWriteDumpFn)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                          PMINIDUMP_EXCEPTION_INFORMATION,
                                          PMINIDUMP_USER_STREAM_INFORMATION,
                                          PMINIDUMP_CALLBACK_INFORMATION);
// ntdll's loader-lock calls; the try-only form tells whether a frozen thread holds the lock.
typedef LONG(NTAPI* LdrLockLoaderLockFn)(ULONG flags, ULONG* disposition, ULONG_PTR* cookie);
typedef VOID(NTAPI* RtlPebLockFn)();
typedef HANDLE(WINAPI* OpenThreadFn)(DWORD access, BOOL inherit, DWORD thread_id);
typedef LONG(NTAPI* NtGetNextThreadFn)(HANDLE process, HANDLE thread, ACCESS_MASK access,
                                        ULONG attributes, ULONG flags, HANDLE* next);
typedef LONG(NTAPI* NtQueryInformationThreadFn)(HANDLE thread, ULONG info_class, PVOID info,
                                                ULONG info_size, PULONG returned);
// ntdll's THREAD_BASIC_INFORMATION, the answer of NtQueryInformationThread to class 0.
constexpr ULONG kThreadBasicInformation = 0;
struct ThreadBasicInformation {
  LONG exit_status;
  PVOID teb;
  HANDLE process_id;  // CLIENT_ID: the owning process, then the thread
  HANDLE thread_id;
  ULONG_PTR affinity;
  LONG priority;
  LONG base_priority;
};

constexpr int kDumpMessageWideSize = 128;

// The whole package on its way in parts, from the key-17 blob until the process ends. Written by
// the crash worker only: by its own loop and by the thread timer the message box's loop runs on
// that same thread.
struct WholePackageSend {
  bool active;                    // parts remain to be sent
  HANDLE file;                    // "TempDump.vgz", open while active
  UINT_PTR timer;                 // the thread timer while the message box is up; 0 for none
  // The encoder, made in place when the parts begin: a member with a constructor would give the
  // whole state a static constructor instead of leaving it zeroed in the image.
  alignas(PackagePartEncoder) unsigned char encoder_place[sizeof(PackagePartEncoder)];
  PackagePartEncoder* encoder;    // null until the parts begin
  SendPacing pacing;
  int pending_length;             // a datagram built and waiting for the pacing, 0 for none
  uint64_t started_us;
  uint8_t datagram[kMaxCrashDatagramSize];
};

struct CrashState {
  // The wiring. Written by InstallCrashCapture and by every dump (the same values each time);
  // read by the filter and the worker. Frozen: read.
  VXException* module;
  const CrashTransport* transport;

  // Loaded once by LoadCrashResources, at Init or by the first dump; read-only afterwards.
  // Frozen: read.
  volatile LONG resources_loaded;       // the once-flag of the load
  MiniDumpWriteDumpFn write_dump;       // null when dbghelp is missing
  LdrLockLoaderLockFn lock_loader;      // the exit's loader-lock probe
  RtlPebLockFn acquire_peb_lock;        // the exit's PEB-lock probe
  RtlPebLockFn release_peb_lock;
  NtGetNextThreadFn next_thread;        // the walk over this process's threads; null before Vista
  WCHAR dump_message[kDumpMessageWideSize];  // the GBK text converted; empty when 936 is missing

  // The filter, on the faulting thread. Frozen: yes.
  volatile LONG claimed;       // set by the first thread to enter the filter; a second one parks
  DWORD CrashThreadId;         // the faulting thread, set once by the filter; read by the dump
  EXCEPTION_POINTERS* volatile crash_exception;  // the fault, set by the filter for the worker

  // The crash worker. Made asleep by StartCrashWorker at Init, which writes these once, or by the
  // filter at the fault when there is none (then the thread and id are written there).
  // Frozen: yes.
  HANDLE worker_wake;               // manual-reset event, set by the filter
  HANDLE worker_ready;              // manual-reset event, set once the worker is prepared
  HANDLE volatile worker_thread;    // kept open: the watchdog counts the worker's CPU time
  volatile DWORD worker_id;         // read by the silent filter

  // The OpenThread cache, filled by the worker's preparation at Init (or the first freeze) and
  // kept for the process; beside it the call that tells a thread's owner. Frozen: yes.
  bool kernel32_load_tried;
  HMODULE kernel32;
  OpenThreadFn open_thread;
  NtQueryInformationThreadFn query_thread;

  // The crash watchdog. The handles and id are written once at Init, before any crash; the rest
  // is written by the crash path and read by the watchdog thread. Frozen: yes.
  HANDLE crash_begun;               // manual-reset event, set by the filter
  HANDLE watchdog_alive;            // manual-reset event, set once the watchdog runs its own code
  DWORD watchdog_id;                // 0 when there is no watchdog thread
  volatile LONG progress_steps;     // every mark of progress of the crash path
  HANDLE volatile watched_file;     // a file whose growth counts as progress; null for none
  volatile LONG user_window;        // a crash-path window is on the screen
  HHOOK user_window_hook;           // the thread hook that sees that window come up

  // The end of the host's last thread, which the watchdog turns into the end of the process.
  // The event is made at Init; the thread is handed over by that thread's detach. Frozen: no.
  HANDLE host_ended;                // manual-reset event, set by the last host thread's detach
  HANDLE volatile last_host_thread; // that thread, for its exit code

  // The dumps. Frozen: yes.
  // Dumps asked for by log levels run on the host's threads and share the package memory and the
  // two files; the second of two at once is refused. A crash takes over whatever a frozen thread
  // was doing: that thread will not run again.
  volatile LONG dump_busy;
  DumpReport last_report;           // written by every dump, read by tests and benchmarks
  UserInfo* dialog_user_info;       // where the dialog's button copies the texts, while it is up
  UINT dialog_time_limit_ms;        // how long the dialog waits for the user, while it is up; 0: no end
  PackageMemory package_memory;     // zlib's arena and the package's buffers (about 600 KiB)

  // The crash's own datagrams (the summary, the whole package), written by the crash worker only.
  // Frozen: yes.
  CrashWireReport wire_report;      // wire_report.crash_id: made by the first datagram that needs it
  ModuleTable summary_modules;      // the loader's list as the summary read it (about 110 KiB)
  StackCandidates summary_stack;
  CrashSummary summary;
  uint8_t summary_datagram[kMaxCrashDatagramSize];
  WholePackageSend whole;
  PackagePartMemory part_memory;    // one stripe's repair symbols (about 170 KiB)
};

// The one instance, zero-initialised in the image: nothing in it needs a constructor.
extern CrashState g_crash_state;

// Fills the resource fields once per process; InstallCrashCapture does it at Init, a dump makes
// sure of it when it is asked for before Init. True when the dump writer and the message are there.
bool LoadCrashResources();
