// Changes an existing power scheme to the settings of a request.
#pragma once

#include "jobdoc/power_request.h"
#include "power/scheme_update.h"
#include "run/run.h"

namespace zrt::power {

// Reads the scheme named by the request (ignoring case), sets its time-outs
// and writes it back under the request's name with its stored description;
// then the global policy's buttons and lid and the Powercfg.exe settings.
// True when that succeeded, or when the scheme is missing or may not be
// changed and the request leaves it so; a missing scheme with
// `overwriteifexst` "1" is handed to creation, unless the request came from
// there. False with run.buffers.failureMessage set otherwise. Nothing
// written before a failing step is undone.
bool ModifyPowerScheme(run::Run& run, jobdoc::PowerRequest request,
                       HandOver handOver = HandOver::Allowed);

}  // namespace zrt::power
