// The transport's second socket, kept for the crash report (see transport_win.cpp).
#pragma once

// Opens it, once the client's own socket is open. Called while preparing the crash capture.
void PrepareCrashSocket();

// From now on every send uses it. Called by the exception filter once the other threads are frozen.
void UseCrashSocket();
