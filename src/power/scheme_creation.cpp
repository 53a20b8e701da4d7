#include "power/scheme_creation.h"

#include <string>

#include "platform/text_conversion.h"
#include "power/exact_value.h"
#include "power/policy_steps.h"
#include "power/powercfg_settings.h"
#include "power/scheme_lookup.h"
#include "power/scheme_modification.h"

namespace zrt::power {
namespace {
constexpr const char* kModule = "CreatePowerScheme";

class Creation {
 public:
  Creation(run::Run& run, const jobdoc::PowerRequest& request)
      : run_(run),
        request_(request),
        name_(request.schemename.view()),
        settings_{run, kModule, request, ReportInRowStyle, "Set Activ"} {}

  bool Run() {
    run_.buffers.commandBuffer.Clear();
    Log("Info444", "1", "", name_);
    if (!RequireExactValue(run_, kModule, request_, "schemename", "scheme name")) return false;
    if (FindScheme()) return KeepOrHandOver();
    Log("Info", "Scheme Not Present", "", name_);

    auto& power = run_.platform.power;
    if (!power.CanUserWritePwrScheme()) {
      run::CaptureLastError(run_);
      Log("Info", "CanUserWritePwrScheme - No", Number(), Text());
      run_.buffers.failureMessage.Assign(
          "The current user does not have sufficient privilege to Create a power scheme.");
      return FailWithVistaRule();
    }
    Log("Success", "CanUserWritePwrScheme", "", "Yes");

    port::WideText name, description;
    ToWide(run_.platform.system, name_, name);
    ToWide(run_.platform.system, request_.schemeDesc.view(), description);
    Log("Info", "Scheme Desc", "", request_.schemeDesc.view());

    port::GLOBAL_POWER_POLICY global = {};
    port::POWER_POLICY policy = {};
    if (!power.GetCurrentPowerPolicies(global, policy)) {
      CallFailed("GetCurrentPowerPolicies", "Failed to Get Current Power Policies : ", false);
      return FailWithVistaRule();
    }
    Log("Success", "GetCurrentPowerPolicies", "", "");

    SetDiskAndMonitorTimeouts(run_, kModule, request_, policy);
    SetStandby(run_, kModule, request_, policy, true);
    if (!SetHibernation(settings_, policy)) return false;

    std::uint32_t index = run_.lookup.highestIndex + 1;
    if (!power.WritePwrScheme(index, name, description, policy)) {
      CallFailed("WritePwrScheme", "Failed to Write New Power Scheme : ", true);
      return FailWithVistaRule();
    }
    Log("Success", "WritePwrScheme", "", "");

    port::SYSTEM_POWER_CAPABILITIES buttons = {};
    if (!power.GetPwrCapabilities(buttons)) {
      return CallFailed("GetPwrCapabilities", "Failed to Get Power Capabilities : ", false);
    }
    Log("Success", "GetPwrCapabilities", "", "");
    SetButtonActions(run_, kModule, request_, buttons, global, true);

    if (!power.WriteGlobalPwrPolicy(global)) {
      return CallFailed("WriteGlobalPwrPolicy",
                        "Failed to set Global Power Policy while Creating scheme : ", true);
    }
    Log("Success", "WriteGlobalPwrPolicy", "", "");

    if (!ApplyActiveScheme(settings_)) return false;

    port::SYSTEM_POWER_CAPABILITIES machine = {};
    if (!power.GetPwrCapabilities(machine)) {
      return CallFailed("GetPwrCapabilities", "Failed to Get Power capabilities : ", true);
    }
    return ApplyMachineSettings(settings_, machine);
  }

 private:
  void Log(std::string_view type, std::string_view val1, std::string_view val2,
           std::string_view val3) {
    run_.log.Write(kModule, type, val1, val2, val3);
  }
  std::string_view Number() const { return run_.buffers.errorNumberText.view(); }
  std::string_view Text() const { return run_.buffers.errorText.view(); }

  // A failed platform call: the error texts of its failure, taken before a
  // log line can change the thread's last error; the failure message, the
  // prefix followed by the error text; (Failed, call, number, text), after
  // (Failed, call, "", "") when `lineBefore`. Always false.
  bool CallFailed(const char* call, const char* prefix, bool lineBefore) {
    run::CaptureLastError(run_);
    if (lineBefore) Log("Failed", call, "", "");
    run_.buffers.failureMessage.Assign(prefix);
    run_.buffers.failureMessage.Append(Text());
    Log("Failed", call, Number(), Text());
    return false;
  }

  bool FailWithVistaRule() {
    if (run_.context.vistaOrLater) run_.buffers.failureMessage.Assign(kVistaFailureMessage);
    return false;
  }

  // Enumerates the schemes and logs every name recorded while looking for
  // the requested one among them.
  bool FindScheme() {
    LookUpScheme(run_, name_);
    const run::SchemeLookupState& lookup = run_.lookup;
    bool found = lookup.matchedPastTable;
    for (std::int32_t i = 0; i < lookup.schemeCount; ++i) {
      Log("", lookup.schemeNames[i].view(), "", name_);
      if (SchemeEntryMatches(run_, i, name_)) found = true;
    }
    return found;
  }

  bool KeepOrHandOver() {
    Log("Info", "Scheme Already Present", "", name_);
    if (run_.platform.system.lstrcmpiA(request_.overwriteifexst.c_str(), "1") != 0) {
      Log("Info", name_, "OverWriteIfExist", "No");
      return true;
    }
    Log("Info", name_, "OverWriteIfExist", "Yes");
    Log("Info", name_, "", "Modifying Scheme");
    return ModifyPowerScheme(run_, request_);
  }

  run::Run& run_;
  const jobdoc::PowerRequest& request_;
  const std::string_view name_;
  SettingsRun settings_;
};

}  // namespace

bool CreatePowerScheme(run::Run& run, jobdoc::PowerRequest request) {
  return run::GuardOperation(run, kModule, [&] { return Creation(run, request).Run(); });
}

}  // namespace zrt::power
