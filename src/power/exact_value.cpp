#include "power/exact_value.h"

namespace zrt::power {

std::string ValueFitProblem(const jobdoc::PowerRequest& request, std::string_view fieldName,
                            std::string_view label) {
  const jobdoc::ValueFit fit = request.Fit(fieldName);
  if (fit == jobdoc::ValueFit::Whole) return {};
  const jobdoc::PowerRequestField* field = jobdoc::FindField(fieldName);
  std::string reason = "The " + std::string(label);
  if (fit == jobdoc::ValueFit::TooLong) {
    reason += " is longer than " + std::to_string(field->capacity - 1) + " characters.";
  } else {
    reason += " holds characters outside the machine's code page.";
  }
  return reason;
}

bool RequireExactValue(run::Run& run, const char* module, const jobdoc::PowerRequest& request,
                       std::string_view fieldName, std::string_view label) {
  const std::string reason = ValueFitProblem(request, fieldName, label);
  if (reason.empty()) return true;
  run.log.Write(module, "Failed", fieldName, jobdoc::FindField(fieldName)->read(request), reason);
  run.buffers.failureMessage.Assign(reason);
  return false;
}

}  // namespace zrt::power
