// A host that crashes on purpose, linked with the library's own objects so that it can reach the
// module (exit hook, dump formats, log levels) the way the library's own code does. Arguments run
// in order; "name=value" lines go to standard error for the driver.
//
//   init | ids | hook | format HEX [callback] | threads N | heaplock | dllmain | echoheld
//   clientlock | nothread | stdioheld | noaddressspace | stackdata KIB | reports
//   av | exception | overflow | smallstackoverflow | twofaults | userdump | dumplevel | knownfault
// callback: extra (writes a text into LastMessage) or secondfault (also faults on a new thread
// while the worker runs).
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "VXIdent.h"
#include "client/library_wiring_win.h"
#include "crashcapture/crash_capture.h"
#include "crashmodule/vx_exception.h"
#include "tests/support/fault_clock_win.h"

namespace {

void Line(const char* name, long long value) {
  char text[96];
  int n = snprintf(text, sizeof text, "%s=%lld\n", name, value);
  DWORD written;
  // WriteFile, not stdio: the exit hook runs while the other threads are frozen.
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, DWORD(n), &written, nullptr);
}

void ExitHookMarker() {
  HANDLE f = CreateFileA("exit_hook.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written;
  WriteFile(f, "called", 6, &written, nullptr);
  CloseHandle(f);
  Line("exit_hook", 1);
  const CrashWireReport& wire = LastCrashWireReport();
  Line("parts_total", wire.parts_total);
  Line("parts_sent", wire.parts_sent);
}

constexpr char kExtraText[] = "extra information from the host";

void ExtraInfo(char* last_message, DumpFormat*) { strcpy(last_message, kExtraText); }

DWORD WINAPI FaultNow(LPVOID) {
  *static_cast<volatile int*>(nullptr) = 2;
  return 0;
}

// A fault on a thread the snapshot never saw, while the worker is building the report.
void ExtraInfoThenFault(char* last_message, DumpFormat* format) {
  ExtraInfo(last_message, format);
  HANDLE t = CreateThread(nullptr, 0, FaultNow, nullptr, 0, nullptr);
  DWORD waited = WaitForSingleObject(t, 2000);
  Line("second_fault_thread_ended", waited == WAIT_OBJECT_0);
}

volatile LONG g_spin;

// Paced, so that the collector's socket is not flooded and the package datagram still fits in.
DWORD WINAPI CounterLoop(LPVOID key) {
  for (;;) {
    VXIdent_Set_Counter(int(INT_PTR(key)), 1, 0);
    Sleep(1);
  }
}

DWORD WINAPI Spin(LPVOID) {
  for (;;) InterlockedIncrement(&g_spin);
}

void StartThreads(int n) {
  for (int i = 0; i < n; ++i) {
    DWORD id = 0;
    CreateThread(nullptr, 0, i % 2 ? Spin : CounterLoop, reinterpret_cast<LPVOID>(INT_PTR(100 + i)), 0,
                 &id);
    Line("made_tid", id);
  }
  Sleep(300);
}

HANDLE g_ready;

DWORD WINAPI HoldHeap(LPVOID) {
  HeapLock(GetProcessHeap());
  SetEvent(g_ready);
  Sleep(INFINITE);
  return 0;
}

DWORD WINAPI LoadSleepyDll(LPVOID) {
  LoadLibraryA("crash_sleepy_dll.dll");  // its DllMain signals and never returns
  return 0;
}

DWORD WINAPI HoldStdout(LPVOID) {
  _lock_file(stdout);
  SetEvent(g_ready);
  Sleep(INFINITE);
  return 0;
}

void WaitReady(const char* what, HANDLE (*start)()) {
  start();
  Line(what, WaitForSingleObject(g_ready, 10000) == WAIT_OBJECT_0);
}

// Blocks a reporting thread inside the transport's echo, for good: its WriteFile goes to a pipe
// that another thread has filled and nobody reads. Standard output is then put back, so the crash
// worker's own echo still goes out.
volatile LONG g_report_returned;

DWORD WINAPI FillPipe(LPVOID pipe) {
  static char junk[65536];
  DWORD written;
  for (;;) WriteFile(pipe, junk, sizeof junk, &written, nullptr);
}

DWORD WINAPI ReportInto(LPVOID counter) {
  if (counter) {
    VXIdent_Set_Counter(7, 1, 0);  // takes ClientLock around its send and echo
  } else {
    char blob[100] = {1};
    VXIdent_Set_Bin(7, blob, sizeof blob);  // no lock, only the echo
  }
  InterlockedExchange(&g_report_returned, 1);
  return 0;
}

void BlockInEcho(bool with_client_lock) {
  HANDLE read_end, write_end;
  CreatePipe(&read_end, &write_end, nullptr, 4096);
  CreateThread(nullptr, 0, FillPipe, write_end, 0, nullptr);
  Sleep(300);
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_OUTPUT_HANDLE, write_end);
  CreateThread(nullptr, 0, ReportInto, reinterpret_cast<LPVOID>(INT_PTR(with_client_lock)), 0, nullptr);
  Sleep(1000);
  SetStdHandle(STD_OUTPUT_HANDLE, out);
  Line(with_client_lock ? "blocked_in_clientlock" : "blocked_in_echo", g_report_returned == 0);
}

