// Hands each step of the job to the power operation its action names.
#pragma once

#include <string_view>

#include "jobdoc/power_request.h"
#include "platform/port/system.h"
#include "run/run.h"

namespace zrt::app {

enum class StepResult { Done, Skipped, Failed };

// A job action and the power operation it names.
struct Operation {
  const char* action;  // "Create Scheme", "Modify Scheme", "Delete Scheme"
  const char* verb;    // "Create", "Modify", "Delete"
  bool (*perform)(run::Run&, const jobdoc::PowerRequest&);
};

// The operation a request's action names, matched ignoring case as the
// platform compares; null for any other action.
const Operation* FindOperation(port::System& system, std::string_view action);

// Dispatches one request on its action ("Create Scheme", "Modify Scheme",
// "Delete Scheme", ignoring case). A request with any other action is
// skipped without a log line.
StepResult DispatchStep(run::Run& run, const jobdoc::PowerRequest& request);

}  // namespace zrt::app
