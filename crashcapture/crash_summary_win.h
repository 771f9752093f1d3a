// The crash summary: one small datagram with the exception, the faulting thread's registers and
// stack, and the modules they lie in, sent before anything on the crash path that can wait on a
// lock or allocate, so that it arrives even when the minidump never gets written.
#pragma once

#include <windows.h>

#include <cstdint>

// Gathers and sends the summary when CrashSummary is on and the identities are complete. Reads
// memory only inside guarded regions, calls no loader, heap or dbghelp function. True when sent.
bool SendCrashSummary(const EXCEPTION_POINTERS* exception, DWORD thread_id);

// The crash's id on the wire, shared by the summary and the package parts; made at the first call.
uint32_t CrashWireId();
