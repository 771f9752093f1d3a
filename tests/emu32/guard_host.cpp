// Guarded regions on i686, where structured exception handling is a chain of records on the stack
// headed at fs:[0]. A recovery that leaves the chain head pointing into the abandoned frames
// sends the next exception of the thread into dead stack: it crashes later and elsewhere. So every
// case checks the chain head against its value before the region, and the program ends with
// faults outside any region that must still reach the host's own handler and then the process's
// unhandled-exception filter, which ends the process with exit code 7 (8 when a case failed).
//
// Usage: emu32_guard_host.exe [throw]
// "throw" instead checks that a C++ exception thrown inside a region reaches the host's catch
// and leaves no stale region behind; it exits 0 when it does.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "guard/guard.h"

namespace {

int g_failures = 0;

void Check(const char* name, bool ok, const char* detail = "") {
  std::printf("case %s %s%s%s\n", name, ok ? "ok" : "FAIL", *detail ? ": " : "", detail);
  if (!ok) ++g_failures;
}

uintptr_t SehHead() {
  uintptr_t head;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}

// Writes to address 0; the host handler below knows the instruction is 10 bytes long.
void WriteNull(void*) { asm volatile("movl $0, 0" ::: "memory"); }

void DivideByZero(void* arg) {
  volatile int zero = *static_cast<int*>(arg);
  volatile int result = 100 / zero;
  (void)result;
}

}  // namespace

extern "C" {
// A host's own SEH handler: skips the faulting 10-byte store and reports through eax.
EXCEPTION_DISPOSITION __cdecl HostSehHandler(EXCEPTION_RECORD* record, void*, CONTEXT* context, void*) {
  if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || (record->ExceptionFlags & 6) != 0) {
    return ExceptionContinueSearch;  // 6: unwinding or exit unwinding, nothing to repair then
  }
  context->Eip += 10;
  context->Eax = 0x600D;
  return ExceptionContinueExecution;
}

// A handler that declines everything: the record it belongs to only has to be on the chain.
EXCEPTION_DISPOSITION __cdecl DecliningHandler(EXCEPTION_RECORD*, void*, CONTEXT*, void*) {
  return ExceptionContinueSearch;
}
}

