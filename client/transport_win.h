// The UDP transport: one socket for the reports, and a second one kept for the crash report.
#pragma once

#include <cstdint>

// 0 when the socket is ready, nonzero when it cannot be created (the next send tries again).
int OpenClientSocket();

// Sends with up to SendAttempts tries and echoes the datagram on standard output. Returns the
// result of the last try, or 0 when nothing could be tried. Takes no lock and never allocates, so
// the crash worker may send while every other thread is frozen.
int SendDatagram(const uint8_t* bytes, int length);

// Opens the crash report's socket, once the client's own socket is open. Called while preparing
// the crash capture.
void PrepareCrashSocket();

// From now on every send uses it. Called by the exception filter once the other threads are frozen.
void UseCrashSocket();

// A datagram of the crash kinds, on the crash socket from the start (the client's socket when
// there is none): the summary goes out before the other threads are frozen, and one of them may
// then be frozen half-way through a send on the client's socket.
int SendCrashDatagram(const uint8_t* bytes, int length);
