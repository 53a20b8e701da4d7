#include "power/scheme_update.h"

#include <string>

#include "platform/code_page_text.h"
#include "power/policy_steps.h"
#include "power/powercfg_settings.h"

namespace zrt::power {
namespace {
// The first capability read fails alike in both operations.
constexpr CallFailure kCapabilities = {"Failed to Get Power Capabilities : ", false, false, false};
}  // namespace

bool OverwriteAsked(port::System& system, const jobdoc::PowerRequest& request) {
  return ValueIs(system, request.overwriteifexst.view(), "1");
}

bool HandOverIfAsked(SettingsRun& settings, HandOver handOver, const char* option,
                     const char* handingOver, SchemeOperation other) {
  const std::string_view name = settings.request.schemename.view();
  if (!OverwriteAsked(settings.run.platform.system, settings.request)) {
    settings.Log("Info", name, option, "No");
    return true;
  }
  if (handOver == HandOver::Received) {
    settings.Log("Failed", name, "Hand Back",
                 "Refused: the power schemes changed between two look-ups");
    auto& message = settings.run.buffers.failureMessage;
    message.Assign("Power scheme \"");
    message.Append(name, LeadBytesOf(settings.run.platform.system));
    message.Append("\" appeared or disappeared between two look-ups; nothing was changed.");
    return false;
  }
  settings.Log("Info", name, option, "Yes");
  settings.Log("Info", name, "", handingOver);
  return other(settings.run, settings.request, HandOver::Received);
}

bool CallFailed(SettingsRun& settings, const char* call, const CallFailure& failure) {
  run::Run& run = settings.run;
  auto& buffers = run.buffers;
  if (failure.bare) {
    settings.Log("Failed", call, "", "");
    buffers.failureMessage.Assign(failure.message);
    return false;
  }
  const run::CapturedError error(run);
  if (failure.lineBefore) settings.Log("Failed", call, "", "");
  error.Fail(failure.message);
  error.Log(settings.rules.module, "Failed", call);
  if (failure.vistaRule && run.context.vistaOrLater) {
    buffers.failureMessage.Assign(kVistaFailureMessage);
  }
  return false;
}

bool CheckWriteRight(SettingsRun& settings) {
  run::Run& run = settings.run;
  if (run.platform.power.CanUserWritePwrScheme()) {
    settings.Log("Success", "CanUserWritePwrScheme", "", "Yes");
    return true;
  }
  run::CapturedError(run).Log(settings.rules.module, "Info", "CanUserWritePwrScheme - No");
  run.buffers.failureMessage.Assign(run.context.vistaOrLater ? kVistaFailureMessage
                                                             : settings.rules.privilegeMessage);
  return false;
}

bool ReadCurrentPolicies(SettingsRun& settings, port::GLOBAL_POWER_POLICY& global,
                         port::POWER_POLICY& policy) {
  if (!settings.run.platform.power.GetCurrentPowerPolicies(global, policy)) {
    return CallFailed(settings, "GetCurrentPowerPolicies", settings.rules.currentPolicies);
  }
  settings.Log("Success", "GetCurrentPowerPolicies", "", "");
  return true;
}

bool WriteScheme(SettingsRun& settings, std::uint32_t index, const port::WideText& name,
                 const port::WideText& description, port::POWER_POLICY& policy,
                 port::GLOBAL_POWER_POLICY& global) {
  auto& power = settings.run.platform.power;
  const OperationRules& rules = settings.rules;
  // Every refusal is decided before the first change (the hibernation
  // switch or the scheme), by what this machine would use: a value only a
  // capability it lacks takes is never used, so never refused. Reading the
  // capabilities changes nothing.
  port::SYSTEM_POWER_CAPABILITIES machine = {};
  if (!power.GetPwrCapabilities(machine)) {
    return CallFailed(settings, "GetPwrCapabilities", kCapabilities);
  }
  if (!RefuseCommandsBeforeChanges(settings, machine)) return false;
  const auto succeeded = [&settings](bool ok, const char* call, const CallFailure& failure) {
    if (!ok) return CallFailed(settings, call, failure);
    settings.Log("Success", call, "", "");
    return true;
  };
  const auto take = [&](SchemeStep step) {
    port::SYSTEM_POWER_CAPABILITIES capabilities = {};
    switch (step) {
      case SchemeStep::DiskAndMonitorTimeouts:
        return SetDiskAndMonitorTimeouts(settings, policy);
      case SchemeStep::Standby:
        return SetStandby(settings, policy);
      case SchemeStep::Hibernation:
        return SetHibernation(settings, policy);
      case SchemeStep::WriteScheme:
        return succeeded(power.WritePwrScheme(index, name, description, policy), "WritePwrScheme",
                         rules.writeScheme);
      case SchemeStep::ButtonActions:
        if (!succeeded(power.GetPwrCapabilities(capabilities), "GetPwrCapabilities",
                       kCapabilities)) {
          return false;
        }
        SetButtonActions(settings, capabilities, global);
        return true;
      case SchemeStep::WriteGlobalPolicy:
        return succeeded(power.WriteGlobalPwrPolicy(global), "WriteGlobalPwrPolicy",
                         rules.writeGlobalPolicy);
      case SchemeStep::ActiveScheme:
        return ApplyActiveScheme(settings);
      case SchemeStep::MachineSettings:  // CallFailed is always false
        return (power.GetPwrCapabilities(capabilities) ||
                CallFailed(settings, "GetPwrCapabilities", rules.capabilitiesAgain)) &&
               ApplyMachineSettings(settings, capabilities);
    }
    return false;
  };
  return TakeSchemeSteps(take);
}

}  // namespace zrt::power
