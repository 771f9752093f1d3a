/* The consumer project's game: the six exports through the imported target VXIdent::VXIdent. */
#include <stdio.h>

#include "six_exports.h"

#define CONSUMER_IDENTITY1 0x4650

static void PrintResultLine(const char *name, int result) { fprintf(stderr, "%s=%d\n", name, result); }

int main(void) {
  CallSixExports(CONSUMER_IDENTITY1, PrintResultLine);
  return 0;
}
