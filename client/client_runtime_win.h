// The process-wide client: its state, configuration and transport, shared by the Windows files.
#pragma once

#include <cstdint>

#include "client/client_config.h"
#include "client/client_core.h"

extern ClientState g_client;
extern ClientConfig g_client_config;

// Reads HVInfo.conf, chooses the server, computes the machine identifier and the hardware profile;
// only the first call in the process does any work.
void LoadClientConfig();

// 0 when the socket is ready, nonzero when it cannot be created (the next send tries again).
int OpenClientSocket();

// Sends with up to SendAttempts tries and echoes the datagram on standard output. Returns the
// result of the last try, or 0 when nothing could be tried. Takes no lock and never allocates, so
// the crash worker may send while every other thread is frozen.
int SendDatagram(const uint8_t* bytes, int length);

// Seconds since 1970-01-01 UTC, from the system clock.
int32_t UnixTimeNow();

// The clock of the gathering rules: seconds since 1970, anchored to the system clock at its first
// reading and advanced by the tick counter from then on. Reading the system time costs a system
// call under Wine (about 110 ns), the tick count a memory read, and a clock that is set back or
// forward does not hold back or hasten a flush. Call with ClientLock held.
int32_t ReportClockNow();
