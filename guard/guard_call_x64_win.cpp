// GuardCall for x86_64 Windows. Written in assembly because the recovery point must be entered
// with nothing but a stack pointer: the registers the caller relies on are reloaded from this
// function's own frame, which lies above the abandoned frames of the fault.
//
// The .seh_ directives give GuardCall unwind data, so stack walks (minidumps, debuggers) and a C++
// exception thrown by fn can pass through it.
#include "guard/guard_frame_win.h"

// Frame: 8 pushed registers, then 200 bytes: 32 bytes of home space for the call, xmm6..xmm15
// at 32..191, the GuardFrame pointer at 192. 200 keeps rsp 16-byte aligned at the call.
asm(R"(
  .text
  .globl GuardCall
  .def GuardCall; .scl 2; .type 32; .endef
  .seh_proc GuardCall
GuardCall:
  pushq %rbp
  .seh_pushreg %rbp
  pushq %rbx
  .seh_pushreg %rbx
  pushq %rdi
  .seh_pushreg %rdi
  pushq %rsi
  .seh_pushreg %rsi
  pushq %r12
  .seh_pushreg %r12
  pushq %r13
  .seh_pushreg %r13
  pushq %r14
  .seh_pushreg %r14
  pushq %r15
  .seh_pushreg %r15
  subq $200, %rsp
  .seh_stackalloc 200
  movaps %xmm6, 32(%rsp)
  .seh_savexmm %xmm6, 32
  movaps %xmm7, 48(%rsp)
  .seh_savexmm %xmm7, 48
  movaps %xmm8, 64(%rsp)
  .seh_savexmm %xmm8, 64
  movaps %xmm9, 80(%rsp)
  .seh_savexmm %xmm9, 80
  movaps %xmm10, 96(%rsp)
  .seh_savexmm %xmm10, 96
  movaps %xmm11, 112(%rsp)
  .seh_savexmm %xmm11, 112
  movaps %xmm12, 128(%rsp)
  .seh_savexmm %xmm12, 128
  movaps %xmm13, 144(%rsp)
  .seh_savexmm %xmm13, 144
  movaps %xmm14, 160(%rsp)
  .seh_savexmm %xmm14, 160
  movaps %xmm15, 176(%rsp)
  .seh_savexmm %xmm15, 176
  .seh_endprologue
  movq %rcx, 192(%rsp)
  movq %rsp, 8(%rcx)
  leaq .Lguard_resume(%rip), %rax
  movq %rax, 16(%rcx)
  stmxcsr 36(%rcx)
  movq %r8, %rcx
  callq *%rdx
  movl $1, %eax
  jmp .Lguard_done
.Lguard_resume:
  movq 192(%rsp), %rcx
  ldmxcsr 36(%rcx)
  xorl %eax, %eax
.Lguard_done:
  movaps 32(%rsp), %xmm6
  movaps 48(%rsp), %xmm7
  movaps 64(%rsp), %xmm8
  movaps 80(%rsp), %xmm9
  movaps 96(%rsp), %xmm10
  movaps 112(%rsp), %xmm11
  movaps 128(%rsp), %xmm12
  movaps 144(%rsp), %xmm13
  movaps 160(%rsp), %xmm14
  movaps 176(%rsp), %xmm15
  addq $200, %rsp
  popq %r15
  popq %r14
  popq %r13
  popq %r12
  popq %rsi
  popq %rdi
  popq %rbx
  popq %rbp
  retq
  .seh_endproc
)");
