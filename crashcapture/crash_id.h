// The id of one crash on the wire: the same in its summary and in every part of its package, so
// that the collector puts them together per machine. Made on the crash path, so from nothing that
// takes a lock: a high-resolution counter, the process and the thread, mixed so that two crashes
// of one machine do not share an id in practice.
#pragma once

#include <cstdint>

// Never 0, so that 0 can mean "not made yet".
uint32_t MakeCrashId(uint64_t counter, uint32_t process_id, uint32_t thread_id);
