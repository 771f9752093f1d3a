// A DLL whose attach never finishes: it tells the host it is inside DllMain, then sleeps there,
// holding the loader lock for as long as the process lives.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    HANDLE entered = OpenEventA(EVENT_MODIFY_STATE, FALSE, "vx_crash_sleepy_dllmain");
    if (entered) SetEvent(entered);
    Sleep(INFINITE);
  }
  return TRUE;
}
