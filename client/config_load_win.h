// HVInfo.conf from the current directory, once per process.
#pragma once

// Reads HVInfo.conf, chooses the server, computes the machine identifier and the hardware profile;
// only the first call in the process does any work.
void LoadClientConfig();
