// Turns what the crash summary found (the module table, the stack candidates, the last log line)
// into the summary's own fields: the fault module first, then each frame as module and offset,
// with only the modules the frames lie in. The datagram encoder then keeps as many as fit.
#pragma once

#include <cstddef>

#include "client/crash_summary_datagram.h"
#include "crashcapture/module_table.h"
#include "crashcapture/stack_candidates.h"

// Sets fault_module, fault_offset, modules and frames from summary->exception_address and the
// candidates. A candidate whose module would be the summary's 65th is left out.
void AddModulesAndFrames(const ModuleTable& table, const StackCandidates& candidates, CrashSummary* summary);

// Copies the log line (read up to its zero, at most `capacity` bytes) and marks it cut when it is
// longer than a summary carries.
void SetSummaryMessage(const char* text, size_t capacity, CrashSummary* summary);
