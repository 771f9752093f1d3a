// The module's ways of ending a process, and its construction at load, in child processes.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/sibling_process_win.h"

#include <string>

#include "module_host_codes.h"
#include "scratch_directory_win.h"

namespace {

constexpr DWORD kChildTimeoutMs = 30000;

DWORD RunHost(const char* mode) { return RunSiblingProgram("module_host.exe", mode, kChildTimeoutMs); }

TEST(ModuleHost, ExitLevelCallsTheHookThenEndsTheProcessWithCodeOne) {
  ScratchDirectory directory;
  EXPECT_EQ(RunHost("exit"), 1u);
  // The orderly exit: the runtime's exit-time actions run after the hook.
  EXPECT_EQ(directory.Read("exit_marker.txt"), "hook\natexit\n");
}

TEST(ModuleHost, FaultInTheExitHookStillEndsTheProcessWithCodeOne) {
  ScratchDirectory directory;
  EXPECT_EQ(RunHost("exit-hook-faults"), 1u);
  EXPECT_EQ(directory.Read("exit_marker.txt"), "hook\natexit\n");
}

TEST(ModuleHost, ExitLevelWithoutAHookEndsTheProcessWithCodeOne) {
  ScratchDirectory directory;
  EXPECT_EQ(RunHost("exit-without-hook"), 1u);
  EXPECT_EQ(directory.Read("exit_marker.txt"), "atexit\n");
}

TEST(ModuleHost, UnhandledModuleExceptionReachesTheInstalledFilter) {
  ScratchDirectory directory;
  EXPECT_EQ(RunHost("unhandled-exception-level"), kFilterReachedByModuleException);
}

TEST(ModuleHost, SettingsAreReadFromTheDirectoryAtLoad) {
  ScratchDirectory directory;
  EXPECT_EQ(RunHost("settings"), 0x201u);
  directory.Write("HVModule.dat", "[VXException]\r\nDebug=md\r\n");
  EXPECT_EQ(RunHost("settings"), 0x300u);
}

}  // namespace
