/*
 * VXIdent.h - telemetry and crash reporting for Windows programs.
 *
 * Load VXIdent.dll (link VXIdent.lib with MSVC, libVXIdent.dll.a with MinGW), call VXIdent_Init
 * once, set the three identities through keys 1, 3 and 4 with nonzero values, then report. Every
 * report leaves as one UDP datagram to the server named in HVInfo.conf in the current directory.
 * Results are 0 when a report was accepted and -1 when it was refused; delivery is never reported.
 */
#ifndef VXIDENT_H
#define VXIDENT_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define VXIDENT_STDCALL __stdcall
#else
#define VXIDENT_STDCALL
#endif

#if defined(VXIDENT_BUILDING_DLL)
#define VXIDENT_API
#elif defined(_WIN32)
#define VXIDENT_API __declspec(dllimport)
#else
#define VXIDENT_API
#endif

/* Keys with a fixed meaning. */
#define VXIDENT_KEY_IDENTITY1 1
#define VXIDENT_KEY_IDENTITY3 3
#define VXIDENT_KEY_IDENTITY4 4
#define VXIDENT_KEY_DUMP_PACKAGE 17      /* sent by the library itself after a crash */
#define VXIDENT_KEY_HARDWARE_PROFILE 18  /* VXIdent_Set_Str(18, "") sends the hardware profile */

/* Modes of the two number reports. */
#define VXIDENT_SEND_NOW 0
#define VXIDENT_GATHER 1  /* only when HVInfo.conf sets CycleGatherOption */

/* Reads HVInfo.conf, opens the socket and installs the crash handler. Call once, first. */
VXIDENT_API int VXIdent_Init(void);

/* Adds value to the key (gathered) or sends it at once. Always 0. */
VXIDENT_API int VXIDENT_STDCALL VXIdent_Set_Counter(int key, int value, int mode);

/* Sets the key to value (gathered) or sends it at once. Always 0. */
VXIDENT_API int VXIDENT_STDCALL VXIdent_Set_Int(int key, int value, int mode);

/* Sends the first 512 bytes of a zero-terminated text. */
VXIDENT_API int VXIDENT_STDCALL VXIdent_Set_Str(int key, const char *text);

/* Sends the first 64512 bytes of a blob. */
VXIDENT_API int VXIDENT_STDCALL VXIdent_Set_Bin(int key, const void *data, int length);

/* Sends what is gathered. Call once before unloading the library. */
VXIDENT_API int VXIdent_Fin(void);

#ifdef __cplusplus
}
#endif

#endif /* VXIDENT_H */
