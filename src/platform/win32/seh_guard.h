// A structured-exception guard for calls into foreign code (GCC has no
// __try/__except), for 32-bit x86 (seh_guard_x86.cpp) and x86-64
// (seh_guard_x64.cpp).
#pragma once

#include <cstdint>

namespace zrt::win32 {

// Calls `function(context)`. Returns true when it returned normally. When the
// call raises a structured exception that is not a processor fault, the
// frames of the call are unwound, `exceptionCode` receives the exception's
// code and the result is false; execution goes on after the guard.
//
// Processor faults (access violation, illegal instruction, stack overflow,
// ...) pass the guard untouched, as do exceptions handled further in.
//
// Whatever `function` and its callees keep in C++ objects with destructors is
// not destroyed when the guard takes the exception: `function` must be a thin
// trampoline into the foreign code.
bool CallGuarded(void (*function)(void*), void* context, std::uint32_t& exceptionCode);

// True for the exception codes the processor raises on a faulting
// instruction, and for the debugger's breakpoint and single-step traps.
bool IsProcessorFault(std::uint32_t exceptionCode);

}  // namespace zrt::win32
