// The exception codes under which the crash reporter reports the C runtime's own ways of ending a
// process (abort, a pure virtual call, an invalid parameter to a checked function). The runtime
// never passes those through the unhandled-exception filter, so the library's handlers raise one
// of these on the thread that failed: the minidump then holds its context. A collector reads them
// from the minidump's exception stream. Portable.
#pragma once

#include <cstdint>

// Customer codes (bit 29 set) of severity error, 0xE0 in the top byte, then "VX" (0x56 0x58).
constexpr uint32_t kAbortCrashCode = 0xE0565801u;             // abort(), raise(SIGABRT), std::terminate
constexpr uint32_t kPureCallCrashCode = 0xE0565802u;          // a pure virtual call (MSVC's _purecall)
constexpr uint32_t kInvalidParameterCrashCode = 0xE0565803u;  // a checked function's invalid parameter
