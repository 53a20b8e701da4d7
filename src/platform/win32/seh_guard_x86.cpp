// How the guard works (32-bit x86 frame-based exception handling):
//
// On i386 Windows the thread's exception handlers form a linked list of
// registration records on the stack; FS:[0] points at the newest. When an
// exception is raised the system calls each record's handler in turn, newest
// first. CallGuarded pushes a record of its own in front of the call, marks
// its own frame with __builtin_setjmp, and removes the record when the call
// returns.
//
// When the guard's handler decides to take an exception it does what the
// compiler-generated __except does:
//   1. the global unwind: RtlUnwind calls, with the unwinding flag set, every
//      handler registered after the guard's record (the foreign code's own
//      clean-up), and leaves FS:[0] pointing at the guard's record;
//   2. the guard's record is taken off the list;
//   3. __builtin_longjmp resumes CallGuarded right after its
//      __builtin_setjmp, on CallGuarded's own stack frame. The stack below it
//      (the foreign frames and the system's dispatcher) is abandoned.
//
// __builtin_setjmp/__builtin_longjmp are used rather than the C library's
// setjmp/longjmp because the latter, in the Microsoft runtime, look at the
// SEH list themselves. The builtins only restore the frame pointer, the stack
// pointer and the resume address; GCC reloads every other register from the
// frame at the receiver.
//
// RtlUnwind is not relied on to keep EBX, ESI and EDI on i386 (the Microsoft
// runtime's _global_unwind2 saves them around the call for that reason), so
// it is called from the assembly thunk below, which does the same.
//
// Requirements the system places on the record, all met here: it lies on the
// thread's stack, 4-byte aligned, above the records of deeper calls; the
// handler lies in this image, which has no SafeSEH table (the GNU linker does
// not make one) and does not carry the NO_SEH flag (the XP import check
// verifies this).
#include <windows.h>

#include "platform/win32/seh_guard.h"

#if !defined(__i386__)
#error "This file is the 32-bit x86 guard; seh_guard_x64.cpp is the x86-64 one."
#endif

// void __cdecl ZrtSehGlobalUnwind(void* targetFrame)
// RtlUnwind(targetFrame, &return label, NULL, 0) with the callee-saved
// registers preserved across it.
extern "C" void ZrtSehGlobalUnwind(void* targetFrame);
__asm__(
    ".text\n"
    ".globl _ZrtSehGlobalUnwind\n"
    ".def _ZrtSehGlobalUnwind; .scl 2; .type 32; .endef\n"
    "_ZrtSehGlobalUnwind:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %ebx\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  pushl %ebp\n"
    "  pushl $0\n"       // ReturnValue
    "  pushl $0\n"       // ExceptionRecord: the system makes one
    "  pushl $1f\n"      // TargetIp
    "  pushl 8(%ebp)\n"  // TargetFrame
    "  call *__imp__RtlUnwind@16\n"
    "1:\n"
    "  popl %ebp\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebx\n"
    "  movl %ebp, %esp\n"
    "  popl %ebp\n"
    "  ret\n");

namespace zrt::win32 {
namespace {

// The registration record and what the handler needs to resume the guard.
// `record` must come first: the system hands the handler the record's
// address, which is then also the guard's.
struct GuardFrame {
  EXCEPTION_REGISTRATION_RECORD record;
  void* resume[5];  // __builtin_setjmp's buffer
  DWORD exceptionCode;
};

void* ReadExceptionList() {
  void* head;
  __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head) : : "memory");
  return head;
}

void WriteExceptionList(void* head) {
  __asm__ __volatile__("movl %0, %%fs:0" : : "r"(head) : "memory");
}

extern "C" EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* exception,
                                                      void* establisherFrame, CONTEXT* /*context*/,
                                                      void* /*dispatcherContext*/) {
  // Called again while some other handler unwinds past us: nothing to undo.
  if ((exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0) {
    return ExceptionContinueSearch;
  }
  if (IsProcessorFault(exception->ExceptionCode)) return ExceptionContinueSearch;

  auto* frame = static_cast<GuardFrame*>(establisherFrame);
  frame->exceptionCode = exception->ExceptionCode;
  ZrtSehGlobalUnwind(&frame->record);
  WriteExceptionList(frame->record.Next);
  __builtin_longjmp(frame->resume, 1);
}

}  // namespace

// Not inlined: the guard's frame is the one the handler resumes.
__attribute__((noinline)) bool CallGuarded(void (*function)(void*), void* context,
                                           std::uint32_t& exceptionCode) {
  GuardFrame frame = {};
  frame.record.Handler = reinterpret_cast<PEXCEPTION_ROUTINE>(&GuardHandler);
  frame.record.Next = static_cast<EXCEPTION_REGISTRATION_RECORD*>(ReadExceptionList());

  if (__builtin_setjmp(frame.resume) != 0) {
    // Resumed by the handler: the call raised and has been unwound, and the
    // record is already off the list. The handler wrote the code behind the
    // compiler's back, hence the volatile read.
    exceptionCode = *static_cast<volatile DWORD*>(&frame.exceptionCode);
    return false;
  }

  WriteExceptionList(&frame.record);
  function(context);
  WriteExceptionList(frame.record.Next);
  return true;
}

}  // namespace zrt::win32
