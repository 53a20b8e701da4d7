#include "run/run.h"

#include <string>

#include "platform/code_page_text.h"
#include "platform/system_facts.h"

namespace zrt::run {

CapturedError::CapturedError(Run& run, bool keepLastError) : run_(run) {
  if (keepLastError) kept_ = run.platform.system.GetLastError();
  run.buffers.errorNumberText.Clear();
  run.buffers.errorText.Clear();
  run.buffers.errorNumberText.Assign(std::to_string(run.platform.system.GetLastError()));
  run.buffers.errorText.Assign(
      SystemErrorText(run.platform.system, run.platform.system.GetLastError()),
      LeadBytesOf(run.platform.system));
}

CapturedError::~CapturedError() {
  if (kept_) run_.platform.system.SetLastError(*kept_);
}

void CapturedError::Log(std::string_view module, std::string_view type,
                        std::string_view label) const {
  run_.log.Write(module, type, label, run_.buffers.errorNumberText.view(),
                 run_.buffers.errorText.view());
}

bool CapturedError::Fail(std::string_view prefix) const {
  run_.buffers.failureMessage.Assign(prefix);
  run_.buffers.failureMessage.Append(run_.buffers.errorText.view(),
                                     LeadBytesOf(run_.platform.system));
  return false;
}

}  // namespace zrt::run
