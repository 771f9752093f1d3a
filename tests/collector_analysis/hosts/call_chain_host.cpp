// A host that loads VXIdent.dll the way a game does and dies of an access violation at the end of
// a known call chain, main -> Alpha -> Beta -> Gamma, so that a stack walk of its minidump can be
// checked function by function. Each function does work after its call, so that the compiler can
// neither inline the chain nor turn a call into a jump.
#include <windows.h>

#include <cstdio>

#include "VXIdent.h"

namespace {

volatile int g_sink;
volatile int* volatile g_target = nullptr;

__attribute__((noinline)) int Settle(int value) { return g_sink + value; }

// The "chain:" comments mark the line each frame must show; the test driver reads them from here.
// Not a leaf: i686 GCC gives a leaf no frame even with -fno-omit-frame-pointer, and a walk along
// frame pointers then passes over the leaf's caller.
__attribute__((noinline)) int Gamma(int depth) {
  *g_target = depth;  // chain: Gamma (the fault: a write through a null pointer)
  int result = Settle(depth);
  g_sink = result;
  return result * 7;
}

__attribute__((noinline)) int Beta(int depth) {
  int result = Gamma(depth + 1);  // chain: Beta
  g_sink = result;
  return result * 3;
}

__attribute__((noinline)) int Alpha(int depth) {
  int result = Beta(depth + 1);  // chain: Alpha
  g_sink = result;
  return result * 5;
}

}  // namespace

int main() {
  fprintf(stderr, "tid=%lu\n", GetCurrentThreadId());
  fprintf(stderr, "init=%d\n", VXIdent_Init());
  VXIdent_Set_Int(1, 11, 0);
  VXIdent_Set_Int(3, 33, 0);
  VXIdent_Set_Int(4, 44, 0);
  fflush(stderr);
  int result = Alpha(1);  // chain: main
  g_sink = result;
  return result;
}
