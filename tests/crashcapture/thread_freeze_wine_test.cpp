// The crash path's freeze under Wine: which threads it suspends, and the owner check that keeps a
// thread id reused by another process from being suspended.
#include <windows.h>

#include <gtest/gtest.h>

#include "client/library_wiring_win.h"
#include "crashcapture/thread_freeze_win.h"

namespace {

constexpr DWORD kQueryAndSuspend = THREAD_SUSPEND_RESUME | THREAD_QUERY_INFORMATION;

DWORD WINAPI SleepForever(LPVOID) {
  Sleep(INFINITE);
  return 0;
}

// The suspend count a thread has, without changing it.
DWORD SuspendCount(HANDLE thread) {
  DWORD previous = SuspendThread(thread);
  ResumeThread(thread);
  return previous;
}

}  // namespace

TEST(ThreadOwner, AThreadOfThisProcessIsOurs) {
  ASSERT_TRUE(PrepareThreadFreeze());
  HANDLE thread = OpenThread(kQueryAndSuspend, FALSE, GetCurrentThreadId());
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(ThreadOfThisProcess(thread));
  CloseHandle(thread);
}

TEST(ThreadOwner, AThreadOfAnotherProcessIsNot) {
  ASSERT_TRUE(PrepareThreadFreeze());
  char command[] = "cmd.exe /c exit";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  ASSERT_TRUE(CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                             nullptr, &startup, &child));
  // Opened by id, as the freeze opens the ids of its snapshot.
  HANDLE thread = OpenThread(kQueryAndSuspend, FALSE, child.dwThreadId);
  EXPECT_NE(thread, nullptr);
  if (thread) {
    EXPECT_FALSE(ThreadOfThisProcess(thread));
    CloseHandle(thread);
  }
  TerminateProcess(child.hProcess, 0);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
}

TEST(ThreadFreeze, SuspendsTheOtherThreadsOnceAndSparesTheTwoNamed) {
  DWORD ids[3];
  HANDLE threads[3];
  for (int i = 0; i < 3; ++i) {
    threads[i] = CreateThread(nullptr, 0, SleepForever, nullptr, 0, &ids[i]);
    ASSERT_NE(threads[i], nullptr);
  }
  Sleep(100);
  FreezeOtherThreads(GetVXException(), ids[1], ids[2]);
  EXPECT_EQ(SuspendCount(threads[0]), 1u);
  EXPECT_EQ(SuspendCount(threads[1]), 0u);
  EXPECT_EQ(SuspendCount(threads[2]), 0u);
  // Everything else the freeze suspended (Wine's own threads of this process among them) stays so;
  // the process ends through TerminateProcess without waiting for them.
  for (HANDLE thread : threads) {
    TerminateThread(thread, 0);
    CloseHandle(thread);
  }
}
