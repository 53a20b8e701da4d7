#include "app/step_dispatch.h"

#include "power/scheme_deletion.h"

namespace zrt::app {
namespace {

// Creation and modification are not part of this build yet: such a step
// must fail the job rather than pass as if it had been done.
bool NotAvailable(run::Run& run, const char* module, const char* action) {
  const std::string message = std::string(action) + " is not available in this build.";
  run.log.Write(module, "Failed", action, "", message);
  run.buffers.failureMessage.Assign(message);
  return false;
}

struct Operation {
  const char* action;
  const char* verb;
  bool (*perform)(run::Run&, const jobdoc::PowerRequest&);
};

const Operation kOperations[] = {
    {"Create Scheme", "Create",
     [](run::Run& r, const jobdoc::PowerRequest&) {
       return NotAvailable(r, "CreatePowerScheme", "Create Scheme");
     }},
    {"Modify Scheme", "Modify",
     [](run::Run& r, const jobdoc::PowerRequest&) {
       return NotAvailable(r, "ModifyPowerScheme", "Modify Scheme");
     }},
    {"Delete Scheme", "Delete",
     [](run::Run& r, const jobdoc::PowerRequest& request) {
       return power::DeletePowerScheme(r, request);
     }},
};

}  // namespace

StepResult DispatchStep(run::Run& run, const jobdoc::PowerRequest& request) {
  for (const Operation& op : kOperations) {
    if (run.platform.system.lstrcmpiA(request.action.c_str(), op.action) != 0) continue;
    run.log.Write("WinMain", "Info", "Action", op.verb, request.schemename.view());
    return op.perform(run, request) ? StepResult::Done : StepResult::Failed;
  }
  return StepResult::Skipped;
}

}  // namespace zrt::app
