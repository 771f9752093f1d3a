// GuardCall and its frame handler for i686 Windows (cdecl).
//
// i686 keeps a thread's exception handlers in a chain of registration records on the stack,
// headed at fs:[0], newest first. GuardCall pushes a record naming GuardFrameHandler before it
// calls fn, so every handler that code inside the region pushes later sees a fault first. The
// handler ends the region the way __except does: RtlUnwind calls the handlers of the newer
// records with the unwinding flag and takes their records off the chain, and then the handler
// jumps to GuardCall's recovery point with GuardCall's stack pointer. It never returns to the
// dispatcher, whose own record RtlUnwind has removed with the others.
//
// Written in assembly because the recovery point is entered with nothing but a stack pointer: the
// registers the caller relies on are reloaded from GuardCall's own frame. The x87 state is reset
// there: a fault in the middle of a floating-point sequence can leave values on the register stack.
#include "guard/guard_frame_win.h"

// Stack after the four pushes: saved edi, esi, ebx, ebp, return address, then the arguments
// frame at 20, fn at 24 and arg at 28. Then the registration record, three words: the next record,
// the handler, and the GuardFrame the handler works on. The 12-byte pad keeps the call 16-byte
// aligned. i686 MinGW unwinds C++ exceptions with DWARF call-frame information, so the .cfi_
// directives let an exception thrown by fn pass through; without them the unwinder stops here and
// the runtime terminates the process. That unwinder knows nothing of fs:[0]: RunGuarded puts the
// chain back (RestoreHandlerChain) when an exception leaves this way.
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
  movl %fs:0, %ecx
  movl %ecx, 8(%eax)
  fnstcw 16(%eax)
  pushl %eax
  .cfi_def_cfa_offset 24
  pushl $_GuardFrameHandler
  .cfi_def_cfa_offset 28
  pushl %ecx
  .cfi_def_cfa_offset 32
  movl %esp, %fs:0
  movl %esp, 0(%eax)
  movl $.Lguard_resume, 4(%eax)
  movl 36(%esp), %edx
  movl 40(%esp), %ecx
  subl $12, %esp
  .cfi_def_cfa_offset 44
  pushl %ecx
  .cfi_def_cfa_offset 48
  calll *%edx
  addl $16, %esp
  .cfi_def_cfa_offset 32
  movl 8(%esp), %eax
  movl 8(%eax), %ecx
  movl %ecx, %fs:0
  movl $1, %eax
  jmp .Lguard_done
.Lguard_resume:
  movl 8(%esp), %eax
  movl 8(%eax), %ecx
  movl %ecx, %fs:0
  fninit
  fldcw 16(%eax)
  xorl %eax, %eax
.Lguard_done:
  addl $12, %esp
  .cfi_def_cfa_offset 20
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

// UnwindToGuardCall(record, registration, frame): RtlUnwind up to and without the registration
// record, then on to frame's recovery point; does not return. RtlUnwind's target address is the
// instruction after the call, where x86 RtlUnwind resumes its caller once it has unwound.
asm(R"(
  .text
  .def _UnwindToGuardCall; .scl 3; .type 32; .endef
_UnwindToGuardCall:
  movl 4(%esp), %ecx
  movl 8(%esp), %edx
  pushl $0
  pushl %ecx
  pushl $.Lunwound
  pushl %edx
  calll _RtlUnwind@16
.Lunwound:
  movl 12(%esp), %eax
  movl 0(%eax), %esp
  jmp *4(%eax)
)");

static_assert(offsetof(GuardFrame, resume_sp) == 0 && offsetof(GuardFrame, resume_ip) == 4 &&
                  offsetof(GuardFrame, seh_head) == 8 && offsetof(GuardFrame, fp_control) == 16,
              "GuardCall's and UnwindToGuardCall's offsets");

namespace {

// The record GuardCall pushes: the two words every registration record has, then its frame.
struct GuardRegistration {
  GuardRegistration* next;
  void* handler;
  GuardFrame* frame;
};

}  // namespace

extern "C" {

[[noreturn]] void UnwindToGuardCall(EXCEPTION_RECORD* record, GuardRegistration* registration, GuardFrame* frame);

// Runs on the faulting thread's stack, possibly at the end of a stack overflow, and possibly while
// the crash path holds every other thread suspended: it takes no lock and allocates nothing.
EXCEPTION_DISPOSITION __cdecl GuardFrameHandler(EXCEPTION_RECORD* record, void* establisher, CONTEXT*, void*) {
  // Called again while a handler further out unwinds through this record; nothing to do then.
  if ((record->ExceptionFlags & EXCEPTION_UNWIND) || !IsGuardedFault(record->ExceptionCode)) {
    return ExceptionContinueSearch;
  }
  GuardRegistration* registration = static_cast<GuardRegistration*>(establisher);
  registration->frame->exception_code = record->ExceptionCode;
  UnwindToGuardCall(record, registration, registration->frame);
}

}  // extern "C"

void RestoreHandlerChain(const GuardFrame* frame) {
  asm volatile("movl %0, %%fs:0" : : "r"(frame->seh_head) : "memory");
}
