// Removes the named power scheme unless it is the active one.
#pragma once

#include "jobdoc/power_request.h"
#include "run/run.h"

namespace zrt::power {

// True when the scheme was removed or did not exist; false with
// run.buffers.failureMessage set otherwise.
bool DeletePowerScheme(run::Run& run, jobdoc::PowerRequest request);

}  // namespace zrt::power
