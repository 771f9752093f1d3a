#include <windows.h>

#include "crashcapture/crash_capture.h"

// Everything is started by the exports and by static initialisation. A thread's end is the one
// notification the library needs: its own threads must not outlive the host's last one.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_THREAD_DETACH) NoteThreadEnding();
  return TRUE;
}
