// Test programs that must watch a process end (a crash, an exit level) run it as a child.
#pragma once

#include <windows.h>

// Runs the program named program (in this test program's own folder) with arguments in the current
// directory and waits at most timeout_ms. Its exit code; WAIT_TIMEOUT when it had to be killed;
// 0xFFFFFFFF (with a test failure) when it could not be started.
DWORD RunSiblingProgram(const char* program, const char* arguments, DWORD timeout_ms);
