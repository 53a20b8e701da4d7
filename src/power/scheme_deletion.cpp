#include "power/scheme_deletion.h"

#include "power/exact_value.h"
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

  if (!RequireExactValue(run, kModule, request, "schemename", "scheme name")) return false;
  SchemeLock lock;
  if (!lock.Take(run, kModule)) return false;
  const bool present = LookUpScheme(run, name, kModule);

  if (!power.CanUserWritePwrScheme()) {
    run::CaptureLastError(run);
    log.Write(kModule, "Info", "CanUserWritePwrScheme - NO", buffers.errorNumberText.view(),
              buffers.errorText.view());
    buffers.failureMessage.Assign(
        "The current user does not have sufficient privilege to Delete a power scheme.");
    return false;
  }

  const std::uint32_t index = run.lookup.foundIndex;
  std::uint32_t activeIndex = 0;
  if (!power.GetActivePwrScheme(activeIndex)) {
    run::CaptureLastError(run);
    log.Write(kModule, "Failed", "GetActivePwrScheme", buffers.errorNumberText.view(),
              buffers.errorText.view());
    if (run.context.vistaOrLater) {
      buffers.failureMessage.Assign("Os Type is Windows Vista/Windows 2008/Windows 7");
    } else {
      buffers.failureMessage.Assign("Failed to get active power scheme : ");
      buffers.failureMessage.Append(buffers.errorText.view());
    }
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
  run::CaptureLastError(run);
  log.Write(kModule, "Failed", "Scheme Deleted", "", name);
  log.Write(kModule, "Failed", "Scheme Deleted", buffers.errorNumberText.view(),
            buffers.errorText.view());
  buffers.failureMessage.Assign("Failed to delete power scheme : ");
  buffers.failureMessage.Append(buffers.errorText.view());
  return false;
}
}  // namespace

bool DeletePowerScheme(run::Run& run, jobdoc::PowerRequest request) {
  return run::GuardOperation(run, kModule, [&] { return Delete(run, request); });
}

}  // namespace zrt::power
