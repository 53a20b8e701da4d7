#include "power/scheme_deletion.h"

#include "power/exact_value.h"
#include "power/operation_rules.h"
#include "power/scheme_lock.h"
#include "power/scheme_lookup.h"

namespace zrt::power {
namespace {
constexpr const char* kModule = "DeletePowerScheme";

bool Delete(run::Run& run, const jobdoc::PowerRequest& request) {
  auto& log = run.log;
  auto& power = run.platform.power;
  auto& buffers = run.buffers;
  const std::string_view name = request.schemename.view();

  if (!RequireExactValue(run, kModule, request, jobdoc::Field::schemename, "scheme name")) {
    return false;
  }
  SchemeLock lock;
  if (!lock.Take(run, kModule)) return false;
  const bool present = LookUpScheme(run, name, kModule);
  // Without the list, presence is unknown: "not present" would report a
  // deletion that did not happen.
  if (!run.lookup.listed) return SchemesNotListed(run);

  if (!power.CanUserWritePwrScheme()) {
    run::CapturedError(run).Log(kModule, "Info", "CanUserWritePwrScheme - NO");
    buffers.failureMessage.Assign(
        "The current user does not have sufficient privilege to Delete a power scheme.");
    return false;
  }

  const std::uint32_t index = run.lookup.foundIndex;
  std::uint32_t activeIndex = 0;
  if (!power.GetActivePwrScheme(activeIndex)) {
    const run::CapturedError error(run);
    error.Log(kModule, "Failed", "GetActivePwrScheme");
    if (!run.context.vistaOrLater) return error.Fail("Failed to get active power scheme : ");
    buffers.failureMessage.Assign(kVistaFailureMessage);
    return false;
  }
  log.Write(kModule, "Success", "GetActivePwrScheme", "", "");

  if (!present) {
    log.Write(kModule, "Info", "Scheme Not Present", "", name);
    return true;
  }
  log.Write(kModule, "Info", "Scheme Present", "", name);

  if (index == activeIndex) {
    log.Write(kModule, "Failed", "Scheme Deleted", "", "Scheme Is Currently Activated");
    buffers.failureMessage.Assign("Scheme Is Currently Active hence not Deleted.");
    return false;
  }

  if (power.DeletePwrScheme(index)) {
    log.Write(kModule, "Success", "Scheme Deleted", "", name);
    return true;
  }
  const run::CapturedError error(run);
  log.Write(kModule, "Failed", "Scheme Deleted", "", name);
  error.Log(kModule, "Failed", "Scheme Deleted");
  return error.Fail("Failed to delete power scheme : ");
}
}  // namespace

bool DeletePowerScheme(run::Run& run, jobdoc::PowerRequest request) {
  return run::GuardOperation(run, kModule, [&] { return Delete(run, request); });
}

}  // namespace zrt::power
