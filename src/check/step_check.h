// What one step of a job document will do, told field by field from the
// operations' own value tests, tables and command builder.
#pragma once

#include <vector>

#include "check/report.h"
#include "jobdoc/job_document.h"
#include "platform/port/system.h"

namespace zrt::check {

// The findings and command lines of the step read into `request`, whose
// child elements were `elements`.
StepReport CheckStep(port::System& system, int number, const jobdoc::PowerRequest& request,
                     const std::vector<jobdoc::StepElement>& elements);

}  // namespace zrt::check
