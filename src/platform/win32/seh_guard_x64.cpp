// How the guard works (x86-64 table-based exception handling):
//
// On x86-64 Windows no handler list lives on the stack: the system finds each
// frame's handler in the unwind tables of the image the frame's code belongs
// to. CallGuarded therefore calls the foreign code through a small assembly
// thunk whose unwind information names GuardHandler as its exception handler,
// and which keeps the address of the guard's state in its own frame.
//
// When the handler decides to take an exception it does what the compiler's
// __except does: RtlUnwindEx unwinds every frame between the raise and the
// thunk (running their clean-up with the unwinding flag set), restores the
// thunk's frame and resumes it at ZrtSehResume, which returns 0 to
// CallGuarded; the normal path returns 1.
#include <windows.h>

#include "platform/win32/seh_guard.h"

#if !defined(__x86_64__)
#error "This file is the x86-64 guard; seh_guard_x86.cpp is the 32-bit one."
#endif

namespace zrt::win32 {
namespace {

// What the handler hands back to CallGuarded.
struct GuardState {
  DWORD exceptionCode;
};

// Where the thunk keeps the GuardState's address: above the 32 bytes of
// shadow space it gives its callee, from the frame the system reports to the
// handler (the stack pointer after the thunk's prologue).
constexpr std::size_t kStateSlot = 32;

}  // namespace
}  // namespace zrt::win32

// int ZrtSehCallGuarded(void (*function)(void*), void* context, GuardState* state)
extern "C" int ZrtSehCallGuarded(void (*function)(void*), void* context, void* state);
extern "C" char ZrtSehResume[];
extern "C" EXCEPTION_DISPOSITION ZrtSehGuardHandler(EXCEPTION_RECORD* exception,
                                                    void* establisherFrame, CONTEXT* context,
                                                    DISPATCHER_CONTEXT* dispatcher);
__asm__(
    ".text\n"
    ".globl ZrtSehCallGuarded\n"
    ".def ZrtSehCallGuarded; .scl 2; .type 32; .endef\n"
    ".seh_proc ZrtSehCallGuarded\n"
    "ZrtSehCallGuarded:\n"
    "  subq $40, %rsp\n"
    "  .seh_stackalloc 40\n"
    "  .seh_endprologue\n"
    "  movq %r8, 32(%rsp)\n"  // kStateSlot
    "  movq %rcx, %rax\n"
    "  movq %rdx, %rcx\n"
    "  call *%rax\n"
    "  movl $1, %eax\n"
    "  addq $40, %rsp\n"
    "  ret\n"
    ".globl ZrtSehResume\n"
    "ZrtSehResume:\n"
    "  xorl %eax, %eax\n"
    "  addq $40, %rsp\n"
    "  ret\n"
    "  .seh_handler ZrtSehGuardHandler, @except\n"
    ".seh_endproc\n");

extern "C" EXCEPTION_DISPOSITION ZrtSehGuardHandler(EXCEPTION_RECORD* exception,
                                                    void* establisherFrame, CONTEXT* /*context*/,
                                                    DISPATCHER_CONTEXT* dispatcher) {
  using zrt::win32::GuardState;
  // Called again while an unwind passes through the thunk (our own included):
  // nothing to undo.
  constexpr DWORD kUnwinding =
      EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND | EXCEPTION_TARGET_UNWIND;
  if ((exception->ExceptionFlags & kUnwinding) != 0) return ExceptionContinueSearch;
  if (zrt::win32::IsProcessorFault(exception->ExceptionCode)) return ExceptionContinueSearch;

  auto* state = *reinterpret_cast<GuardState**>(static_cast<char*>(establisherFrame) +
                                                zrt::win32::kStateSlot);
  state->exceptionCode = exception->ExceptionCode;
  ::RtlUnwindEx(establisherFrame, ZrtSehResume, exception, nullptr, dispatcher->ContextRecord,
                dispatcher->HistoryTable);
  return ExceptionContinueSearch;  // not reached: RtlUnwindEx resumes the thunk
}

namespace zrt::win32 {

bool CallGuarded(void (*function)(void*), void* context, std::uint32_t& exceptionCode) {
  GuardState state = {};
  if (ZrtSehCallGuarded(function, context, &state) != 0) return true;
  exceptionCode = state.exceptionCode;
  return false;
}

}  // namespace zrt::win32
