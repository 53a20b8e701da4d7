#include "app/step_dispatch.h"

#include "power/scheme_creation.h"
#include "power/scheme_deletion.h"
#include "power/scheme_modification.h"

namespace zrt::app {
namespace {

struct Operation {
  const char* action;
  const char* verb;
  bool (*perform)(run::Run&, const jobdoc::PowerRequest&);
};

const Operation kOperations[] = {
    {"Create Scheme", "Create",
     [](run::Run& r, const jobdoc::PowerRequest& request) {
       return power::CreatePowerScheme(r, request);
     }},
    {"Modify Scheme", "Modify",
     [](run::Run& r, const jobdoc::PowerRequest& request) {
       return power::ModifyPowerScheme(r, request);
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
