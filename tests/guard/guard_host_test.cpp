// Faults outside any region reach the process's unhandled-exception filter; run in a child
// process, since that ends it.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/sibling_process_win.h"

#include <string>

namespace {

constexpr DWORD kFilterReached = 42;
constexpr DWORD kNoFault = 3;
constexpr DWORD kChildTimeoutMs = 30000;

DWORD RunHost(const char* mode) { return RunSiblingProgram("guard_fault_host.exe", mode, kChildTimeoutMs); }

TEST(GuardHost, FaultOutsideAnyRegionReachesTheFilter) {
  EXPECT_EQ(RunHost("outside"), kFilterReached);
}

TEST(GuardHost, FaultAfterACppExceptionLeftARegionReachesTheFilter) {
  EXPECT_EQ(RunHost("after-throw"), kFilterReached);
}

TEST(GuardHost, FaultOnAnotherThreadIsNotTakenByThisThreadsRegion) {
  EXPECT_EQ(RunHost("other-thread"), kFilterReached);
}

TEST(GuardHost, FaultAfterManyRecoveriesReachesTheFilter) {
  EXPECT_EQ(RunHost("after-recoveries"), kFilterReached);
}

TEST(GuardHost, FaultInsideARegionDoesNotReachTheFilter) {
  EXPECT_EQ(RunHost("inside"), kNoFault);
}

}  // namespace
