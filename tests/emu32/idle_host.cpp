// Keeps Wine's services running inside the emulated machine while the tests start their programs:
// without a program alive, each start brings the services up again, about 12 s instead of about 4.
// Prints one line once it runs, so the job knows when the services are up.
#include <windows.h>

#include <cstdio>

int main() {
  std::printf("idle host running\n");
  std::fflush(stdout);
  Sleep(INFINITE);
  return 0;
}
