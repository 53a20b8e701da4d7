// Changes an existing power scheme to the settings of a request.
#pragma once

#include "jobdoc/power_request.h"
#include "run/run.h"

namespace zrt::power {

// Not part of this build yet: the step fails the job with a message saying
// so, rather than passing as if it had been done.
bool ModifyPowerScheme(run::Run& run, jobdoc::PowerRequest request);

}  // namespace zrt::power
