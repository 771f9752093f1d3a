// A dbghelp.dll whose minidump writer always fails, put beside a crash host in the place of the
// system's: a crash whose minidump cannot be written.
#include <windows.h>

extern "C" __declspec(dllexport) BOOL WINAPI MiniDumpWriteDump(HANDLE, DWORD, HANDLE, int, void*,
                                                               void*, void*) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}
