// The helpers of own_handlers_win.h for i686: each pushes a registration record (the next record,
// then the handler) onto the chain headed at fs:[0] and pops it before it returns.
#include "tests/guard/own_handlers_win.h"

asm(R"(
  .text
  .globl _FaultRepairedByOwnHandler
  .def _FaultRepairedByOwnHandler; .scl 2; .type 32; .endef
_FaultRepairedByOwnHandler:
  pushl $_RepairingHandler
  pushl %fs:0
  movl %esp, %fs:0
  xorl %eax, %eax
  xorl %ecx, %ecx
  movl $1, (%ecx)
  .globl _FaultRepairedResume
_FaultRepairedResume:
  popl %fs:0
  addl $4, %esp
  retl

  .globl _FaultUnderDecliningHandler
  .def _FaultUnderDecliningHandler; .scl 2; .type 32; .endef
_FaultUnderDecliningHandler:
  pushl $_DecliningHandler
  pushl %fs:0
  movl %esp, %fs:0
  xorl %ecx, %ecx
  movl $1, (%ecx)
  popl %fs:0
  addl $4, %esp
  retl

  .globl _CallUnderOuterHandler
  .def _CallUnderOuterHandler; .scl 2; .type 32; .endef
_CallUnderOuterHandler:
  pushl %ebp
  movl %esp, %ebp
  pushl $_OuterHandler
  pushl %fs:0
  movl %esp, %fs:0
  pushl 12(%ebp)
  calll *8(%ebp)
  addl $4, %esp
  popl %fs:0
  addl $4, %esp
  popl %ebp
  retl
)");
