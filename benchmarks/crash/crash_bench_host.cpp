// The crash benchmark's host: optionally fills a heap of the given size, then dies of an access
// violation. Its exit hook, which runs after the package is sent and just before the process
// ends, prints what the crash path measured; the driver adds the time to the process's end.
//
//   crash_bench_host.exe HEAP_MIB DUMP_FLAGS_HEX
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "VXIdent.h"
#include "crashcapture/crash_capture.h"
#include "client/library_wiring_win.h"
#include "crashmodule/vx_exception.h"

namespace {

constexpr SIZE_T kBlock = 1 << 20;

// Microseconds since 1970, comparable with the driver's clock.
uint64_t UnixMicroseconds() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  uint64_t ticks = (uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;  // 100 ns since 1601
  return ticks / 10 - 11644473600ull * 1000000ull;
}

void Print(const char* name, unsigned long long value) {
  char line[96];
  int n = snprintf(line, sizeof line, "%s=%llu\n", name, value);
  DWORD written;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, DWORD(n), &written, nullptr);
}

void PrintReport() {
  const DumpReport& r = LastDumpReport();
  Print("hook_us", UnixMicroseconds());
  Print("minidump_us", r.minidump_us);
  Print("compress_us", r.compress_us);
  Print("send_us", r.send_us);
  Print("minidump_bytes", r.minidump_bytes);
  Print("package_bytes", r.package_bytes);
  Print("chunks", r.chunks);
  Print("sent_bytes", uint64_t(r.sent_bytes));
  const CrashWireReport& wire = LastCrashWireReport();
  Print("summary_bytes", uint64_t(wire.summary_bytes));
  Print("parts_total", wire.parts_total);
  Print("parts_sent", wire.parts_sent);
  Print("parts_us", wire.parts_us);
}

// Game-like memory: text-ish runs, small integers and noise, so the ratio is not that of zeros.
void FillHeap(int mib) {
  uint32_t seed = 12345;
  for (int i = 0; i < mib; ++i) {
    auto* block = static_cast<uint32_t*>(HeapAlloc(GetProcessHeap(), 0, kBlock));
    if (!block) break;
    for (SIZE_T w = 0; w < kBlock / 4; ++w) {
      seed = seed * 1664525u + 1013904223u;
      switch ((w >> 8) & 3) {
        case 0: block[w] = 0x656d6167u; break;          // "game"
        case 1: block[w] = uint32_t(w & 0xFF); break;   // counters
        case 2: block[w] = seed; break;                 // noise
        default: block[w] = 0; break;
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  int heap_mib = argc > 1 ? atoi(argv[1]) : 0;
  uint32_t flags = argc > 2 ? uint32_t(strtoul(argv[2], nullptr, 16)) : 0x00010101;
  VXIdent_Init();
  VXIdent_Set_Int(1, 11, 0);
  VXIdent_Set_Int(3, 33, 0);
  VXIdent_Set_Int(4, 44, 0);
  VXException* module = GetVXException();
  module->SetCrashDumpFormat(flags, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  module->SetExitHook(PrintReport);
  FillHeap(heap_mib);
  Print("fault_us", UnixMicroseconds());
  *static_cast<volatile int*>(nullptr) = 1;
  return 0;
}
