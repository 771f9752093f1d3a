// Guarded regions on i686, where structured exception handling is a chain of registration records
// on the stack headed at fs:[0], and a region is one of them. A recovery that leaves the chain head
// pointing into the abandoned frames sends the next exception of the thread into dead stack: it
// crashes later and elsewhere. So every case checks the chain head against its value before the
// region, and the last ones check that faults outside any region still reach a handler of the
// host's own and the process's unhandled-exception filter.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>

#include "guard/guard.h"
#include "tests/guard/own_handlers_win.h"
#include "tests/support/sibling_process_win.h"

namespace {

constexpr DWORD kFilterReached = 42;  // guard_fault_host's exit code once its filter ran
constexpr DWORD kChildTimeoutMs = 120000;

uintptr_t SehHead() {
  uintptr_t head;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}

void WriteNull(void*) { *static_cast<volatile int*>(nullptr) = 0; }

void DivideByZero(void* arg) {
  volatile int zero = *static_cast<int*>(arg);
  volatile int result = 100 / zero;
  (void)result;
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

TEST(GuardChainI686, FaultsAndCleanReturnsLeaveTheChainHead) {
  const uintptr_t head = SehHead();
  uint32_t code = 0;
  EXPECT_FALSE(RunGuarded(WriteNull, nullptr, &code));
  EXPECT_EQ(code, EXCEPTION_ACCESS_VIOLATION);
  EXPECT_EQ(SehHead(), head);
  int zero = 0;
  EXPECT_FALSE(RunGuarded(DivideByZero, &zero, &code));
  EXPECT_EQ(code, EXCEPTION_INT_DIVIDE_BY_ZERO);
  EXPECT_EQ(SehHead(), head);
  EXPECT_TRUE(RunGuarded([](void*) {}, nullptr, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(SehHead(), head);
}

TEST(GuardChainI686, ARecordOfTheFaultingFrameIsTakenOffWithItsFrame) {
  const uintptr_t head = SehHead();
  g_declining_calls = HandlerCalls{};
  uint32_t code = 0;
  EXPECT_FALSE(RunGuarded(FaultUnderDecliningHandler, nullptr, &code));
  EXPECT_EQ(code, EXCEPTION_ACCESS_VIOLATION);
  EXPECT_EQ(SehHead(), head) << std::hex << "head " << head << " before, " << SehHead() << " after";
  // RtlUnwind told the record's handler that its frame was going.
  EXPECT_EQ(g_declining_calls.search, 1);
  EXPECT_EQ(g_declining_calls.unwind, 1);
}

TEST(GuardChainI686, HandlersInsideARegionKeepTheirFaultsAndTheChain) {
  const uintptr_t head = SehHead();
  void* reserved = VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_NOACCESS);
  ASSERT_NE(reserved, nullptr);
  BOOL bad = FALSE;
  int repaired = 0;
  uintptr_t head_inside = 0, head_after_probes = 0;
  EXPECT_TRUE(RunGuardedCall([&] {
    head_inside = SehHead();
    bad = IsBadReadPtr(reserved, 4);
    repaired = FaultRepairedByOwnHandler();
    head_after_probes = SehHead();
  }));
  VirtualFree(reserved, 0, MEM_RELEASE);
  EXPECT_TRUE(bad);
  EXPECT_EQ(repaired, kRepairedMark);
  // Inside, the region's own record heads the chain, and the handlers below it pushed and popped
  // theirs around it.
  EXPECT_NE(head_inside, head);
  EXPECT_EQ(head_after_probes, head_inside);
  EXPECT_EQ(SehHead(), head);
}

TEST(GuardChainI686, NestedRegionsEachKeepTheChain) {
  const uintptr_t head = SehHead();
  bool inner_faulted = false;
  const bool outer = RunGuardedCall([&] {
    inner_faulted = !RunGuarded(FaultUnderDecliningHandler, nullptr);
    // The outer region is still the thread's region: its own fault ends it, not the program.
    WriteNull(nullptr);
  });
  EXPECT_TRUE(inner_faulted);
  EXPECT_FALSE(outer);
  EXPECT_EQ(SehHead(), head);
}

TEST(GuardChainI686, RecoveryResetsTheX87Stack) {
  RunGuarded(FaultWithFullX87Stack, nullptr);
  const double third = X87Third();
  EXPECT_GT(third, 0.333333) << "1/3 computed as " << third;
  EXPECT_LT(third, 0.333334) << "1/3 computed as " << third;
}

TEST(GuardChainI686, StackOverflowTwice) {
  // The first overflow uses up the guard page, and the guard must put a new one in place.
  for (int round = 1; round <= 2; ++round) {
    const uintptr_t head = SehHead();
    g_depth = 0;
    uint32_t code = 0;
    EXPECT_FALSE(RunGuarded(Recurse, nullptr, &code)) << "round " << round;
    EXPECT_EQ(code, EXCEPTION_STACK_OVERFLOW) << "round " << round << " after " << g_depth << " frames";
    EXPECT_EQ(SehHead(), head) << "round " << round;
  }
}

constexpr int kFaultsPerThread = 500;

DWORD WINAPI FaultLoop(void* arg) {
  const uintptr_t head = SehHead();
  int recovered = 0;
  for (int i = 0; i < kFaultsPerThread; ++i) {
    if (!RunGuarded(i % 2 ? WriteNull : FaultUnderDecliningHandler, nullptr)) ++recovered;
    if (SehHead() != head) break;
  }
  *static_cast<int*>(arg) = recovered;
  return 0;
}

TEST(GuardChainI686, ManyThreadsEachKeepTheirChain) {
  constexpr int kThreads = 4;
  int recovered[kThreads] = {};
  HANDLE threads[kThreads];
  for (int t = 0; t < kThreads; ++t) {
    threads[t] = CreateThread(nullptr, 0, FaultLoop, &recovered[t], 0, nullptr);
    ASSERT_NE(threads[t], nullptr);
  }
  EXPECT_EQ(WaitForMultipleObjects(kThreads, threads, TRUE, 120000), WAIT_OBJECT_0);
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(recovered[t], kFaultsPerThread) << "thread " << t;
    CloseHandle(threads[t]);
  }
  // And this thread's chain, after its own long run.
  int here = 0;
  FaultLoop(&here);
  EXPECT_EQ(here, kFaultsPerThread);
}

TEST(GuardChainI686, AFaultOutsideAnyRegionReachesTheHostsHandlerAfterRecoveries) {
  for (int i = 0; i < 10; ++i) {
    RunGuarded(FaultUnderDecliningHandler, nullptr);
    RunGuarded(WriteNull, nullptr);
  }
  // A stale region record would take this fault away from the host's handler.
  EXPECT_EQ(FaultRepairedByOwnHandler(), kRepairedMark);
}

struct Thrown : std::runtime_error {
  Thrown() : std::runtime_error("thrown through a region") {}
};

TEST(GuardChainI686, ACppExceptionThroughARegionTakesItsRecordOff) {
  const uintptr_t head = SehHead();
  bool caught = false;
  try {
    RunGuardedCall([] { throw Thrown(); });
  } catch (const Thrown&) {
    caught = true;
  }
  EXPECT_TRUE(caught);
  EXPECT_EQ(SehHead(), head);
  EXPECT_EQ(FaultRepairedByOwnHandler(), kRepairedMark);
}

TEST(GuardChainI686, AFaultOutsideAnyRegionReachesTheFilterAfterRecoveries) {
  EXPECT_EQ(RunSiblingProgram("guard_fault_host.exe", "after-recoveries", kChildTimeoutMs), kFilterReached);
}

}  // namespace
