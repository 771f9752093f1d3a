// Guarded regions with real faults, under wine64.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "guard/guard.h"
#include "tests/guard/own_handlers_win.h"

namespace {

volatile int* volatile g_null = nullptr;
volatile int g_zero = 0;

void ReadNull(void*) { (void)*g_null; }
void WriteNull(void*) { *g_null = 1; }
void DivideByZero(void*) { g_zero = 10 / g_zero; }
void IllegalInstruction(void*) { asm volatile("ud2"); }
void PrivilegedInstruction(void*) { asm volatile("hlt"); }
void WriteReadOnly(void*) {
  static const int kConstant = 1;
  *const_cast<volatile int*>(&kConstant) = 2;
}

volatile bool g_recurse = true;  // never cleared; keeps the compiler from seeing an endless loop

__attribute__((noinline)) int Recurse(int depth) {
  volatile char block[4096];
  block[0] = static_cast<char>(depth);
  return g_recurse ? Recurse(depth + 1) + block[0] : 0;
}
void OverflowStack(void*) { Recurse(0); }

struct FaultRow {
  const char* name;
  GuardedFn fn;
  DWORD code;
};

const FaultRow kFaults[] = {
    {"read through null", ReadNull, EXCEPTION_ACCESS_VIOLATION},
    {"write through null", WriteNull, EXCEPTION_ACCESS_VIOLATION},
    {"write to read-only data", WriteReadOnly, EXCEPTION_ACCESS_VIOLATION},
    {"integer division by zero", DivideByZero, EXCEPTION_INT_DIVIDE_BY_ZERO},
    {"illegal instruction", IllegalInstruction, EXCEPTION_ILLEGAL_INSTRUCTION},
    {"privileged instruction", PrivilegedInstruction, EXCEPTION_PRIV_INSTRUCTION},
    {"stack overflow", OverflowStack, EXCEPTION_STACK_OVERFLOW},
};

TEST(Guard, EachFaultEndsItsRegionWithItsCode) {
  for (const FaultRow& row : kFaults) {
    SCOPED_TRACE(row.name);
    uint32_t code = 0;
    EXPECT_FALSE(RunGuarded(row.fn, nullptr, &code));
    EXPECT_EQ(code, row.code);
  }
}

TEST(Guard, StackOverflowCanHappenAgain) {
  // The first overflow used up the guard page; without a new one the second would end the
  // process instead of raising an exception.
  for (int round = 0; round < 3; ++round) {
    uint32_t code = 0;
    EXPECT_FALSE(RunGuarded(OverflowStack, nullptr, &code)) << "round " << round;
    EXPECT_EQ(code, EXCEPTION_STACK_OVERFLOW) << "round " << round;
  }
}

TEST(Guard, CompletedRegionReportsSuccessAndTheWorkItDid) {
  int calls = 0;
  uint32_t code = 123;
  EXPECT_TRUE(RunGuardedCall([&] { ++calls; }, &code));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(code, 0u);
}

TEST(Guard, WorkBeforeTheFaultStaysAndTheCallerGoesOn) {
  // Values live in callee-saved registers across the region; the recovery must give them back.
  int done = 0;
  double sum = 0.5;
  long long product = 3;
  for (int i = 0; i < 50; ++i) {
    const bool ok = RunGuardedCall([&] {
      ++done;
      if (i % 2) *g_null = i;
    });
    EXPECT_EQ(ok, i % 2 == 0);
    sum += i * 0.25;
    product = product * 7 % 1000003;
  }
  EXPECT_EQ(done, 50);
  EXPECT_DOUBLE_EQ(sum, 0.5 + 0.25 * (49 * 50 / 2));
  long long expected = 3;
  for (int i = 0; i < 50; ++i) expected = expected * 7 % 1000003;
  EXPECT_EQ(product, expected);
}

TEST(Guard, NestedRegionsEndOnlyTheInnermost) {
  std::vector<int> steps;
  const bool outer = RunGuardedCall([&] {
    steps.push_back(1);
    const bool middle = RunGuardedCall([&] {
      steps.push_back(2);
      const bool inner = RunGuardedCall([&] {
        steps.push_back(3);
        *g_null = 0;
        steps.push_back(-3);
      });
      steps.push_back(inner ? -4 : 4);
    });
    steps.push_back(middle ? 5 : -5);
    const bool second = RunGuardedCall([&] { *g_null = 0; });
    steps.push_back(second ? -6 : 6);
  });
  EXPECT_TRUE(outer);
  EXPECT_EQ(steps, (std::vector<int>{1, 2, 3, 4, 5, 6}));

  // A fault in the outer region after an inner one completed ends the outer one.
  steps.clear();
  EXPECT_FALSE(RunGuardedCall([&] {
    EXPECT_TRUE(RunGuardedCall([&] { steps.push_back(1); }));
    *g_null = 0;
    steps.push_back(-1);
  }));
  EXPECT_EQ(steps, (std::vector<int>{1}));
}

struct ThreadWork {
  std::atomic<int>* start;
  int faults_caught;
  int clean_completed;
};

DWORD WINAPI FaultManyTimes(void* param) {
  ThreadWork* work = static_cast<ThreadWork*>(param);
  while (work->start->load() == 0) Sleep(0);
  for (int i = 0; i < 200; ++i) {
    if (!RunGuarded(i % 3 ? WriteNull : DivideByZero, nullptr)) ++work->faults_caught;
    if (RunGuardedCall([] {})) ++work->clean_completed;
  }
  return 0;
}

TEST(Guard, RegionsOnManyThreadsAtOnce) {
  constexpr int kThreads = 6;
  std::atomic<int> start(0);
  ThreadWork work[kThreads + 1];
  HANDLE threads[kThreads];
  for (int i = 0; i <= kThreads; ++i) work[i] = ThreadWork{&start, 0, 0};
  for (int i = 0; i < kThreads; ++i) {
    threads[i] = CreateThread(nullptr, 0, FaultManyTimes, &work[i], 0, nullptr);
    ASSERT_NE(threads[i], nullptr);
  }
  start = 1;
  FaultManyTimes(&work[kThreads]);  // the calling thread takes part too
  ASSERT_EQ(WaitForMultipleObjects(kThreads, threads, TRUE, 60000), WAIT_OBJECT_0);
  for (int i = 0; i < kThreads; ++i) CloseHandle(threads[i]);
  for (int i = 0; i <= kThreads; ++i) {
    EXPECT_EQ(work[i].faults_caught, 200) << "thread " << i;
    EXPECT_EQ(work[i].clean_completed, 200) << "thread " << i;
  }
}

// What a frame-based handler outside the region saw; it continues every exception it is given.
std::vector<DWORD> g_seen;

EXCEPTION_DISPOSITION RecordAndContinue(EXCEPTION_RECORD* record, CONTEXT* context) {
  const DWORD code = record->ExceptionCode;
  g_seen.push_back(code);
  // A real int3 may be reported with the instruction pointer still on it.
  auto& ip = InstructionPointer(context);
  if (code == EXCEPTION_BREAKPOINT && *reinterpret_cast<unsigned char*>(ip) == 0xCC) ++ip;
  return ExceptionContinueExecution;
}

class GuardPassThrough : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen.clear();
    g_outer_handler = RecordAndContinue;
  }
  void TearDown() override { g_outer_handler = nullptr; }

  // Runs f in a region, itself inside a frame whose handler records and continues.
  template <typename F>
  static bool RunObserved(F f) {
    struct Call {
      F* f;
      bool returned;
    } call = {&f, false};
    CallUnderOuterHandler([](void* p) {
      Call* c = static_cast<Call*>(p);
      c->returned = RunGuardedCall(*c->f);
    }, &call);
    return call.returned;
  }
};

