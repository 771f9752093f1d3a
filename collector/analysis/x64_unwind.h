// One step of x64 stack unwinding with a module's own tables: from the registers of a frame in a
// function that has a .pdata entry to those of its caller, as Windows' RtlVirtualUnwind does it.
// Reads UNWIND_INFO (.xdata) with all its unwind codes, chained entries and machine frames, and
// recognises an epilog in the innermost frame.
#pragma once

#include <string>

#include "cpu_context.h"
#include "image_bytes.h"
#include "pe_image.h"
#include "process_memory.h"

namespace collector {

// What unwinding a frame needs besides its registers.
struct UnwindInput {
  const ImageBytes* image = nullptr;  // the module's bytes by RVA: unwind info, and code for epilogs
  uint64_t module_base = 0;           // where the module lay in the crashed process
  const ProcessMemory* memory = nullptr;
  // The frame's instruction pointer is where execution stopped (the innermost frame, or one below
  // a machine frame), not a return address, so it may lie inside an epilog.
  bool exact_ip = false;
};

// Unwinds the frame of `function`, whose code holds regs->ip, into its caller's registers.
// `machine_frame` tells whether a trap frame gave them, in which case the new instruction pointer is
// where the caller was interrupted, not a return address. False, with the reason, when the tables
// are damaged or the stack memory they need is not in the dump; the registers are then unchanged.
bool UnwindX64(const UnwindInput& input, const RuntimeFunction& function, Registers* regs, bool* machine_frame,
               std::string* problem);

// A leaf function (no .pdata entry) has pushed nothing: its return address is at the stack pointer.
bool UnwindX64Leaf(const ProcessMemory& memory, Registers* regs);

}  // namespace collector
