// Crashes that never reach an unhandled-exception filter: abort(), a pure virtual call and an
// invalid parameter to a checked function end the process inside the C runtime (an exit code of 3,
// a message box, a fast fail into Windows Error Reporting). Handlers in the host's runtime turn
// each into a software exception of ours (crashcapture/runtime_crash_codes.h), which the filter
// reports like any other crash.
#pragma once

// For every C runtime already in the process (ucrtbase.dll, msvcrt.dll, the msvcr*.dll of older
// compilers; found, never loaded) installs the handlers that runtime lets us set: the SIGABRT
// signal handler, the pure-call handler, the invalid-parameter handler. A handler the host set
// before is left in place, and one the host sets later replaces ours. Returns how many handlers
// of ours are in place.
int InstallRuntimeCrashHandlers();
