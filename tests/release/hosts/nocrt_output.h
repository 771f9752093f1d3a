/* What the hosts without a C runtime take from kernel32, declared here since no Windows headers
 * are used, and their one way of reporting: "name=value" lines on standard error. */
#ifndef NOCRT_OUTPUT_H
#define NOCRT_OUTPUT_H

typedef void *HANDLE;
typedef unsigned long DWORD;

#define STD_ERROR_HANDLE ((DWORD)-12)

__declspec(dllimport) HANDLE __stdcall GetStdHandle(DWORD which);
__declspec(dllimport) int __stdcall WriteFile(HANDLE file, const void *bytes, DWORD size, DWORD *written,
                                              void *overlapped);
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(unsigned int code);

static void WriteResultLine(const char *name, int value) {
  char line[64];
  char digits[12];
  unsigned int magnitude = value < 0 ? 0u - (unsigned int)value : (unsigned int)value;
  int n = 0, d = 0;
  DWORD written;
  while (*name && n < 40) line[n++] = *name++;
  line[n++] = '=';
  if (value < 0) line[n++] = '-';
  do {
    digits[d++] = (char)('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude);
  while (d) line[n++] = digits[--d];
  line[n++] = '\n';
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, (DWORD)n, &written, 0);
}

#endif
