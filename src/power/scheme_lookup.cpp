#include "power/scheme_lookup.h"

#include <string>

#include "platform/code_page_text.h"
#include "platform/text_conversion.h"

namespace zrt::power {

bool SchemesEnumProc(run::Run& run, std::uint32_t index, const port::WideText& name,
                     const port::WideText& description) {
  run::SchemeLookupState& state = run.lookup;
  if (index > state.highestIndex) state.highestIndex = index;

  // A name with characters the code page lacks is listed and logged, but
  // its narrow form is not its name, so it never matches.
  std::string narrowName;
  bool lossy = false;
  ToNarrow(run.platform.system, name, narrowName, &lossy);
  const bool tableFull = state.schemeCount >= run::SchemeLookupState::kMaxSchemes;
  if (!tableFull) {
    auto& entry = state.schemeNames[state.schemeCount];
    entry.Assign(narrowName, LeadBytesOf(run.platform.system));
    state.nameInexact[state.schemeCount] = lossy || entry.WasCut();
  }

  run.log.Write("SCHEMESENUMPROC", "Success", "EnumPwrSchemes", "", narrowName);

  if (!lossy &&
      run.platform.system.lstrcmpiA(state.requestedName.c_str(), narrowName.c_str()) == 0) {
    state.foundIndex = index;
    ToNarrow(run.platform.system, description, state.foundDescription);
    state.storedDescription = description;
    // A machine with more schemes than the table holds still finds them.
    if (tableFull) state.matchedPastTable = true;
  }
  if (!tableFull) ++state.schemeCount;
  return true;
}

bool SchemeEntryMatches(run::Run& run, std::int32_t entry, std::string_view schemeName) {
  const run::SchemeLookupState& state = run.lookup;
  const std::string wanted(schemeName);
  return !state.nameInexact[entry] &&
         run.platform.system.lstrcmpiA(state.schemeNames[entry].c_str(), wanted.c_str()) == 0;
}

bool IsSchemePresent(run::Run& run, std::string_view schemeName) {
  const run::SchemeLookupState& state = run.lookup;
  for (std::int32_t i = 0; i < state.schemeCount; ++i) {
    if (SchemeEntryMatches(run, i, schemeName)) return true;
  }
  return state.matchedPastTable;
}

bool LookUpScheme(run::Run& run, std::string_view schemeName, const char* module) {
  run::SchemeLookupState& state = run.lookup;
  for (auto& entry : state.schemeNames) entry.Clear();
  state.nameInexact.fill(false);
  state.schemeCount = 0;
  state.foundIndex = 0;
  state.matchedPastTable = false;
  state.requestedName.Clear();
  state.foundDescription.Clear();
  state.storedDescription.clear();
  state.requestedName.Assign(schemeName);
  state.listed = run.platform.power.EnumPwrSchemes(
      [&run](std::uint32_t index, const port::WideText& name, const port::WideText& description) {
        return SchemesEnumProc(run, index, name, description);
      });
  if (!state.listed && module != nullptr) {
    run::CapturedError(run).Log(module, "Failed", "EnumPwrSchemes");
  }
  return state.listed && IsSchemePresent(run, schemeName);
}

bool SchemesNotListed(run::Run& run) {
  run.buffers.failureMessage.Assign("Failed to list the power schemes : ");
  run.buffers.failureMessage.Append(run.buffers.errorText.view(), LeadBytesOf(run.platform.system));
  return false;
}

}  // namespace zrt::power
