// The logged-on user's shell process and the token taken from it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/port/processes.h"

namespace zrt {

// The process id of the first "explorer.exe" in snapshot order, if any.
std::optional<std::uint32_t> FindSessionShell(port::Processes& processes);

// Opens the shell process (MAXIMUM_ALLOWED); null when refused.
std::unique_ptr<port::KernelHandle> OpenShellProcess(port::Processes& processes,
                                                     std::uint32_t processId);

// Opens the process's token with full access into `userToken`.
bool OpenSessionUserToken(port::Processes& processes, const port::KernelHandle* process,
                          std::unique_ptr<port::KernelHandle>& userToken);

}  // namespace zrt
