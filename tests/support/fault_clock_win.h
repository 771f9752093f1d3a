// The crash hosts print the wall clock just before they fault ("fault_ms=N", Unix milliseconds),
// so that a driver can time the crash path from the fault to the process's end with its own clock.
#pragma once

#include <windows.h>

inline long long FaultClockMilliseconds() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER ticks;
  ticks.LowPart = now.dwLowDateTime;
  ticks.HighPart = now.dwHighDateTime;
  constexpr unsigned long long kUnixEpochIn100ns = 116444736000000000ull;
  return static_cast<long long>((ticks.QuadPart - kUnixEpochIn100ns) / 10000);
}