TEST_F(GuardPassThrough, ExceptionsThatAreNotFaultsGoOnToTheHandlersOutside) {
  // Breakpoints come from a real int3 below: a raised one is reported one byte before the call on
  // i686, as Windows' x86 dispatcher does for every breakpoint, so continuing it is not simple.
  const DWORD kCodes[] = {
      0x40010006,            // DBG_PRINTEXCEPTION_C
      0x4001000A,            // DBG_PRINTEXCEPTION_WIDE_C
      0xE06D7363,            // MSVC C++ throw
      0x20474343,            // GCC C++ throw
      0xFFFF0002,            // the module's own
      0x12345678,            // any other software exception
  };
  for (DWORD code : kCodes) {
    SCOPED_TRACE(code);
    g_seen.clear();
    EXPECT_TRUE(RunObserved([&] { RaiseException(code, 0, 0, nullptr); }));
    EXPECT_EQ(g_seen, std::vector<DWORD>{code});
  }
}

TEST_F(GuardPassThrough, RealBreakpointAndDebuggerOutputPass) {
  EXPECT_TRUE(RunObserved([] { asm volatile("int3"); }));
  EXPECT_EQ(g_seen, std::vector<DWORD>{EXCEPTION_BREAKPOINT});
  g_seen.clear();
  EXPECT_TRUE(RunObserved([] { OutputDebugStringA("guarded debugger output\n"); }));
}

TEST_F(GuardPassThrough, FaultsInsideTheRegionNeverReachTheHandlersOutside) {
  for (const FaultRow& row : kFaults) {
    SCOPED_TRACE(row.name);
    EXPECT_FALSE(RunObserved([&] { row.fn(nullptr); }));
  }
  EXPECT_EQ(g_seen, std::vector<DWORD>{});
}

TEST(Guard, CppExceptionsPassThroughRegions) {
  int caught_inside = 0;
  EXPECT_TRUE(RunGuardedCall([&] {
    try {
      throw std::runtime_error("inside");
    } catch (const std::runtime_error&) {
      ++caught_inside;
    }
  }));
  EXPECT_EQ(caught_inside, 1);

  bool caught_outside = false;
  try {
    RunGuardedCall([] { throw std::runtime_error("through"); });
  } catch (const std::runtime_error& error) {
    caught_outside = std::strcmp(error.what(), "through") == 0;
  }
  EXPECT_TRUE(caught_outside);
  // The region the exception left is gone: the next fault belongs to a new one.
  EXPECT_FALSE(RunGuarded(WriteNull, nullptr));
}

}  // namespace
