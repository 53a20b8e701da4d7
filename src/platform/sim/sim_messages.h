// The system message table of the simulated machine: the English texts
// Windows gives for the common Win32 error codes.
#pragma once

#include <optional>
#include <string>

#include "platform/port/platform_types.h"

namespace zrt::sim {

// The message text of `code`, ending in CR LF as the system gives it; none
// when the table has no text for the code.
std::optional<std::string> SystemMessage(port::ErrorCode code);

}  // namespace zrt::sim
