// The process-wide state of one job run, passed by reference to every part.
#pragma once

#include "app/job_arguments.h"
#include "app/job_context.h"
#include "platform/port/platform.h"
#include "power/scheme_lookup_state.h"
#include "report/activity_log.h"

namespace zrt::app {

struct Run {
  explicit Run(port::Platform& platformRef) : platform(platformRef), log(platformRef, context) {}
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  port::Platform& platform;
  JobContext context;
  JobArguments args;
  SharedBuffers buffers;
  power::SchemeLookupState lookup;
  report::ActivityLog log;
};

// Error capture: the thread's last error code as decimal text and the
// system's message text for it, into the shared buffers.
void CaptureLastError(Run& run);

}  // namespace zrt::app

namespace zrt::app {

// Thrown after an operation has logged an exception it caught: the process
// ends at once with exit code 0, without an "End" line or a status report.
struct JobAborted {};

// Runs `body`; any exception it raises is logged as ("ERROR", "Exception
// Occured", code, text) under `module` after an error capture, and the job
// is aborted.
template <typename Body>
auto GuardOperation(Run& run, const char* module, Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const JobAborted&) {
    throw;
  } catch (...) {
    CaptureLastError(run);
    run.log.Write(module, "ERROR", "Exception Occured", run.buffers.errorNumberText.view(),
                  run.buffers.errorText.view());
    throw JobAborted{};
  }
}

}  // namespace zrt::app
