// The module's ways of ending a process, and its construction at load, in child processes.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "crash_path_doubles_win.h"
#include "scratch_directory_win.h"

namespace {

constexpr DWORD kChildTimeoutMs = 30000;

// Runs module_host.exe (beside this program) in the current directory; its exit code, or
// WAIT_TIMEOUT when it had to be killed.
DWORD RunHost(const char* mode) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string command(path, length);
  command = command.substr(0, command.find_last_of("\\/") + 1) + "module_host.exe";
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
