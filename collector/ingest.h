// collector --ingest FILE: a "TempDump.vgz" or "TempDump.dmp" a player sent by mail, added to the
// store and its page like a crash that came over the network, but whole.
#pragma once

#include "options.h"

namespace collector {

// Prints the crash_report line on standard output; returns the process's exit status (0 when the
// file was added, 2 when it could not be read or stored).
int RunIngest(const Options& options);

}  // namespace collector
