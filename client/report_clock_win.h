// The client's two clocks.
#pragma once

#include <cstdint>

// Seconds since 1970-01-01 UTC, from the system clock.
int32_t UnixTimeNow();

// The clock of the gathering rules: seconds since 1970, anchored to the system clock at its first
// reading and advanced by the tick counter from then on. Reading the system time costs a system
// call under Wine (about 110 ns), the tick count a memory read, and a clock that is set back or
// forward does not hold back or hasten a flush. Call with ClientLock held.
int32_t ReportClockNow();
