#include "app/step_dispatch.h"

#include <string>

#include "power/scheme_creation.h"
#include "power/scheme_deletion.h"
#include "power/scheme_modification.h"

namespace zrt::app {
namespace {

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

const Operation* FindOperation(port::System& system, std::string_view action) {
  const std::string text(action);
  for (const Operation& op : kOperations) {
    if (system.lstrcmpiA(text.c_str(), op.action) == 0) return &op;
  }
  return nullptr;
}

StepResult DispatchStep(run::Run& run, const jobdoc::PowerRequest& request) {
  const Operation* op = FindOperation(run.platform.system, request.action.view());
  if (op == nullptr) return StepResult::Skipped;
  run.log.Write("WinMain", "Info", "Action", op->verb, request.schemename.view());
  return op->perform(run, request) ? StepResult::Done : StepResult::Failed;
}

}  // namespace zrt::app
