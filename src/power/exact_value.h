// The check every power operation makes before it acts on a request value
// that it compares, looks up or puts into a command line: such a value must
// have reached its field whole, since a cut or converted-away text names
// something else.
#pragma once

#include <string>
#include <string_view>

#include "jobdoc/power_request.h"
#include "power/settings_walk.h"
#include "run/run.h"

namespace zrt::power {

// True when `field` of `request` holds its element's text exactly.
// Otherwise logs ("Failed", the field's name, the stored value, reason)
// under `module`, sets run.buffers.failureMessage to the reason
// (ValueFitProblem) and returns false.
bool RequireExactValue(run::Run& run, const char* module, const jobdoc::PowerRequest& request,
                       jobdoc::Field field, std::string_view label);

}  // namespace zrt::power
