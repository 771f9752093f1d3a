// The faulting thread's stack as return-address candidates, without unwind data or dbghelp: the
// frame-pointer chain first (exact where the code keeps frame pointers), then a scan of the stack
// memory from the stack pointer up. A value counts as a return address only when it lies in a
// module's executable section and the bytes before it are a call instruction, the filter
// Breakpad's and Crashpad's stack scanners use; most stale data and function pointers fail it.
#pragma once

#include <cstdint>

#include "crashcapture/memory_reader.h"
#include "crashcapture/module_table.h"

struct StackWalkStart {
  int pointer_size;           // 4 or 8
  uint64_t instruction_pointer;
  uint64_t stack_pointer;
  uint64_t frame_pointer;     // ebp or rbp, which may hold anything when the code omits frames
  uint64_t stack_end;         // the first address above the stack
};

// A scan stops this far above the stack pointer: a summary holds about a hundred frames, and the
// newest frames, the ones that matter, lie lowest.
constexpr uint64_t kMaxScanBytes = 256 * 1024;

struct StackCandidates {
  int count;
  uint64_t addresses[kMaxSummaryFrames];
  bool cut;  // more candidates were found than fit
};

// The faulting instruction (when it lies in a module), then the chain's return addresses, then the
// scan's, skipping the stack slots the chain already gave.
void FindStackCandidates(MemoryReader& memory, const ModuleTable& modules, const StackWalkStart& start,
                         StackCandidates* out);

// Whether the `available` bytes ending right before a return address (before[available - 1] is
// the last one) end with a call: E8 rel32, or FF /2 in any of its addressing forms.
bool EndsWithCall(const uint8_t* before, int available);
