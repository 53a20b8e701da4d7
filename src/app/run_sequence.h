// The whole life of one job, from the entry point to the exit.
#pragma once

#include "platform/port/platform.h"

namespace zrt::app {

// Runs the job described by the process's command line on `platform`.
// `commandLineTail` is the entry point's command-line tail (logged only).
// Always returns 0, the process's exit code.
int RunJob(port::Platform& platform, const char* commandLineTail);

}  // namespace zrt::app
