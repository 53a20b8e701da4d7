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
// returns whether one is named `schemeName` (ignoring case).
bool LookUpScheme(run::Run& run, std::string_view schemeName);

// Whether entry `entry` of the last enumeration's name table is the scheme
// named `schemeName` (ignoring case); an inexact entry never is.
bool SchemeEntryMatches(run::Run& run, std::int32_t entry, std::string_view schemeName);

// Whether the last enumeration saw a scheme named `schemeName`.
bool IsSchemePresent(run::Run& run, std::string_view schemeName);

}  // namespace zrt::power
