/* A host with no C runtime, as an MSVC game without the CRT is: nothing calls ExitProcess when its
 * entry point returns, so the process ends when its last thread does, with that thread's exit
 * code. It loads VXIdent.dll at run time and calls VXIdent_Init, which starts the library's own
 * threads; they must not keep the process alive. The command line's last character chooses:
 *   '1': the entry point returns 7 at once;
 *   '2': it starts a second thread that lives 2 s and ends with 5, and returns 7 at once. */
#include "nocrt_output.h"

typedef void *HMODULE;
typedef int (*InitFn)(void);
typedef DWORD(__stdcall *ThreadFn)(void *);

__declspec(dllimport) HMODULE __stdcall LoadLibraryA(const char *name);
__declspec(dllimport) void *__stdcall GetProcAddress(HMODULE module, const char *name);
__declspec(dllimport) char *__stdcall GetCommandLineA(void);
__declspec(dllimport) HANDLE __stdcall CreateThread(void *security, __SIZE_TYPE__ stack, ThreadFn start,
                                                    void *arg, DWORD flags, DWORD *id);
__declspec(dllimport) void __stdcall Sleep(DWORD ms);

static DWORD __stdcall LiveTwoSeconds(void *arg) {
  (void)arg;
  Sleep(2000);
  WriteResultLine("second_thread_ends", 5);
  return 5;
}

int HostMain(void) {
  const char *command = GetCommandLineA();
  char choice = 0;
  while (*command) choice = *command++;
  HMODULE library = LoadLibraryA("VXIdent.dll");
  WriteResultLine("loaded", library != 0);
  if (!library) return 2;
  InitFn init = (InitFn)GetProcAddress(library, "VXIdent_Init");
  WriteResultLine("init", init());
  if (choice == '2') WriteResultLine("second_thread", CreateThread(0, 0, LiveTwoSeconds, 0, 0, 0) != 0);
  WriteResultLine("entry_returns", 7);
  return 7;
}
