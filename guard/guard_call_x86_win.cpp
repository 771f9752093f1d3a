// GuardCall for i686 Windows (cdecl). Written in assembly because the recovery point must be
// entered with nothing but a stack pointer: the registers the caller relies on are reloaded from
// this function's own frame, which lies above the abandoned frames of the fault.
//
// i686 keeps its SEH handlers in a chain headed at fs:[0], and the frames between the fault and
// the region may have pushed records onto it. Those frames are gone after recovery, so the chain
// head goes back to its value at entry; the dispatcher would otherwise walk dead stack on the
// next exception. The x87 state is reset for the same reason: a fault in the middle of a
// floating-point sequence can leave values on the register stack.
#include "guard/guard_frame_win.h"

// Stack after the four pushes: saved edi, esi, ebx, ebp, return address, then the arguments
// frame at 20, fn at 24 and arg at 28. The 8-byte pad keeps the call 16-byte aligned.
// i686 MinGW unwinds C++ exceptions with DWARF call-frame information, so the .cfi_ directives
// let an exception thrown by fn pass through; without them the unwinder stops here and the
// runtime terminates the process.
asm(R"(
  .text
  .globl _GuardCall
  .def _GuardCall; .scl 2; .type 32; .endef
_GuardCall:
  .cfi_startproc
  pushl %ebp
  .cfi_def_cfa_offset 8
  .cfi_offset %ebp, -8
  pushl %ebx
  .cfi_def_cfa_offset 12
  .cfi_offset %ebx, -12
  pushl %esi
  .cfi_def_cfa_offset 16
  .cfi_offset %esi, -16
  pushl %edi
  .cfi_def_cfa_offset 20
  .cfi_offset %edi, -20
  movl 20(%esp), %eax
  movl %esp, 4(%eax)
  movl $.Lguard_resume, 8(%eax)
  movl %fs:0, %ecx
  movl %ecx, 12(%eax)
  fnstcw 20(%eax)
  movl 24(%esp), %edx
  movl 28(%esp), %ecx
  subl $8, %esp
  .cfi_def_cfa_offset 28
  pushl %ecx
  .cfi_def_cfa_offset 32
  calll *%edx
  addl $12, %esp
  .cfi_def_cfa_offset 20
  movl $1, %eax
  jmp .Lguard_done
.Lguard_resume:
  movl 20(%esp), %eax
  movl 12(%eax), %ecx
  movl %ecx, %fs:0
  fninit
  fldcw 20(%eax)
  xorl %eax, %eax
.Lguard_done:
  popl %edi
  .cfi_restore %edi
  .cfi_def_cfa_offset 16
  popl %esi
  .cfi_restore %esi
  .cfi_def_cfa_offset 12
  popl %ebx
  .cfi_restore %ebx
  .cfi_def_cfa_offset 8
  popl %ebp
  .cfi_restore %ebp
  .cfi_def_cfa_offset 4
  retl
  .cfi_endproc
)");
