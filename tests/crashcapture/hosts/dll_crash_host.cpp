// A host that loads VXIdent.dll the way a game does and then dies of an access violation: the
// whole road from VXIdent_Init through the DLL's own filter.
#include <windows.h>

#include <cstdio>

#include "VXIdent.h"

int main() {
  fprintf(stderr, "tid=%lu\n", GetCurrentThreadId());
  fprintf(stderr, "init=%d\n", VXIdent_Init());
  VXIdent_Set_Int(1, 11, 0);
  VXIdent_Set_Int(3, 33, 0);
  VXIdent_Set_Int(4, 44, 0);
  fflush(stderr);
  *static_cast<volatile int*>(nullptr) = 1;
  return 0;
}
