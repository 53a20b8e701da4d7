// Splits the process's command line into the nine job-argument fields.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/fixed_text.h"
#include "run/run.h"

namespace zrt::app {

// The longest command line taken; a longer one is refused whole.
constexpr std::size_t kMaxCommandLine = 1023;

// Fields are maximal runs of characters other than '@' and '#'; the trail
// byte of a double-byte character (`isLeadByte`) is never a separator.
std::vector<std::string_view> SplitJobArgument(std::string_view text,
                                               const LeadByteTest& isLeadByte = {});

// Fills run.args when the text holds exactly nine fields; logs and returns
// false otherwise, leaving run.args empty. A text longer than
// kMaxCommandLine is refused before it is split: cut, it would be another
// argument.
bool ParseInput(run::Run& run, std::string_view commandLine);

}  // namespace zrt::app
