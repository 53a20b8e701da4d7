// Windows XP has no GetTickCount64, yet the POSIX thread library that the
// C++ runtime is built on (winpthread, linked statically) imports it for its
// timed waits. This file defines the import slot itself, so the linker binds
// winpthread's reference here instead of to kernel32, and the program keeps
// to the functions XP provides.
//
// It must be linked as an object of the executable, not from a static
// library: the reference is only seen when winpthread is scanned, after the
// program's own libraries.
#include <windows.h>

namespace {

// Milliseconds since start-up from the performance counter, which XP has,
// monotonic and without GetTickCount's wrap after 49.7 days. Only used for
// relative time-outs.
ULONGLONG WINAPI TickCount64() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER counter;
  if (!::QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0 ||
      !::QueryPerformanceCounter(&counter)) {
    return ::GetTickCount();
  }
  const ULONGLONG ticks = static_cast<ULONGLONG>(counter.QuadPart);
  const ULONGLONG perSecond = static_cast<ULONGLONG>(frequency.QuadPart);
  return ticks / perSecond * 1000 + ticks % perSecond * 1000 / perSecond;
}

}  // namespace

// The import slot winpthread calls through: __imp__GetTickCount64@0 on
// 32-bit x86 (stdcall decoration), __imp_GetTickCount64 on x86-64.
#if defined(__i386__)
#define ZRT_GETTICKCOUNT64_SLOT "__imp__GetTickCount64@0"
#else
#define ZRT_GETTICKCOUNT64_SLOT "__imp_GetTickCount64"
#endif
extern "C" {
__attribute__((used))
ULONGLONG(WINAPI* zrt_GetTickCount64_slot)(void) __asm__(ZRT_GETTICKCOUNT64_SLOT) = &TickCount64;
}
