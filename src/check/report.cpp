#include "check/report.h"

#include <algorithm>

namespace zrt::check {

int Report::Count(Severity severity) const {
  const auto count = [severity](const std::vector<Finding>& findings) {
    return static_cast<int>(std::count_if(findings.begin(), findings.end(), [&](const Finding& f) {
      return f.severity == severity;
    }));
  };
  int total = count(findings);
  for (const StepReport& step : steps) total += count(step.findings);
  return total;
}

int Report::ExitCode() const {
  if (Count(Severity::Error) > 0) return 2;
  return Count(Severity::Warning) > 0 ? 1 : 0;
}

}  // namespace zrt::check
