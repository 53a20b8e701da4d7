#include "run/run.h"

#include <string>

#include "platform/system_facts.h"

namespace zrt::run {

void CaptureLastError(Run& run) {
  run.buffers.errorNumberText.Clear();
  run.buffers.errorText.Clear();
  run.buffers.errorNumberText.Assign(std::to_string(run.platform.system.GetLastError()));
  run.buffers.errorText.Assign(
      SystemErrorText(run.platform.system, run.platform.system.GetLastError()));
}

}  // namespace zrt::run
