#include "power/exact_value.h"

#include "platform/code_page_text.h"

namespace zrt::power {

bool ValueIs(port::System& system, std::string_view value, const char* literal) {
  return system.lstrcmpiA(std::string(value).c_str(), literal) == 0;
}

std::string ValueFitProblem(const jobdoc::PowerRequest& request, jobdoc::Field field,
                            std::string_view label) {
  const jobdoc::ValueFit fit = request.Fit(field);
  if (fit == jobdoc::ValueFit::Whole) return {};
  std::string reason = "The " + std::string(label);
  if (fit == jobdoc::ValueFit::TooLong) {
    reason += " is " + LongerThanBytes(jobdoc::FieldOf(field).capacity - 1) + ".";
  } else {
    reason += " holds characters outside the machine's code page.";
  }
  return reason;
}

const char* NewSchemeNameProblem(std::string_view name) {
  const bool blank = name.find_first_not_of(" \t\r\n\v\f") == std::string_view::npos;
  return blank ? "The scheme name (schemename) is empty or blank: a new scheme needs a name."
               : nullptr;
}

bool RequireExactValue(run::Run& run, const char* module, const jobdoc::PowerRequest& request,
                       jobdoc::Field field, std::string_view label) {
  const std::string reason = ValueFitProblem(request, field, label);
  if (reason.empty()) return true;
  run.log.Write(module, "Failed", jobdoc::FieldOf(field).name, request.Read(field), reason);
  run.buffers.failureMessage.Assign(reason);
  return false;
}

}  // namespace zrt::power