// From now on CreateThread fails in this program: its import entry is pointed at a function that
// refuses, so the filter cannot start its worker. The host and the library's objects share the
// one import table of this executable.
HANDLE WINAPI RefuseThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return nullptr;
}

bool RefuseNewThreads() {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  FARPROC real = GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateThread");
  bool patched = false;
  for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp) {
    for (auto* entry = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk); entry->u1.Function; ++entry) {
      if (reinterpret_cast<FARPROC>(entry->u1.Function) != real) continue;
      volatile ULONG_PTR* slot = &entry->u1.Function;
      DWORD old;
      if (!VirtualProtect(const_cast<ULONG_PTR*>(slot), sizeof *slot, PAGE_READWRITE, &old)) continue;
      *slot = reinterpret_cast<ULONG_PTR>(&RefuseThread);
      VirtualProtect(const_cast<ULONG_PTR*>(slot), sizeof *slot, old, &old);
      patched = true;
    }
  }
  return patched && CreateThread(nullptr, 0, FaultNow, nullptr, CREATE_SUSPENDED, nullptr) == nullptr;
}

__attribute__((noinline)) int Recurse(volatile int depth) {
  volatile char frame[4096];
  frame[0] = char(depth);
  return depth < 0 ? 0 : Recurse(depth + 1) + frame[0];
}

// A thread whose whole stack reservation is 64 KiB, as some engines give their workers.
constexpr SIZE_T kSmallStack = 64 * 1024;

DWORD WINAPI OverflowHere(LPVOID) {
  Line("fault_tid", GetCurrentThreadId());
  Line("never", Recurse(0));
  return 0;
}

// Reserves the process's address space until VirtualAlloc fails at every size down to the
// allocation granularity, as a 32-bit game that has used it all up. Reserved, not committed:
// what runs out is addresses, not memory. A 64-bit process has too much to use up: 0.
bool UseUpAddressSpace() {
  if (sizeof(void*) != 4) return false;
  SIZE_T reserved = 0;
  for (SIZE_T size = SIZE_T(256) << 20; size >= 64 * 1024; size /= 2) {
    while (VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS)) reserved += size;
  }
  Line("reserved_mib", static_cast<long long>(reserved >> 20));
  return VirtualAlloc(nullptr, 64 * 1024, MEM_RESERVE, PAGE_NOACCESS) == nullptr;
}

HANDLE g_go;

DWORD WINAPI FaultOnGo(LPVOID) {
  Line("fault_tid", GetCurrentThreadId());
  WaitForSingleObject(g_go, INFINITE);
  *static_cast<volatile int*>(nullptr) = 3;
  return 0;
}

// Faults at a place the driver can check the crash summary against: this function's address, the
// address it returns to, and the image it lies in.
__attribute__((noinline)) void FaultInKnownPlace() {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  Line("host_base", reinterpret_cast<INT_PTR>(base));
  Line("host_size", nt->OptionalHeader.SizeOfImage);
  Line("host_stamp", nt->FileHeader.TimeDateStamp);
  Line("fault_function", reinterpret_cast<INT_PTR>(&FaultInKnownPlace));
  Line("return_address", reinterpret_cast<INT_PTR>(__builtin_return_address(0)));
  *static_cast<volatile int*>(nullptr) = 4;
}

// A thread whose stack holds `kib` KiB of bytes that do not compress, so that a minidump with the
// threads' stacks (MiniDumpNormal) makes a package of about that size.
DWORD WINAPI HoldStackData(LPVOID kib_ptr) {
  const size_t size = size_t(INT_PTR(kib_ptr)) * 1024;
  auto* data = static_cast<volatile uint8_t*>(__builtin_alloca(size));
  uint64_t x = 88172645463325252ull;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;  // xorshift64
    data[i] = uint8_t(x >> 56);
  }
  SetEvent(g_ready);
  Sleep(INFINITE);
  return data[0];
}

}  // namespace

