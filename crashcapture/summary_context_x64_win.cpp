#include "crashcapture/summary_context_win.h"

void ReadFaultContext(const CONTEXT& c, CrashSummary* summary, StackWalkStart* start) {
  summary->architecture = kArchitectureX64;
  // The order of SummaryRegisterLayout(kArchitectureX64).
  const DWORD64 registers[] = {c.Rax, c.Rbx, c.Rcx, c.Rdx, c.Rsi, c.Rdi, c.Rbp, c.Rsp, c.R8,
                               c.R9,  c.R10, c.R11, c.R12, c.R13, c.R14, c.R15, c.Rip, c.EFlags};
  static_assert(sizeof registers / sizeof *registers <= kMaxSummaryRegisters, "");
  for (size_t i = 0; i < sizeof registers / sizeof *registers; ++i) summary->registers[i] = registers[i];
  start->pointer_size = 8;
  start->instruction_pointer = c.Rip;
  start->stack_pointer = c.Rsp;
  start->frame_pointer = c.Rbp;
}

// TEB.ProcessEnvironmentBlock, at gs:0x60 on this architecture. Read directly: NtCurrentTeb's
// inline segment read trips GCC's array-bounds check.
uint64_t CurrentPeb() {
  uint64_t peb;
  __asm__("movq %%gs:0x60, %0" : "=r"(peb));
  return peb;
}

const LoaderListLayout& ProcessLoaderList() { return kLoaderListX64; }
