// The run-wide record of the last power-scheme enumeration.
#pragma once

#include <array>
#include <cstdint>

#include "platform/fixed_text.h"
#include "platform/port/platform_types.h"

namespace zrt::run {

struct SchemeLookupState {
  static constexpr int kMaxSchemes = 100;

  FixedText<100> requestedName;
  std::array<FixedText<100>, kMaxSchemes> schemeNames;
  // Entries that are not the scheme's real name (characters lost in the
  // code-page conversion, or cut to the width): they never match.
  std::array<bool, kMaxSchemes> nameInexact{};
  std::int32_t schemeCount = 0;
  std::uint32_t foundIndex = 0;
  FixedText<1024> foundDescription;
  // The same description as the platform gave it, whatever its length and
  // characters: what a modification writes back.
  port::WideText storedDescription;
  // A match among schemes enumerated after the name table was full.
  bool matchedPastTable = false;
  // Whether the last EnumPwrSchemes succeeded: after a failed one the table
  // says nothing about the machine's schemes.
  bool listed = true;
  std::uint32_t highestIndex = 0;  // kept across lookups for the whole run
};

}  // namespace zrt::run