namespace {

// Faults with a record of the host's handler on top of the chain, outside any region: the
// handler must see the fault, so the result is 0x600D. Anything else means the chain or the
// guard's handler took the fault somewhere it should not have.
int HostSehProbe() {
  int result;
  asm volatile(
      "pushl $_HostSehHandler\n\t"
      "pushl %%fs:0\n\t"
      "movl %%esp, %%fs:0\n\t"
      "xorl %%eax, %%eax\n\t"
      "movl $0, 0\n\t"
      "popl %%fs:0\n\t"
      "addl $4, %%esp\n\t"
      : "=a"(result)
      :
      : "memory", "cc");
  return result;
}

// Faults with a record of its own on the chain, as a frame compiled with SEH would have; the
// recovery abandons that record with the frame.
void FaultUnderOwnRecord(void*) {
  asm volatile(
      "pushl $_DecliningHandler\n\t"
      "pushl %%fs:0\n\t"
      "movl %%esp, %%fs:0\n\t"
      "movl $0, 0\n\t"
      "popl %%fs:0\n\t"
      "addl $4, %%esp\n\t" ::
          : "memory", "cc");
}

// Leaves eight values on the x87 register stack and faults: a recovery that does not reset the
// floating-point unit leaves the stack full, and the next load gives a NaN.
void FaultWithFullX87Stack(void*) {
  asm volatile(
      "fld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1\n\t"
      "movl $0, 0\n\t" ::
          : "memory", "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", "st(7)");
}

double X87Third() {
  // i686 code does its double arithmetic on the x87 stack.
  volatile double one = 1.0, three = 3.0;
  return one / three;
}

int g_depth = 0;
// Runs until the stack is gone, on purpose.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
void Recurse(void* arg) {
  volatile char pad[2048];
  pad[0] = static_cast<char>(g_depth++);
  Recurse(arg);
  pad[1] = pad[0];  // keeps the call from becoming a jump
}
#pragma GCC diagnostic pop

void CaseFaults() {
  const uintptr_t head = SehHead();
  uint32_t code = 0;
  bool returned = RunGuarded(WriteNull, nullptr, &code);
  Check("access_violation", !returned && code == EXCEPTION_ACCESS_VIOLATION && SehHead() == head);
  int zero = 0;
  returned = RunGuarded(DivideByZero, &zero, &code);
  Check("divide_by_zero", !returned && code == EXCEPTION_INT_DIVIDE_BY_ZERO && SehHead() == head);
  returned = RunGuarded([](void*) {}, nullptr, &code);
  Check("clean_return", returned && code == 0 && SehHead() == head);
}

void CaseAbandonedRecord() {
  const uintptr_t head = SehHead();
  uint32_t code = 0;
  const bool returned = RunGuarded(FaultUnderOwnRecord, nullptr, &code);
  char detail[64];
  std::snprintf(detail, sizeof detail, "head %08lx before, %08lx after", static_cast<unsigned long>(head),
                static_cast<unsigned long>(SehHead()));
  Check("abandoned_seh_record", !returned && code == EXCEPTION_ACCESS_VIOLATION && SehHead() == head, detail);
}

void CaseNested() {
  const uintptr_t head = SehHead();
  int inner_faulted = 0;
  bool outer = RunGuardedCall([&] {
    inner_faulted = !RunGuarded(FaultUnderOwnRecord, nullptr);
    // The outer region is still the thread's region: its own fault ends it, not the program.
    WriteNull(nullptr);
  });
  Check("nested", inner_faulted == 1 && !outer && SehHead() == head);
}

void CaseX87() {
  RunGuarded(FaultWithFullX87Stack, nullptr);
  const double third = X87Third();
  char detail[64];
  std::snprintf(detail, sizeof detail, "1/3 computed as %.17g", third);
  Check("x87_reset", third > 0.333333 && third < 0.333334, detail);
}

void CaseStackOverflow() {
  // Twice: the first overflow uses up the guard page, and the guard must put a new one in place.
  for (int round = 1; round <= 2; ++round) {
    const uintptr_t head = SehHead();
    g_depth = 0;
    uint32_t code = 0;
    const bool returned = RunGuarded(Recurse, nullptr, &code);
    char name[32], detail[64];
    std::snprintf(name, sizeof name, "stack_overflow_%d", round);
    std::snprintf(detail, sizeof detail, "code %08lx after %d frames", static_cast<unsigned long>(code), g_depth);
    Check(name, !returned && code == EXCEPTION_STACK_OVERFLOW && SehHead() == head, detail);
  }
}

constexpr int kFaultsPerThread = 500;

DWORD WINAPI FaultLoop(void* arg) {
  const uintptr_t head = SehHead();
  int recovered = 0;
  for (int i = 0; i < kFaultsPerThread; ++i) {
    if (!RunGuarded(i % 2 ? WriteNull : FaultUnderOwnRecord, nullptr)) ++recovered;
    if (SehHead() != head) break;
  }
  *static_cast<int*>(arg) = recovered;
  return 0;
}

void CaseManyThreads() {
  constexpr int kThreads = 4;
  int recovered[kThreads] = {};
  HANDLE threads[kThreads];
  for (int t = 0; t < kThreads; ++t) threads[t] = CreateThread(nullptr, 0, FaultLoop, &recovered[t], 0, nullptr);
  const DWORD waited = WaitForMultipleObjects(kThreads, threads, TRUE, 120000);
  bool all = waited == WAIT_OBJECT_0;
  for (int t = 0; t < kThreads; ++t) {
    all = all && recovered[t] == kFaultsPerThread;
    CloseHandle(threads[t]);
  }
  // And this thread's chain, after its own long run.
  int here = 0;
  FaultLoop(&here);
  Check("threads", all && here == kFaultsPerThread);
}

void CaseHostHandler() {
  const int result = HostSehProbe();
  char detail[48];
  std::snprintf(detail, sizeof detail, "probe gave %#x", result);
  Check("host_seh_after_recoveries", result == 0x600D, detail);
}

LONG WINAPI TopLevelFilter(EXCEPTION_POINTERS* pointers) {
  std::printf("unhandled filter reached, code %08lx\n",
              static_cast<unsigned long>(pointers->ExceptionRecord->ExceptionCode));
  std::fflush(stdout);
  ExitProcess(g_failures == 0 ? 7 : 8);
}

struct Thrown : std::runtime_error {
  Thrown() : std::runtime_error("thrown through a region") {}
};

int ThrowThrough() {
  const uintptr_t head = SehHead();
  bool caught = false;
  try {
    RunGuardedCall([] { throw Thrown(); });
  } catch (const Thrown&) {
    caught = true;
  }
  Check("throw_caught_outside", caught && SehHead() == head);
  // A stale region would take this fault away from the host's handler.
  CaseHostHandler();
  return g_failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc > 1 && std::strcmp(argv[1], "throw") == 0) return ThrowThrough();
  SetUnhandledExceptionFilter(TopLevelFilter);
  CaseFaults();
  CaseAbandonedRecord();
  CaseNested();
  CaseX87();
  CaseStackOverflow();
  CaseManyThreads();
  CaseHostHandler();
  std::printf("cases done, %d failed; now an unguarded fault\n", g_failures);
  WriteNull(nullptr);
  std::printf("FAIL: the unguarded fault came back\n");
  return 9;
}
