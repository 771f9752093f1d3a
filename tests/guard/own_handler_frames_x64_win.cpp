// The helpers of own_handlers_win.h for x86_64: each names its handler in its unwind data, as a
// compiler does for a function with __try. A call is followed by a nop so that its return address
// does not lie on the epilogue, where the unwinder would take the frame as already left.
#include "tests/guard/own_handlers_win.h"

asm(R"(
  .text
  .globl FaultRepairedByOwnHandler
  .def FaultRepairedByOwnHandler; .scl 2; .type 32; .endef
  .seh_proc FaultRepairedByOwnHandler
FaultRepairedByOwnHandler:
  subq $40, %rsp
  .seh_stackalloc 40
  .seh_endprologue
  xorl %eax, %eax
  xorl %ecx, %ecx
  movl $1, (%rcx)
  .globl FaultRepairedResume
FaultRepairedResume:
  addq $40, %rsp
  retq
  .seh_handler RepairingHandler, @except
  .seh_endproc

  .globl FaultUnderDecliningHandler
  .def FaultUnderDecliningHandler; .scl 2; .type 32; .endef
  .seh_proc FaultUnderDecliningHandler
FaultUnderDecliningHandler:
  subq $40, %rsp
  .seh_stackalloc 40
  .seh_endprologue
  xorl %ecx, %ecx
  movl $1, (%rcx)
  nop
  addq $40, %rsp
  retq
  .seh_handler DecliningHandler, @except, @unwind
  .seh_endproc

  .globl CallUnderOuterHandler
  .def CallUnderOuterHandler; .scl 2; .type 32; .endef
  .seh_proc CallUnderOuterHandler
CallUnderOuterHandler:
  subq $40, %rsp
  .seh_stackalloc 40
  .seh_endprologue
  movq %rcx, %rax
  movq %rdx, %rcx
  callq *%rax
  nop
  addq $40, %rsp
  retq
  .seh_handler OuterHandler, @except
  .seh_endproc
)");
