/* A host written in C: the public header must serve C as well as C++. */
#include <stdio.h>

#include "VXIdent.h"

int main(void) {
  int results = 0;
  results |= VXIdent_Init();
  results |= VXIdent_Set_Counter(VXIDENT_KEY_IDENTITY1, 7, VXIDENT_SEND_NOW);
  results |= VXIdent_Set_Int(VXIDENT_KEY_IDENTITY3, 20, VXIDENT_SEND_NOW);
  results |= VXIdent_Set_Counter(VXIDENT_KEY_IDENTITY4, 300, VXIDENT_SEND_NOW);
  results |= VXIdent_Set_Counter(5, 1000, VXIDENT_SEND_NOW);
  results |= VXIdent_Set_Str(6, "from C");
  results |= VXIdent_Set_Bin(7, "\x01\x02", 2);
  results |= VXIdent_Fin();
  fprintf(stderr, "c_host=%d\n", results);
  return results;
}
