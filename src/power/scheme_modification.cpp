#include "power/scheme_modification.h"

namespace zrt::power {

bool ModifyPowerScheme(run::Run& run, jobdoc::PowerRequest) {
  constexpr const char* kMessage = "Modify Scheme is not available in this build.";
  run.log.Write("ModifyPowerScheme", "Failed", "Modify Scheme", "", kMessage);
  run.buffers.failureMessage.Assign(kMessage);
  return false;
}

}  // namespace zrt::power
