// Hands each step of the job to the power operation its action names.
#pragma once

#include "jobdoc/power_request.h"
#include "run/run.h"

namespace zrt::app {

enum class StepResult { Done, Skipped, Failed };

// Dispatches one request on its action ("Create Scheme", "Modify Scheme",
// "Delete Scheme", ignoring case). A request with any other action is
// skipped without a log line.
StepResult DispatchStep(run::Run& run, const jobdoc::PowerRequest& request);

}  // namespace zrt::app
