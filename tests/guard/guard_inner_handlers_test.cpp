// Code inside a region that handles its own faults: the system's probing functions, a handler a
// host or a driver installed itself. A region only takes what nothing inside it handled.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "guard/guard.h"
#include "tests/guard/own_handlers_win.h"

namespace {

constexpr SIZE_T kReservation = 64 * 1024;

struct ProbeRow {
  const char* name;
  BOOL (*probe)(void* address);
  void* address;
  BOOL expected;
};

TEST(GuardInnerHandlers, ProbingFunctionsAnswerInsideARegionAndTheRegionGoesOn) {
  // Reserved but never committed: reading it faults on every system, and the probe's own handler
  // must see that fault before the region does.
  void* reserved = VirtualAlloc(nullptr, kReservation, MEM_RESERVE, PAGE_NOACCESS);
  ASSERT_NE(reserved, nullptr);
  static const char kReadOnly[8] = "const";
  char writable[8] = {};
  const ProbeRow rows[] = {
      // Wine answers a null pointer without touching it; the reserved page below faults there too.
      {"read null", [](void* p) { return IsBadReadPtr(p, 4); }, nullptr, TRUE},
      {"read reserved", [](void* p) { return IsBadReadPtr(p, 4); }, reserved, TRUE},
      {"write reserved", [](void* p) { return IsBadWritePtr(p, 4); }, reserved, TRUE},
      {"string in reserved", [](void* p) { return IsBadStringPtrA(static_cast<char*>(p), 16); }, reserved, TRUE},
      {"write read-only data", [](void* p) { return IsBadWritePtr(p, 4); }, const_cast<char*>(kReadOnly), TRUE},
      {"read writable", [](void* p) { return IsBadReadPtr(p, 4); }, writable, FALSE},
  };
  for (const ProbeRow& row : rows) {
    SCOPED_TRACE(row.name);
    BOOL answer = -1;
    bool reached_end = false;
    uint32_t code = 0;
    EXPECT_TRUE(RunGuardedCall(
        [&] {
          answer = row.probe(row.address);
          reached_end = true;
        },
        &code));
    EXPECT_EQ(answer, row.expected);
    EXPECT_TRUE(reached_end);
    EXPECT_EQ(code, 0u);
  }
  VirtualFree(reserved, 0, MEM_RELEASE);
}

TEST(GuardInnerHandlers, AHandlerInsideTheRegionRepairsItsFaultAndTheRegionGoesOn) {
  int result = 0;
  bool reached_end = false;
  EXPECT_TRUE(RunGuardedCall([&] {
    result = FaultRepairedByOwnHandler();
    reached_end = true;
  }));
  EXPECT_EQ(result, kRepairedMark);
  EXPECT_TRUE(reached_end);
  // Many times over: each repair leaves the region and the thread's handlers as they were.
  int repaired = 0;
  for (int i = 0; i < 100; ++i) {
    RunGuardedCall([&] { repaired += FaultRepairedByOwnHandler() == kRepairedMark; });
  }
  EXPECT_EQ(repaired, 100);
  EXPECT_FALSE(RunGuardedCall([] { *static_cast<volatile int*>(nullptr) = 1; }));
}

TEST(GuardInnerHandlers, AFaultAHandlerInsideDeclinesEndsTheRegionAfterThatHandlerSawIt) {
  g_declining_calls = HandlerCalls{};
  uint32_t code = 0;
  EXPECT_FALSE(RunGuarded(FaultUnderDecliningHandler, nullptr, &code));
  EXPECT_EQ(code, EXCEPTION_ACCESS_VIOLATION);
  EXPECT_EQ(g_declining_calls.search, 1);
  // The region ends as __except does: the frames between the fault and the region are unwound,
  // and their handlers are told so.
  EXPECT_EQ(g_declining_calls.unwind, 1);
}

std::vector<DWORD> g_outside_saw;

EXCEPTION_DISPOSITION RecordAndDecline(EXCEPTION_RECORD* record, CONTEXT*) {
  g_outside_saw.push_back(record->ExceptionCode);
  return ExceptionContinueSearch;
}

TEST(GuardInnerHandlers, ARegionInsideAHandlersFrameTakesItsFaultBeforeThatHandler) {
  g_outside_saw.clear();
  g_outer_handler = RecordAndDecline;
  struct Steps {
    bool inner_returned = true;
    bool after_inner = false;
  } steps;
  // outer region > a frame with its own handler > inner region > fault
  const bool outer = RunGuardedCall([&] {
    CallUnderOuterHandler(
        [](void* p) {
          Steps* s = static_cast<Steps*>(p);
          s->inner_returned = RunGuardedCall([] { *static_cast<volatile int*>(nullptr) = 1; });
          s->after_inner = true;
          // Now outside the inner region: the handler's frame is the first to see this one, and
          // it declines it to the outer region.
          *static_cast<volatile int*>(nullptr) = 2;
        },
        &steps);
  });
  g_outer_handler = nullptr;
  EXPECT_FALSE(steps.inner_returned);
  EXPECT_TRUE(steps.after_inner);
  EXPECT_FALSE(outer);
  EXPECT_EQ(g_outside_saw, std::vector<DWORD>{EXCEPTION_ACCESS_VIOLATION});
}

}  // namespace
