/* A game bug the library cannot guard against: VXIdent_Set_Str is handed a text without its
 * terminator that runs up to the end of readable memory. The length scan inside VXIdent.dll reads
 * past it and faults there, so the crash report that follows has its fault address inside the
 * library's own code, to be resolved with the release's symbols. */
#include <stddef.h>

#include "nocrt_output.h"
#include "six_exports.h"

#define MEM_COMMIT 0x1000
#define MEM_RESERVE 0x2000
#define PAGE_NOACCESS 0x01
#define PAGE_READWRITE 0x04
#define PAGE_SIZE 4096
#define TEXT_BYTES 16

__declspec(dllimport) void *__stdcall VirtualAlloc(void *address, size_t size, DWORD type, DWORD protect);
__declspec(dllimport) int __stdcall VirtualProtect(void *address, size_t size, DWORD protect, DWORD *old);

void HostMain(void) {
  DWORD old;
  char *pages = (char *)VirtualAlloc(0, 2 * PAGE_SIZE, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  char *text;
  int i;
  if (!pages || !VirtualProtect(pages + PAGE_SIZE, PAGE_SIZE, PAGE_NOACCESS, &old)) {
    WriteResultLine("pages", 0);
    ExitProcess(2);
  }
  text = pages + PAGE_SIZE - TEXT_BYTES;
  for (i = 0; i < TEXT_BYTES; ++i) text[i] = 'x';
  WriteResultLine("init", VXIdent_Init());
  VXIdent_Set_Counter(VXIDENT_KEY_IDENTITY1, 0x5543, VXIDENT_SEND_NOW);
  VXIdent_Set_Counter(VXIDENT_KEY_IDENTITY3, RELEASE_IDENTITY3, VXIDENT_SEND_NOW);
  VXIdent_Set_Counter(VXIDENT_KEY_IDENTITY4, RELEASE_IDENTITY4, VXIDENT_SEND_NOW);
  WriteResultLine("str", VXIdent_Set_Str(7, text));  /* never returns: the crash report ends the process */
  ExitProcess(3);
}
