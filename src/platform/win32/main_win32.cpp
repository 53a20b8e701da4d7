// The Windows program: a GUI-subsystem process without a window that runs
// one job on the real platform.
#include <windows.h>

#include "app/run_sequence.h"
#include "platform/win32/win32_platform.h"

#ifndef ZRT_POST_BOUND_MS
#define ZRT_POST_BOUND_MS 300000
#endif

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR commandLineTail,
                   int /*showState*/) {
  // The job reports its outcome through its log and status report only;
  // the process always ends with 0, even if the platform cannot be set up.
  try {
    auto platform = zrt::win32::Win32Platform::Create();
    return zrt::app::RunJob(platform->platform(), commandLineTail != nullptr ? commandLineTail : "",
                            ZRT_POST_BOUND_MS);
  } catch (...) {
    return 0;
  }
}
