// Adds a new power scheme, derived from the policies in force, with the
// request's time-outs, button and lid actions and Powercfg.exe settings.
#pragma once

#include "jobdoc/power_request.h"
#include "power/scheme_update.h"
#include "run/run.h"

namespace zrt::power {

// True when the scheme was created, or exists and may stay as it is; an
// existing scheme with `overwriteifexst` "1" is handed to modification,
// unless the request came from there. False with
// run.buffers.failureMessage set otherwise. Nothing written before a failing
// step is undone.
bool CreatePowerScheme(run::Run& run, jobdoc::PowerRequest request,
                       HandOver handOver = HandOver::Allowed);

}  // namespace zrt::power