int main(int argc, char** argv) {
  g_ready = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  VXException* module = GetVXException();
  Line("tid", GetCurrentThreadId());
  for (int i = 1; i < argc; ++i) {
    const char* op = argv[i];
    if (!strcmp(op, "av") || !strcmp(op, "exception") || !strcmp(op, "overflow") || !strcmp(op, "twofaults") ||
        !strcmp(op, "smallstackoverflow")) {
      Line("fault_ms", FaultClockMilliseconds());
    }
    if (!strcmp(op, "init")) {
      Line("init", VXIdent_Init());
    } else if (!strcmp(op, "ids")) {
      VXIdent_Set_Int(1, 11, 0);
      VXIdent_Set_Int(3, 33, 0);
      VXIdent_Set_Int(4, 44, 0);
    } else if (!strcmp(op, "hook")) {
      module->SetExitHook(ExitHookMarker);
    } else if (!strcmp(op, "format")) {
      uint32_t flags = uint32_t(strtoul(argv[++i], nullptr, 16));
      ExtraInfoCallback callback = nullptr;
      if (i + 1 < argc && !strcmp(argv[i + 1], "extra")) callback = ExtraInfo, ++i;
      else if (i + 1 < argc && !strcmp(argv[i + 1], "secondfault")) callback = ExtraInfoThenFault, ++i;
      module->SetCrashDumpFormat(flags, nullptr, callback, nullptr, nullptr, nullptr, nullptr);
    } else if (!strcmp(op, "threads")) {
      StartThreads(atoi(argv[++i]));
    } else if (!strcmp(op, "heaplock")) {
      WaitReady("heap_held", [] { return CreateThread(nullptr, 0, HoldHeap, nullptr, 0, nullptr); });
    } else if (!strcmp(op, "stdioheld")) {
      WaitReady("stdio_held", [] { return CreateThread(nullptr, 0, HoldStdout, nullptr, 0, nullptr); });
    } else if (!strcmp(op, "dllmain")) {
      HANDLE entered = CreateEventA(nullptr, TRUE, FALSE, "vx_crash_sleepy_dllmain");
      CreateThread(nullptr, 0, LoadSleepyDll, nullptr, 0, nullptr);
      Line("in_dllmain", WaitForSingleObject(entered, 10000) == WAIT_OBJECT_0);
    } else if (!strcmp(op, "echoheld")) {
      BlockInEcho(false);
    } else if (!strcmp(op, "clientlock")) {
      BlockInEcho(true);
    } else if (!strcmp(op, "nothread")) {
      Line("threads_refused", RefuseNewThreads());
    } else if (!strcmp(op, "stackdata")) {
      INT_PTR kib = atoi(argv[++i]);
      CreateThread(nullptr, SIZE_T(kib + 1024) * 1024, HoldStackData, reinterpret_cast<LPVOID>(kib),
                   STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
      Line("stack_data", WaitForSingleObject(g_ready, 30000) == WAIT_OBJECT_0);
    } else if (!strcmp(op, "reports")) {
      // One report of each kind that is not a blob, sent at once.
      Line("counter", VXIdent_Set_Counter(5, 1, 0));
      Line("text", VXIdent_Set_Str(6, "a text of the crash host"));
    } else if (!strcmp(op, "knownfault")) {
      FaultInKnownPlace();
    } else if (!strcmp(op, "av")) {
      *static_cast<volatile int*>(nullptr) = 1;
    } else if (!strcmp(op, "exception")) {
      module->Exception("the host raised its error", "crash_host");
    } else if (!strcmp(op, "noaddressspace")) {
      Line("address_space_used_up", UseUpAddressSpace());
    } else if (!strcmp(op, "overflow")) {
      Line("never", Recurse(0));
    } else if (!strcmp(op, "smallstackoverflow")) {
      CreateThread(nullptr, kSmallStack, OverflowHere, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
      Sleep(INFINITE);
    } else if (!strcmp(op, "twofaults")) {
      g_go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      CreateThread(nullptr, 0, FaultOnGo, nullptr, 0, nullptr);
      CreateThread(nullptr, 0, FaultOnGo, nullptr, 0, nullptr);
      Sleep(200);
      SetEvent(g_go);
      Sleep(INFINITE);
    } else if (!strcmp(op, "userdump")) {
      Line("userdump", module->DumpProgram(kUserDump, nullptr, 0));
    } else if (!strcmp(op, "dumplevel")) {
      module->Dump("the host asked for a dump", "crash_host");
      Line("dumplevel_returned", 1);
    }
  }
  Line("end", 0);
  return 0;
}
