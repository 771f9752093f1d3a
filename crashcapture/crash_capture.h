// What the rest of the library sees of the crash capture besides the module's DumpProgram and the
// top-level filter. Portable declarations; the bodies are Windows-only.
#pragma once

#include <cstdint>

// Loads the dump writer (dbghelp and the version library it loads on its own), converts the
// message-box text and starts the dormant crash watchdog: everything the crash path would
// otherwise have to load or allocate while the other threads are frozen. The module's Init calls
// it; later calls do nothing. False when something is missing; the crash path then does what it
// can (no minidump without dbghelp, no watchdog of its own: the faulting thread watches).
bool PrepareCrashCapture();

// What the last DumpProgram achieved and how long its parts took, for tests and benchmarks.
struct DumpReport {
  bool minidump_written;
  bool package_written;
  int sent_bytes;          // what went to VXIdent_Set_Bin, 0 when nothing was sent
  uint32_t chunks;
  uint64_t minidump_bytes;
  uint64_t package_bytes;
  uint64_t minidump_us;    // MiniDumpWriteDump
  uint64_t compress_us;    // the package, from the first read of the minidump to the last write
  uint64_t send_us;        // reading the package back and VXIdent_Set_Bin
};

const DumpReport& LastDumpReport();
