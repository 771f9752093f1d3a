// GuardCall and its frame handler for x86_64 Windows.
//
// x86_64 finds a frame's exception handler in the function's unwind data: .seh_handler names
// GuardFrameHandler there, so the dispatcher calls it in stack order, after the handler of every
// frame between the fault and GuardCall has declined. The handler ends the region the way
// __except does: RtlUnwindEx unwinds those frames, calling their termination handlers, and
// restores the context at GuardCall's recovery point, with the stack pointer of GuardCall's body.
//
// Written in assembly because the recovery point is entered with nothing but that stack pointer:
// the registers the caller relies on are reloaded from GuardCall's own frame. The same unwind data
// lets stack walks (minidumps, debuggers) and a C++ exception thrown by fn pass through GuardCall.
#include "guard/guard_frame_win.h"

namespace {

// GuardCall's frame: 8 pushed registers, then 200 bytes: 32 bytes of home space for the call,
// xmm6..xmm15 at 32..191, the GuardFrame pointer at 192. 200 keeps rsp 16-byte aligned at the
// call. The establisher frame the dispatcher gives the handler is rsp after the prologue.
constexpr uintptr_t kFramePointerSlot = 192;

}  // namespace

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
  leaq .Lguard_resume(%rip), %rax
  movq %rax, 8(%rcx)
  stmxcsr 28(%rcx)
  movq %r8, %rcx
  callq *%rdx
  movl $1, %eax
  jmp .Lguard_done
.Lguard_resume:
  movq 192(%rsp), %rcx
  ldmxcsr 28(%rcx)
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
  .seh_handler GuardFrameHandler, @except
  .seh_endproc
)");

static_assert(offsetof(GuardFrame, fp_control) == 28, "GuardCall's stmxcsr and ldmxcsr");

// Called by the dispatcher only while it searches for a handler (@except, not @unwind). Runs on
// the faulting thread's stack, possibly at the end of a stack overflow, and possibly while the
// crash path holds every other thread suspended: it takes no lock and allocates nothing. The
// unwind looks up the same unwind data the dispatcher has just walked to get here.
extern "C" EXCEPTION_DISPOSITION GuardFrameHandler(EXCEPTION_RECORD* record, void* establisher, CONTEXT*,
                                                   DISPATCHER_CONTEXT* dispatch) {
  if ((record->ExceptionFlags & EXCEPTION_UNWIND) || !IsGuardedFault(record->ExceptionCode)) {
    return ExceptionContinueSearch;
  }
  GuardFrame* frame = *reinterpret_cast<GuardFrame**>(static_cast<char*>(establisher) + kFramePointerSlot);
  frame->exception_code = record->ExceptionCode;
  // The dispatcher's context serves as the unwind's scratch context, as the C runtime's own
  // __except handler does; it is not needed again, since this call does not return.
  RtlUnwindEx(establisher, reinterpret_cast<void*>(frame->resume_ip), record, nullptr, dispatch->ContextRecord,
              dispatch->HistoryTable);
  // Only a failed unwind comes back here, and the system raises its own exception for that.
  return ExceptionContinueSearch;
}

void RestoreHandlerChain(const GuardFrame*) {}
