// The crash capture as the rest of the library sees it: the three operations the module's wiring
// hands it (install the filter, write a dump, ask the user) and the transport it sends through.
// Portable declarations; the bodies are Windows-only.
#pragma once

#include <cstdint>

#include "client/datagram.h"
#include "crashmodule/module_types.h"

class VXException;
struct _EXCEPTION_POINTERS;

// The crash report's settings of HVInfo.conf, as the client parsed them.
struct CrashWireSettings {
  bool summary;              // CrashSummary: send the summary datagram first
  bool package_whole;        // CrashPackageWhole: send the whole package in parts after the blob
  uint32_t package_rate;     // bytes per second of parts
  uint32_t package_limit;    // bytes: a larger package goes only as the blob
};

// How the capture reaches the reporting client, filled in the library's wiring file.
struct CrashTransport {
  // Reports the dump package (as much of it as one report carries). 0 when accepted.
  int (*send_package)(const void* data, int length);
  // Opens the crash report's own socket, while no thread is frozen yet.
  void (*prepare_crash_socket)();
  // From now on every send uses that socket. Called once the other threads are frozen.
  void (*use_crash_socket)();
  // Sends a datagram of the crash kinds as it is built: no report key, no gathering, no lock.
  int (*send_crash_datagram)(const uint8_t* bytes, int length);
  // Who is reporting; false while the host has not set all three identities (nothing may go then).
  bool (*crash_identity)(DatagramIdentity* who);
  CrashWireSettings (*crash_wire_settings)();
};

// Makes VXExceptionUnhandledExceptionFilter the process's top-level filter, then loads the dump
// writer (dbghelp and the version library it loads on its own), converts the message-box text,
// starts the sleeping crash watchdog and crash worker (which opens the crash socket): everything
// the crash path would otherwise have to load, allocate or start while the other threads are
// frozen. Later calls only install the filter again. False when something is missing; the crash
// path then does what it can (no minidump without dbghelp, no watchdog of its own: the faulting
// thread watches; no worker: the faulting thread starts one).
bool InstallCrashCapture(VXException* module, const CrashTransport* transport);

// For the DLL's thread-detach notification, on every thread that ends normally: the library's own
// threads started at Init must not keep the process alive once the host's last thread has ended
// (see last_host_thread_win.h).
void NoteThreadEnding();

// DumpProgram: the minidump with its user streams, the package, the send, the message box and, for
// kCrashDump, the end of the process (it returns only when it failed). Works before
// InstallCrashCapture too, for a dump a log level asks for.
bool WriteDumpPackage(VXException* module, uint32_t kind, _EXCEPTION_POINTERS* exception,
                      const CrashTransport* transport);

// Shows the user-description dialog for the fields that format.flags asks for, in front of every
// other window, and copies what the user typed into info (which may be null: then the texts are
// dropped) when the button is pressed, or when timeout_seconds have passed since the dialog came up
// or the user last changed a text (0: no time limit). True when the dialog ran and ended either
// way; false, with nothing shown, when the template's memory cannot be had, and false when Windows
// could not create the dialog.
bool ShowUserInfoDialogFor(const DumpFormat& format, UserInfo* info, uint32_t timeout_seconds);

// What the last dump achieved and how long its parts took, for tests and benchmarks.
struct DumpReport {
  bool minidump_written;
  bool package_written;
  int sent_bytes;          // what went to the transport, 0 when nothing was sent
  uint32_t chunks;
  uint64_t minidump_bytes;
  uint64_t package_bytes;
  uint64_t minidump_us;    // MiniDumpWriteDump
  uint64_t compress_us;    // the package, from the first read of the minidump to the last write
  uint64_t send_us;        // reading the package back and sending it
};

const DumpReport& LastDumpReport();

// What the crash path's own datagrams achieved, for tests and benchmarks.
struct CrashWireReport {
  uint32_t crash_id;       // the id of the crash on the wire; 0 until made
  int summary_bytes;       // the summary datagram's length; 0 when none was sent
  bool package_over_limit; // the package was larger than CrashPackageLimit: no parts
  uint32_t parts_total;    // datagrams of the whole package, repairs included
  uint32_t parts_sent;
  uint64_t parts_us;       // from the first part to the last
};

const CrashWireReport& LastCrashWireReport();
