#include <windows.h>

// Everything is started by the exports and by static initialisation; attach and detach do nothing.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
