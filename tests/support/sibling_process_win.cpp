#include "tests/support/sibling_process_win.h"

#include <gtest/gtest.h>

#include <string>

DWORD RunSiblingProgram(const char* program, const char* arguments, DWORD timeout_ms) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string command(path, length);
  command = command.substr(0, command.find_last_of("\\/") + 1) + program;
  command = "\"" + command + "\" " + arguments;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "cannot start " << command;
    return 0xFFFFFFFF;
  }
  DWORD code = WAIT_TIMEOUT;
  if (WaitForSingleObject(process.hProcess, timeout_ms) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.hProcess, &code);
  } else {
    TerminateProcess(process.hProcess, WAIT_TIMEOUT);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}
