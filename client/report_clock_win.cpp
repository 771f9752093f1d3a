#include "client/report_clock_win.h"

#include <windows.h>

int32_t UnixTimeNow() {
  constexpr uint64_t kFileTimeOf1970 = 116444736000000000ull;  // 100 ns ticks from 1601 to 1970
  constexpr uint64_t kTicksPerSecond = 10000000ull;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  uint64_t ticks = (uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return int32_t((ticks - kFileTimeOf1970) / kTicksPerSecond);
}

int32_t ReportClockNow() {
  static bool anchored = false;
  static int32_t anchor_seconds;
  static DWORD last_tick;
  static uint64_t elapsed_ms;  // accumulated across the tick counter's wrap every 49.7 days
  DWORD tick = GetTickCount();
  if (!anchored) {
    anchor_seconds = UnixTimeNow();
    last_tick = tick;
    anchored = true;
  }
  elapsed_ms += DWORD(tick - last_tick);
  last_tick = tick;
  return int32_t(anchor_seconds + int64_t(elapsed_ms / 1000));
}
