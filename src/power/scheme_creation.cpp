#include "power/scheme_creation.h"

#include <cstdint>
#include <string>

#include "platform/text_conversion.h"
#include "power/exact_value.h"
#include "power/scheme_lock.h"
#include "power/scheme_lookup.h"
#include "power/scheme_modification.h"

namespace zrt::power {
namespace {

constexpr std::uint32_t kHighestSchemeIndex = 0xFFFFFFFF;

class Creation {
 public:
  Creation(run::Run& run, const jobdoc::PowerRequest& request, HandOver handOver)
      : run_(run),
        request_(request),
        name_(request.schemename.view()),
        handOver_(handOver),
        settings_{run, request, kCreationRules} {}

  bool Run() {
    run_.buffers.commandBuffer.Clear();
    // "Info444" is the type stored logs carry for this line: keep it.
    settings_.Log("Info444", "1", "", name_);
    if (!RequireExactValue(run_, kCreationRules.module, request_, jobdoc::Field::schemename,
                           "scheme name")) {
      return false;
    }
    if (const char* problem = NewSchemeNameProblem(name_)) {
      settings_.Log("Failed", "schemename", name_, problem);
      run_.buffers.failureMessage.Assign(problem);
      return false;
    }
    // A request handed over by modification runs under its lock.
    SchemeLock lock;
    if (handOver_ == HandOver::Allowed && !lock.Take(run_, kCreationRules.module)) return false;
    if (FindScheme()) return KeepOrHandOver();
    // Without the list, the highest index in use is unknown: writing could
    // replace a scheme.
    if (!run_.lookup.listed) return SchemesNotListed(run_);
    settings_.Log("Info", "Scheme Not Present", "", name_);
    if (run_.lookup.highestIndex == kHighestSchemeIndex) return NoFreeIndex();
    if (!CheckWriteRight(settings_)) return false;

    port::WideText name, description;
    ToWide(run_.platform.system, name_, name);
    ToWide(run_.platform.system, request_.schemeDesc.view(), description);
    settings_.Log("Info", "Scheme Desc", "", request_.schemeDesc.view());

    port::GLOBAL_POWER_POLICY global = {};
    port::POWER_POLICY policy = {};
    if (!ReadCurrentPolicies(settings_, global, policy)) return false;
    return WriteScheme(settings_, run_.lookup.highestIndex + 1, name, description, policy, global);
  }

 private:
  // Enumerates the schemes and logs every name recorded while looking for
  // the requested one among them.
  bool FindScheme() {
    LookUpScheme(run_, name_, kCreationRules.module);
    const run::SchemeLookupState& lookup = run_.lookup;
    bool found = lookup.matchedPastTable;
    for (std::int32_t i = 0; i < lookup.schemeCount; ++i) {
      settings_.Log("", lookup.schemeNames[i].view(), "", name_);
      if (SchemeEntryMatches(run_, i, name_)) found = true;
    }
    return found && lookup.listed;
  }

  // The new scheme takes the index above the highest in use; past the
  // largest index it would wrap to 0 and replace the scheme there.
  bool NoFreeIndex() {
    settings_.Log("Failed", "WritePwrScheme", "No free scheme index",
                  std::to_string(kHighestSchemeIndex));
    run_.buffers.failureMessage.Assign(
        "Failed to Write New Power Scheme : no free scheme index above the highest one in use (" +
        std::to_string(kHighestSchemeIndex) + "); nothing was changed.");
    return false;
  }

  bool KeepOrHandOver() {
    settings_.Log("Info", "Scheme Already Present", "", name_);
    return HandOverIfAsked(settings_, handOver_, "OverWriteIfExist", "Modifying Scheme",
                           ModifyPowerScheme);
  }

  run::Run& run_;
  const jobdoc::PowerRequest& request_;
  const std::string_view name_;
  const HandOver handOver_;
  SettingsRun settings_;
};

}  // namespace

bool CreatePowerScheme(run::Run& run, jobdoc::PowerRequest request, HandOver handOver) {
  return run::GuardOperation(run, kCreationRules.module,
                             [&] { return Creation(run, request, handOver).Run(); });
}

}  // namespace zrt::power
