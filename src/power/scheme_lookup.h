// Finds power schemes by name through the platform's scheme enumeration.
#pragma once

#include <cstdint>
#include <string_view>

#include "run/run.h"

namespace zrt::power {

// Records one enumerated scheme in the run's lookup state.
bool SchemesEnumProc(run::Run& run, std::uint32_t index, const port::WideText& name,
                     const port::WideText& description);

// Resets the lookup (all but the highest index), enumerates every scheme and
// returns whether one is named `schemeName` (ignoring case). When
// EnumPwrSchemes fails, run.lookup.listed is false, the scheme counts as not
// present (whatever was called back before the failure) and, given a
// `module`, the failed call is logged there as ("Failed", "EnumPwrSchemes",
// number, text) after an error capture.
bool LookUpScheme(run::Run& run, std::string_view schemeName, const char* module = nullptr);

// After a failed enumeration: the message that the schemes could not be
// listed, with the error text of the capture. Always false.
bool SchemesNotListed(run::Run& run);

// Whether entry `entry` of the last enumeration's name table is the scheme
// named `schemeName` (ignoring case); an inexact entry never is.
bool SchemeEntryMatches(run::Run& run, std::int32_t entry, std::string_view schemeName);

// Whether the last enumeration saw a scheme named `schemeName`.
bool IsSchemePresent(run::Run& run, std::string_view schemeName);

}  // namespace zrt::power
