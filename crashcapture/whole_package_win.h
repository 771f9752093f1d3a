// The whole dump package in part datagrams after the key-17 blob, when CrashPackageWhole is on.
//
// The user waits at most kWholePackageWaitMs for it before the crash message box; what is left
// goes on while the box is shown and after it, and the process ends once the last part is out.
// No thread is made for this at the crash (creating one can block on the loader lock of a frozen
// thread) and none is kept waiting from Init: the message box runs a message loop on the crash
// worker itself, and a thread timer of the worker makes that loop send the parts the pacing
// allows every few milliseconds. Without a display the box returns at once and the worker sends
// the rest in its own loop. Every part counts as progress for the watchdog.
#pragma once

#include "crashcapture/crash_capture.h"

constexpr uint32_t kWholePackageWaitMs = 2000;

// Opens "TempDump.vgz", checks it against the limit, computes its CRC and sends parts for at most
// kWholePackageWaitMs; then, if parts remain, starts the thread timer. Does nothing when the
// setting is off, the identities are incomplete or the package is empty or over the limit.
void StartWholePackage(const CrashTransport* transport);

// Stops the timer and sends whatever is left, paced; closes the file. Called after the message box.
void FinishWholePackage();
