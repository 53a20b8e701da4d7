#include "power/scheme_modification.h"

#include "platform/text_conversion.h"
#include "power/exact_value.h"
#include "power/scheme_creation.h"
#include "power/scheme_lock.h"
#include "power/scheme_lookup.h"

namespace zrt::power {
namespace {

constexpr CallFailure kReadFailure = {"Error occured while Reading Power Scheme", false, true,
                                      false};

class Modification {
 public:
  Modification(run::Run& run, const jobdoc::PowerRequest& request, HandOver handOver)
      : run_(run),
        request_(request),
        name_(request.schemename.view()),
        handOver_(handOver),
        settings_{run, request, kModificationRules} {}

  bool Run() {
    if (!RequireExactValue(run_, kModificationRules.module, request_, jobdoc::Field::schemename,
                           "scheme name")) {
      return false;
    }
    // A request handed over by creation runs under its lock.
    SchemeLock lock;
    if (handOver_ == HandOver::Allowed && !lock.Take(run_, kModificationRules.module)) {
      return false;
    }
    if (!LookUpScheme(run_, name_, kModificationRules.module)) return CreateIfAsked();
    settings_.Log("Info", "Scheme Already Present", "", name_);
    if (!OverwriteAsked(run_.platform.system, request_)) return true;
    if (!CheckWriteRight(settings_)) return false;

    const std::uint32_t index = run_.lookup.foundIndex;
    port::POWER_POLICY policy = {};
    if (!run_.platform.power.ReadPwrScheme(index, policy)) {
      return CallFailed(settings_, "ReadPwrScheme", kReadFailure);
    }
    port::GLOBAL_POWER_POLICY global = {};
    port::POWER_POLICY inForce = {};  // the active scheme's policy is not used
    if (!ReadCurrentPolicies(settings_, global, inForce)) return false;

    // Written back under the request's letter case, with the description
    // exactly as stored.
    port::WideText name;
    ToWide(run_.platform.system, name_, name);
    return WriteScheme(settings_, index, name, run_.lookup.storedDescription, policy, global);
  }

 private:
  bool CreateIfAsked() {
    // After a failed enumeration presence is unknown: the failed call is
    // logged, not "Scheme Not Present". Creation would enumerate again, but
    // this step never writes after a failed enumeration.
    if (!run_.lookup.listed) {
      if (OverwriteAsked(run_.platform.system, request_)) return SchemesNotListed(run_);
    } else {
      settings_.Log("Info", "Scheme Not Present", "", name_);
    }
    return HandOverIfAsked(settings_, handOver_, "Create If Not Exist", "Creating Scheme",
                           CreatePowerScheme);
  }

  run::Run& run_;
  const jobdoc::PowerRequest& request_;
  const std::string_view name_;
  const HandOver handOver_;
  SettingsRun settings_;
};

}  // namespace

bool ModifyPowerScheme(run::Run& run, jobdoc::PowerRequest request, HandOver handOver) {
  return run::GuardOperation(run, kModificationRules.module,
                             [&] { return Modification(run, request, handOver).Run(); });
}

}  // namespace zrt::power
