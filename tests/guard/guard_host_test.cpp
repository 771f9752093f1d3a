// Faults outside any region reach the process's unhandled-exception filter; run in a child
// process, since that ends it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr DWORD kFilterReached = 42;
constexpr DWORD kNoFault = 3;
constexpr DWORD kChildTimeoutMs = 30000;

// Runs guard_fault_host.exe (beside this program) with one argument; its exit code, or
// WAIT_TIMEOUT when it had to be killed.
DWORD RunHost(const char* mode) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string command(path, length);
  command = command.substr(0, command.find_last_of("\\/") + 1) + "guard_fault_host.exe";
  command = "\"" + command + "\" " + mode;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    ADD_FAILURE() << "cannot start " << command;
    return 0xFFFFFFFF;
  }
  DWORD code = WAIT_TIMEOUT;
  if (WaitForSingleObject(process.hProcess, kChildTimeoutMs) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.hProcess, &code);
  } else {
    TerminateProcess(process.hProcess, WAIT_TIMEOUT);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

TEST(GuardHost, FaultOutsideAnyRegionReachesTheFilter) {
  EXPECT_EQ(RunHost("outside"), kFilterReached);
}

TEST(GuardHost, FaultAfterACppExceptionLeftARegionReachesTheFilter) {
  EXPECT_EQ(RunHost("after-throw"), kFilterReached);
}

TEST(GuardHost, FaultOnAnotherThreadIsNotTakenByThisThreadsRegion) {
  EXPECT_EQ(RunHost("other-thread"), kFilterReached);
}

TEST(GuardHost, FaultInsideARegionDoesNotReachTheFilter) {
  EXPECT_EQ(RunHost("inside"), kNoFault);
}

}  // namespace
