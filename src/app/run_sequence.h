// The whole life of one job, from the entry point to the exit.
#pragma once

#include <cstdint>

#include "platform/port/platform.h"
#include "run/run.h"

namespace zrt::app {

// Runs the job described by the process's command line on `platform`.
// `commandLineTail` is the entry point's command-line tail (logged only).
// `postBoundMs` bounds the wait for each post through the post library.
// Always returns 0, the process's exit code.
int RunJob(port::Platform& platform, const char* commandLineTail,
           std::uint32_t postBoundMs = run::kDefaultPostBoundMs);

}  // namespace zrt::app
