/* The six exports in the order a game calls them, with values the collector can check. Shared by
 * the host without a C runtime and the find_package consumer, each of which passes its own first
 * identity and its own way of writing a "name=result" line. */
#ifndef SIX_EXPORTS_H
#define SIX_EXPORTS_H

#include "VXIdent.h"

#define RELEASE_IDENTITY3 0x5233
#define RELEASE_IDENTITY4 0x5234

typedef void (*ResultLine)(const char *name, int result);

static inline void CallSixExports(int identity1, ResultLine line) {
  static const unsigned char blob[5] = {0xB1, 0x0B, 0x00, 0xFF, 0x42};
  line("init", VXIdent_Init());
  line("identity1", VXIdent_Set_Counter(VXIDENT_KEY_IDENTITY1, identity1, VXIDENT_SEND_NOW));
  line("identity3", VXIdent_Set_Int(VXIDENT_KEY_IDENTITY3, RELEASE_IDENTITY3, VXIDENT_SEND_NOW));
  line("identity4", VXIdent_Set_Counter(VXIDENT_KEY_IDENTITY4, RELEASE_IDENTITY4, VXIDENT_SEND_NOW));
  line("counter", VXIdent_Set_Counter(5, 1000, VXIDENT_SEND_NOW));
  line("int", VXIdent_Set_Int(6, -7, VXIDENT_SEND_NOW));
  line("str", VXIdent_Set_Str(7, "release host"));
  line("bin", VXIdent_Set_Bin(8, blob, (int)sizeof blob));
  line("fin", VXIdent_Fin());
}

#endif
