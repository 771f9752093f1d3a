/* The code of the test DLLs that carry a version resource; nothing calls it. */
__declspec(dllexport) int VxVersionDllMarker(void) { return 1; }
