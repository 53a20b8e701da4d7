// Runs one command line as the logged-on user: hidden, on that user's
// interactive desktop, with the user's token, and waits for it to end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "run/run.h"

namespace zrt::power {

// The longest command line the runner takes, terminator included.
constexpr std::size_t kCommandCapacity = 2048;
// How long a command may run before it is ended and counted as failed.
constexpr std::uint32_t kCommandTimeLimitMs = 5 * 60 * 1000;

// True only when the command ran and ended with exit code 0. Every command
// that ran is logged with its exit code. When it did not run to its end (not
// started, refused, ended at the time limit, exit code unreadable) the
// thread's last error tells why.
bool ExecuteCMD(run::Run& run, std::string_view commandLine);

// As above; `exitCode` receives the command's exit code when it ran to its
// end, and is left empty when it did not.
bool ExecuteCMD(run::Run& run, std::string_view commandLine, std::optional<std::int32_t>& exitCode);

}  // namespace zrt::power
