/* A game host in the MSVC style with no C runtime at all, linked by lld-link against the release's
 * VXIdent.lib: its own entry point, the four Set functions through VXIdent.h's __stdcall
 * declarations. An import library that names the wrong symbols fails its link; one that imports
 * the wrong names fails its start; a wrong calling convention scrambles what the collector sees. */
#include "nocrt_output.h"
#include "six_exports.h"

#define NOCRT_IDENTITY1 0x4E43

void HostMain(void) {
  CallSixExports(NOCRT_IDENTITY1, WriteResultLine);
  ExitProcess(0);
}
