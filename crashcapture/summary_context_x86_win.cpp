#include "crashcapture/summary_context_win.h"

void ReadFaultContext(const CONTEXT& c, CrashSummary* summary, StackWalkStart* start) {
  summary->architecture = kArchitectureX86;
  // The order of SummaryRegisterLayout(kArchitectureX86).
  const DWORD registers[] = {c.Eax, c.Ebx, c.Ecx, c.Edx, c.Esi, c.Edi, c.Ebp, c.Esp, c.Eip, c.EFlags};
  static_assert(sizeof registers / sizeof *registers <= kMaxSummaryRegisters, "");
  for (size_t i = 0; i < sizeof registers / sizeof *registers; ++i) summary->registers[i] = registers[i];
  start->pointer_size = 4;
  start->instruction_pointer = c.Eip;
  start->stack_pointer = c.Esp;
  start->frame_pointer = c.Ebp;
}

// TEB.ProcessEnvironmentBlock, at fs:0x30 on this architecture. Read directly: NtCurrentTeb's
// inline segment read trips GCC's array-bounds check.
uint64_t CurrentPeb() {
  uint32_t peb;
  __asm__("movl %%fs:0x30, %0" : "=r"(peb));
  return peb;
}

const LoaderListLayout& ProcessLoaderList() { return kLoaderListX86; }
